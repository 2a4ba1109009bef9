#include <windows.h>
#include <sddl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "tool_files.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::sign_tool {
namespace {

constexpr std::size_t kMaximumKeyFileSize = 64 * 1024;

struct LocalFreeDeleter {
    void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};

// The current user's SID in string form ("S-1-5-21-...").
Result<std::wstring> current_user_sid() {
    HANDLE raw_token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return failure(win::describe_last_error());
    win::unique_handle token(raw_token);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return failure(win::describe_last_error());
    }
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        return failure(win::describe_last_error());
    }
    std::unique_ptr<wchar_t, LocalFreeDeleter> owned(text);
    return std::wstring(text);
}

using SecurityDescriptor = std::unique_ptr<void, LocalFreeDeleter>;

// Full control for the current user, nothing for anyone else, nothing inherited
// from the directory.
Result<SecurityDescriptor> owner_only_descriptor() {
    auto sid = current_user_sid();
    RETURN_IF_FAILED(sid);
    std::wstring sddl = L"D:P(A;;FA;;;" + *sid + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return failure(win::describe_last_error());
    }
    return SecurityDescriptor(descriptor);
}

}  // namespace

Result<KeyFileContent> read_key_file(const std::string& path) {
    auto file = win::open_shared(win::file_path(path), GENERIC_READ, OPEN_EXISTING);
    if (!file) return failure("Cannot open " + path + ": " + win::describe_io_error(file.error()));
    KeyFileContent content{SecretBytes(kMaximumKeyFileSize + 1), std::nullopt};
    // Read straight into the secret's own storage: no buffer is left to wipe.
    for (;;) {
        const std::span<char> room = content.bytes.unused();
        if (room.empty()) return failure(path + " is too large to be a key file.");
        DWORD count = 0;
        if (!::ReadFile(file->get(), room.data(), static_cast<DWORD>(room.size()), &count, nullptr)) {
            return failure("Cannot read " + path + ": " + win::describe_last_error());
        }
        if (count == 0) return content;
        content.bytes.grow(count);
    }
}

Status create_new_file(const std::string& path, std::string_view content, FileAccess access) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    SecurityDescriptor descriptor;
    if (access == FileAccess::owner_only) {
        auto made = owner_only_descriptor();
        if (!made) return failure("Cannot restrict " + path + " to its owner: " + made.error());
        descriptor = std::move(*made);
        attributes.lpSecurityDescriptor = descriptor.get();
    }
    const std::u16string file_path = win::file_path(path);
    win::unique_file file(
        ::CreateFileW(win::wide_c_str(file_path), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return failure("Cannot create " + path + ": " + win::describe_last_error());
    if (auto written = win::write_all(file.get(), content); !written) {
        file.reset();
        ::DeleteFileW(win::wide_c_str(file_path));
        return failure("Cannot write " + path + ": " + win::describe_io_error(written.error()));
    }
    return {};
}

void remove_created_file(const std::string& path) { ::DeleteFileW(win::wide_c_str(win::file_path(path))); }

void use_binary_standard_output() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace vostrane::sign_tool
