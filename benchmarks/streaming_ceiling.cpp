// The streaming ceiling of a package digest: read() through one 64 KiB buffer
// into OpenSSL's SHA-256, nothing else; prints the digest as sha256sum does.
// With --read-only it makes the same reads and hashes nothing, which shows
// what copying the file out of the page cache costs.
//
// Usage: streaming-ceiling [--read-only] FILE
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool read_only = argc == 3 && std::strcmp(argv[1], "--read-only") == 0;
    if (argc != 2 && !read_only) {
        std::fputs("usage: streaming-ceiling [--read-only] FILE\n", stderr);
        return 2;
    }
    const char* path = argv[argc - 1];
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        std::perror(path);
        return 1;
    }
    alignas(64) static unsigned char buffer[65536];
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) return 1;
    unsigned long long total = 0;
    for (;;) {
        const ssize_t read = ::read(file, buffer, sizeof buffer);
        if (read < 0) {
            if (errno == EINTR) continue;
            std::perror(path);
            return 1;
        }
        if (read == 0) break;
        total += static_cast<unsigned long long>(read);
        if (!read_only && EVP_DigestUpdate(context, buffer, static_cast<std::size_t>(read)) != 1) return 1;
    }
    ::close(file);
    if (read_only) {
        std::printf("%llu bytes read\n", total);
    } else {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(context, digest, &size) != 1) return 1;
        for (unsigned int i = 0; i < size; ++i) std::printf("%02x", digest[i]);
        std::printf("  %s\n", path);
    }
    EVP_MD_CTX_free(context);
    return 0;
}
