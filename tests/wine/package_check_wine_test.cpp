// The package checks against real Windows files: the MSI type check, and the
// streaming digest with its read-only, fully shared open.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "helper_process.hpp"
#include "test_signing.hpp"
#include "unicode.hpp"
#include "update_security/package_check.hpp"
#include "update_security/package_lock.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

class PackageCheckWine : public ::testing::Test {
protected:
    const std::filesystem::path& directory() const { return temp_.path(); }

    std::string path_of(const std::string& name) const { return (directory() / name).string(); }

    std::string write_file(const std::string& name, const std::string& content) {
        testing::write_file(directory() / name, content);
        return path_of(name);
    }

private:
    testing::TempDir temp_;
};

TEST_F(PackageCheckWine, MsiCheckNeedsAnExistingRegularFileNamedMsi) {
    write_file("update.MSI", "any content");
    write_file("notes.msi", "plain text, not a compound document");
    write_file("archive.tar.msi", "");
    write_file("update.msi.tmp", "");
    write_file(".msi", "");
    write_file("setup.msix", "");
    std::filesystem::create_directory(directory() / "pkg.msi");

    struct Case {
        std::string path;
        bool is_msi;
    };
    const Case cases[] = {
        {path_of("update.MSI"), true},
        {path_of("notes.msi"), true},
        {path_of("archive.tar.msi"), true},
        {(directory() / "pkg.msi" / ".." / "notes.msi").string(), true},
        {path_of("update.msi.tmp"), false},
        {path_of(".msi"), false},
        {path_of("setup.msix"), false},
        {path_of("pkg.msi"), false},
        {path_of("missing.msi"), false},
        {(directory() / "missing" / "update.msi").string(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_msi_package(c.path), c.is_msi) << c.path;
}

TEST_F(PackageCheckWine, DigestsWholeFilesOfAnySize) {
    for (std::size_t size : {0u, 64u, 65536u, 65537u, 300000u}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 31 + i / 251);
        std::string path = write_file("package-" + std::to_string(size) + ".msi", content);
        auto digest = compute_package_digest(path);
        ASSERT_TRUE(digest.has_value()) << digest.error();
        EXPECT_EQ(*digest, testing::sha256_hex(content)) << size;
    }
    EXPECT_EQ(compute_package_digest(write_file("empty.msi", "")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(PackageCheckWine, DigestOfAMissingFileIsTheSystemsError) {
    auto digest = compute_package_digest(path_of("missing.msi"));
    ASSERT_FALSE(digest.has_value());
    EXPECT_EQ(digest.error(), win::system_message(ERROR_FILE_NOT_FOUND) + " (os error 2)");
}

// Whoever may change the file while it is read (or refuses readers) makes the
// digest fail with the sharing violation; plain readers are welcome.
TEST_F(PackageCheckWine, FileHeldByAWriterOrWithoutReadSharingPassesTheTypeCheckButNotTheDigest) {
    struct Holder {
        const char* name;
        DWORD access;
        DWORD sharing;
        bool digest_fails;
    };
    const Holder holders[] = {
        {"no sharing", GENERIC_READ | GENERIC_WRITE, 0, true},
        {"writer sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        {"deleter sharing everything", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        {"reader sharing reads only", GENERIC_READ, FILE_SHARE_READ, false},
        {"reader sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
    };
    for (const Holder& h : holders) {
        SCOPED_TRACE(h.name);
        std::string path = write_file("held.msi", "package bytes");
        std::wstring wide = (directory() / "held.msi").wstring();
        win::unique_file holder(::CreateFileW(wide.c_str(), h.access, h.sharing, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.valid());

        EXPECT_TRUE(is_msi_package(path));
        auto digest = compute_package_digest(path);
        if (h.digest_fails) {
            ASSERT_FALSE(digest.has_value());
            EXPECT_EQ(digest.error(), win::system_message(ERROR_SHARING_VIOLATION) + " (os error 32)");
        } else {
            EXPECT_EQ(digest, testing::sha256_hex("package bytes"));
        }
        holder.reset();
        EXPECT_EQ(compute_package_digest(path), testing::sha256_hex("package bytes"));
    }
}

TEST_F(PackageCheckWine, LockedPackageRefusesWritersDeletersAndRenamesButNotReaders) {
    std::string path = write_file("locked.msi", "package bytes");
    const std::wstring wide = (directory() / "locked.msi").wstring();
    const std::wstring moved = wide + L".moved";
    auto lock = LockedPackageFile::lock(utf8_to_utf16(path));
    ASSERT_TRUE(lock.has_value()) << lock.error();
    EXPECT_EQ(compute_package_digest(lock->handle()), testing::sha256_hex("package bytes"));

    const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    win::unique_file writer(::CreateFileW(wide.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.valid());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(wide.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::MoveFileW(wide.c_str(), moved.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    win::unique_file reader(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader.valid());
    reader.reset();

    // The handle is not handed down to children.
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(lock->handle(), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);

    lock->release();
    EXPECT_TRUE(::MoveFileW(wide.c_str(), moved.c_str()));
}

TEST_F(PackageCheckWine, DigestLeavesTheFileFreeForOthers) {
    std::string path = write_file("shared.msi", "package bytes");
    ASSERT_TRUE(compute_package_digest(path).has_value());
    // Closed on return: an exclusive open and a delete both succeed.
    std::wstring wide = (directory() / "shared.msi").wstring();
    win::unique_file exclusive(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive.valid());
    exclusive.reset();
    EXPECT_TRUE(::DeleteFileW(wide.c_str()));
}

}  // namespace
}  // namespace vostrane
