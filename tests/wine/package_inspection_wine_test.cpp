// The helper reads the locked, signed package through Windows Installer's
// msi.dll and refuses one that would take files from beside it: a cabinet that
// is not embedded, files that are not compressed, or authoring that copies,
// runs or names anything in the folder the package was started from.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "in_process_run.hpp"
#include "process/child_process.hpp"
#include "update_security/msi_database.hpp"
#include "update_security/msi_library_windows.hpp"
#include "update_security/package_lock.hpp"
#include "windows_update_world.hpp"

namespace vostrane::testing {
namespace {

constexpr std::string_view kOutsideFiles = "The update package refers to files outside itself.";
constexpr std::string_view kNotAnMsi = "The downloaded update package is not a valid MSI file.";
constexpr std::string_view kNotSignedVersion = "The update package is not the version that was signed.";

// A case's package: a built one by name, or, for no name, bytes that are no database.
std::string package_bytes(const std::wstring& name) {
    return name.empty() ? std::string(70000, 'p') : read_file(built_package(name));
}

// The error another process gets when it opens the package for writing,
// sharing it fully.
DWORD writer_error(const std::filesystem::path& package) {
    const win::unique_file writer =
        open_as_other_writer(package, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    return writer.valid() ? ERROR_SUCCESS : ::GetLastError();
}

TEST(InspectedPackage, WindowsInstallerReadsTheLockedPackageAndTheLockStillRefusesWriters) {
    TempDir dir;
    const auto package = dir / L"update.msi";
    std::filesystem::copy_file(built_package(L"sample-app-2"), package);
    auto lock = LockedPackageFile::lock(u16(package));
    ASSERT_TRUE(lock) << lock.error();
    {
        auto database = open_msi_database(lock->installer_path());
        ASSERT_TRUE(database) << database.error();
        static constexpr std::array<std::string_view, 2> kMedia = {"DiskId", "Cabinet"};
        const auto media = (*database)->rows("Media", kMedia);
        ASSERT_TRUE(media) << media.error();
        EXPECT_EQ(*media, (std::vector<MsiRow>{{"1", "#sample.cab"}}));
        EXPECT_EQ(writer_error(package), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "while msi.dll reads it";
    }
    NothingRegistered nothing_registered;
    SharedMsiLibrary msi;
    const auto checked = lock->check_contents("2.0.0", msi, nothing_registered);
    EXPECT_TRUE(checked) << checked.error();

    // msi.dll has let go; the lock has not.
    EXPECT_EQ(writer_error(package), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(package.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    lock->release();
    EXPECT_EQ(writer_error(package), static_cast<DWORD>(ERROR_SUCCESS));
}

// The packages are version 2.0.0; the version is what was signed.
TEST(InspectedPackage, TheLockedPackagesOwnTablesDecide) {
    struct Case {
        std::wstring name;
        std::string_view signed_version, refusal;
    };
    const std::vector<Case> cases = {
        {L"sample-app-2", "2.0.0", ""},
        {L"sample-app-2", "2.0.0.9", ""},  // Windows Installer compares three fields
        {L"sample-app-2", "2.0.1", kNotSignedVersion},
        {L"sample-app-2", "1.0.0", kNotSignedVersion},
        {L"sample-app-2", "v2.0.1", ""},  // not a version: left to the publisher
        {L"sample-app-2-per-machine", "2.0.0", ""},
        {L"sample-app-2-no-installdir", "2.0.0", ""},  // the signing tool's error, not the helper's
        {L"sample-app-2-external-cabinet", "2.0.0", kOutsideFiles},
        {L"sample-app-2-uncompressed", "2.0.0", kOutsideFiles},
        {L"sample-app-2-move-file", "2.0.0", kOutsideFiles},
        {L"sample-app-2-source-program", "2.0.0", kOutsideFiles},
        {L"sample-app-2-source-property", "2.0.0", kOutsideFiles},
        {L"sample-app-2-source-registry", "2.0.0", kOutsideFiles},
        {L"sample-app-2-nested-install", "2.0.0", kOutsideFiles},
        {L"sample-app-2-installed-folders", "2.0.0", ""},
        {L"sample-app-2-move-file-nested", "2.0.0", kOutsideFiles},
        {L"sample-app-2-move-file-pieces", "2.0.0", kOutsideFiles},
        {L"sample-app-2-move-file-environment", "2.0.0", kOutsideFiles},
        {L"sample-app-2-nested-program", "2.0.0", kOutsideFiles},
        {L"sample-app-2-environment-program", "2.0.0", kOutsideFiles},
        {L"sample-app-2-machine-search-program", "2.0.0", kOutsideFiles},
        {L"sample-app-2-three-pieces", "2.0.0", kOutsideFiles},
        {L"sample-app-2-escaped-name", "2.0.0", kOutsideFiles},
        {L"sample-app-2-second-pass", "2.0.0", kOutsideFiles},
        {L"sample-app-2-option-bits-property", "2.0.0", kOutsideFiles},
        {L"sample-app-2-option-bits-nested-install", "2.0.0", kOutsideFiles},
        {L"sample-app-2-second-reference-registry", "2.0.0", kOutsideFiles},
        {L"sample-app-2-second-reference-program", "2.0.0", kOutsideFiles},
        {L"sample-app-2-per-machine-profile-script", "2.0.0", kOutsideFiles},
        {L"sample-app-2-package-programs", "2.0.0", ""},
        {L"", "2.0.0", kNotAnMsi},
    };
    for (const auto& [name, signed_version, refusal] : cases) {
        SCOPED_TRACE(utf8(name) + " signed as " + std::string(signed_version));
        TempDir dir;
        const auto package = dir / L"update.msi";
        write_file(package, package_bytes(name));
        auto lock = LockedPackageFile::lock(u16(package));
        ASSERT_TRUE(lock) << lock.error();
        NothingRegistered nothing_registered;
        SharedMsiLibrary msi;
        const auto checked = lock->check_contents(signed_version, msi, nothing_registered);
        EXPECT_EQ(checked ? std::string() : checked.error(), refusal);
    }
}

// msi.dll opens the package by name, so the name must still lead to the locked
// file. Windows refuses to rename a folder while a file below it is open;
// Wine does not, which lets this test put a clean package of the same name in
// place of the checked one's folder, as a process of the same user would try.
TEST(InspectedPackage, ANameThatNoLongerLeadsToTheLockedFileIsNotTakenForIt) {
    TempDir dir;
    const auto folder = dir / L"downloads";
    std::filesystem::create_directories(folder);
    const auto package = folder / L"update.msi";
    write_file(package, package_bytes(L"sample-app-2-external-cabinet"));
    auto lock = LockedPackageFile::lock(u16(package));
    ASSERT_TRUE(lock) << lock.error();

    std::filesystem::rename(folder, dir / L"moved");
    std::filesystem::create_directories(folder);
    write_file(package, package_bytes(L"sample-app-2"));
    NothingRegistered nothing_registered;
    SharedMsiLibrary msi;
    const auto checked = lock->check_contents("2.0.0", msi, nothing_registered);
    EXPECT_EQ(checked ? std::string() : checked.error(), "The update package was replaced after it was checked.");
}

// A signed package is rejected after its signature, deleted, reported, and
// Windows Installer never starts: only the shell's record is written. The
// version mismatch is no mistake of the signature: both name 2.0.0.
TEST(InspectedPackage, SignedPackageThatItsTablesRefuseIsRejectedDeletedAndNeverInstalled) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    struct Case {
        std::wstring name;
        std::string signed_version;
        std::string_view message;
    };
    const std::vector<Case> cases = {
        {L"sample-app-2-external-cabinet", "2.0.0", kOutsideFiles},
        {L"sample-app-2-uncompressed", "2.0.0", kOutsideFiles},
        {L"", "2.0.0", kNotAnMsi},
        // ProductVersion 1.0.0, signed and expected as 2.0.0.
        {L"stand-in-app", "2.0.0", kNotSignedVersion},
    };
    for (const auto& [name, signed_version, message] : cases) {
        SCOPED_TRACE(utf8(name));
        FakeSystemRoot windows;
        VerifiedRun run;
        const std::string bytes = package_bytes(name);
        write_file(run.files.msi, bytes);
        // What Windows Installer would read from beside the package.
        write_file(run.files.msi.parent_path() / L"sample.cab", "a cabinet nobody signed");
        write_file(run.files.msi.parent_path() / L"version.txt", "9.9.9");
        RunOptions options = signed_options(bytes, signed_version);
        options.version = widen(signed_version);
        run.arguments = arguments_for(run.files, options);

        const InProcessRun helper = run_in_process(run.arguments);
        EXPECT_EQ(helper.exit_code, 1603u);
        EXPECT_EQ(helper.standard_error, "");
        EXPECT_EQ(read_file(run.files.result),
                  R"({"status":"error","exitCode":1603,"message":")" + std::string(message) + R"("})");
        const auto lines = log_messages(run.files.log);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "Vostrane native updater started.");
        EXPECT_EQ(lines[1], "Package verification failed: " + std::string(message));
        EXPECT_TRUE(is_restart_line(lines[2], utf8(windows.shell()))) << lines[2];
        EXPECT_FALSE(std::filesystem::exists(run.files.msi)) << "the rejected package is deleted";
        const auto records = windows.records(1);
        ASSERT_EQ(records.size(), 1u) << "the shell ran, the installer did not";
        EXPECT_TRUE(records[0].command_line.starts_with("\"" + utf8(windows.shell()) + "\""));
        ::Sleep(300);  // time enough for a wrongly started installer to leave its record
        EXPECT_EQ(windows.records(1).size(), 1u);
    }
}

// The reviewed attacks, with Wine's real Windows Installer and shell: a
// signed package whose MoveFile row copies *.dll from its own folder, named
// directly or through a property that formatted text builds ([[Q]] with Q
// the escaped [\S]ourceDir, [[A][B]] with A=Source and B=Dir), and a
// version.dll put there. The helper rejects each after the signature, before
// the wait, and Windows Installer never starts, so the DLL goes nowhere.
TEST(InspectedPackage, SignedPackageThatCopiesFilesFromItsFolderIsRejectedAndWindowsInstallerNeverStarts) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    for (const wchar_t* variant :
         {L"sample-app-2-move-file", L"sample-app-2-move-file-nested", L"sample-app-2-move-file-pieces"}) {
        SCOPED_TRACE(utf8(variant));
        TempDir dir;
        RunFiles files = files_in(dir);
        files.install_dir = dir / L"Sample App";
        files.app = files.install_dir / L"app.exe";
        const auto package = built_package(variant);
        const std::string bytes = read_file(package);
        write_file(files.msi, bytes);
        write_file(files.msi.parent_path() / L"version.dll", "a DLL nobody signed");
        RunOptions options = signed_options(bytes, "2.0.0");
        options.version = L"2.0.0";

        const HelperRun run = run_helper(arguments_for(files, options));
        // Seen before an uninstallation would remove them again.
        const bool dll_copied = std::filesystem::exists(files.install_dir / L"version.dll");
        const bool installed = std::filesystem::exists(files.install_dir / L"version.txt");
        if (installed) {
            // Installed after all: leave the shared Wine prefix as it was.
            (void)run_to_exit({u"C:\\windows\\system32\\msiexec.exe", {u"/x", u16(package), u"/passive"}, std::nullopt});
        }
        EXPECT_EQ(run.exit_code, 1603u);
        EXPECT_EQ(run.standard_error, "");
        EXPECT_EQ(read_file(files.result),
                  R"({"status":"error","exitCode":1603,"message":")" + std::string(kOutsideFiles) + R"("})");
        EXPECT_FALSE(dll_copied) << "the planted DLL was copied";
        EXPECT_FALSE(installed) << "the package was installed";
        EXPECT_FALSE(std::filesystem::exists(files.msi_log)) << "Windows Installer ran";
        EXPECT_FALSE(std::filesystem::exists(files.msi)) << "the rejected package is deleted";
        const auto lines = log_messages(files.log);
        EXPECT_EQ(lines.size(), 3u);
        if (lines.size() != 3) continue;
        EXPECT_EQ(lines[1], "Package verification failed: " + std::string(kOutsideFiles));
        EXPECT_TRUE(lines[2].starts_with("Application restart ") || lines[2].starts_with("The application executable"))
            << lines[2];
    }
}

// Loading msi.dll costs more than all the helper asks of it: one loading
// serves the run, from the package's reading to the confirmation after the
// installer (this test process imports msi.dll itself, so only the loadings
// can be counted, not the library's presence).
TEST(InspectedPackage, OneLoadingOfMsiDllServesTheRunFromTheReadingToTheConfirmation) {
    TempDir dir;
    const auto package = dir / L"update.msi";
    std::filesystem::copy_file(built_package(L"sample-app-2"), package);
    const std::size_t before = MsiLibrary::loads_so_far();
    WindowsUpdateWorld world;
    auto locked = world.lock_package(u16(package));
    ASSERT_TRUE(locked) << locked.error();
    EXPECT_EQ(MsiLibrary::loads_so_far(), before) << "the lock alone does not load it";
    const auto checked = (*locked)->check_contents("2.0.0");
    // Whether an earlier test left the product registered is not this test's
    // matter; either answer needs the package read and Windows Installer asked.
    ASSERT_TRUE(checked || checked.error() == kPackageAlreadyInstalled) << checked.error();
    EXPECT_EQ(MsiLibrary::loads_so_far(), before + 1) << "one loading for the reading and the first questions";
    (*locked)->release();
    (void)(*locked)->confirm_installed();
    EXPECT_EQ(MsiLibrary::loads_so_far(), before + 1) << "and still the same one for the confirmation";
}

}  // namespace
}  // namespace vostrane::testing
