// The package the helper checked is the one it installs or deletes: a folder
// link or a folder changed during the wait, a file swapped before its deletion,
// and paths that could add arguments to the installer's command line.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "in_process_run.hpp"
#include "win/file_io.hpp"

namespace vostrane::testing {
namespace {

// A Linux symbolic link for the length of a test; Wine follows it like a
// junction or a directory link on Windows.
class UnixSymlink {
public:
    UnixSymlink(std::filesystem::path link, const std::filesystem::path& target) : link_(std::move(link)) {
        point_unix_symlink(link_, target);
    }
    ~UnixSymlink() {
        try {
            remove_unix_symlink(link_);
        } catch (const std::exception& error) {
            ADD_FAILURE() << "the link " << utf8(link_) << " was left: " << error.what();
        }
    }
    UnixSymlink(const UnixSymlink&) = delete;
    UnixSymlink& operator=(const UnixSymlink&) = delete;
    void point_to(const std::filesystem::path& target) const { point_unix_symlink(link_, target); }

private:
    std::filesystem::path link_;
};

// The verified package moved into a folder of its own, named through `folder`.
void move_package_into(VerifiedRun& run, const std::filesystem::path& real_folder, const std::filesystem::path& folder) {
    std::filesystem::create_directories(real_folder);
    const std::string bytes = read_file(run.files.msi);
    std::filesystem::rename(run.files.msi, real_folder / L"update.msi");
    run.files.msi = folder / L"update.msi";
    run.arguments = arguments_for(run.files, signed_options(bytes, "1.0.0"));
}

TEST(CheckedPackage, FolderLinkPointedElsewhereDuringTheWaitStillInstallsTheCheckedFile) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    FakeSystemRoot windows;
    VerifiedRun run;
    const auto checked = run.dir / L"checked";
    const auto other = run.dir / L"other";
    std::filesystem::create_directories(other);
    write_file(other / L"update.msi", "another package");
    std::filesystem::create_directories(checked);
    const UnixSymlink downloads(run.dir / L"downloads", checked);
    move_package_into(run, checked, run.dir / L"downloads");
    WorldWithAFault world(WorldWithAFault::Before::wait, [&] {
        downloads.point_to(other);
        EXPECT_EQ(read_file(run.files.msi), "another package") << "the link still leads to the checked package";
    });

    const InProcessRun helper = run_in_process(run.arguments, world);
    EXPECT_EQ(helper.exit_code, 0u) << helper.standard_error;
    EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
    const auto records = windows.records(2);
    ASSERT_EQ(records.size(), 2u);
    // The installer is given the checked file's own place, not the link.
    RunFiles installed = run.files;
    installed.msi = checked / L"update.msi";
    EXPECT_EQ(records[0].command_line, installer_command_line(installed, utf8(windows.installer())));
    EXPECT_EQ(read_file(other / L"update.msi"), "another package");
}

// The option text and the final path are compared as the file system compares
// names: a path that differs from the file's name in letter case alone is
// already the final path, and the installer gets it as given.
TEST(CheckedPackage, PathDifferingFromTheFileNameInLetterCaseAloneReachesTheInstallerUnchanged) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    FakeSystemRoot windows;
    VerifiedRun run;
    const std::string bytes = read_file(run.files.msi);
    run.files.msi = run.dir / L"Update.MSI";  // the file is update.msi
    run.arguments = arguments_for(run.files, signed_options(bytes, "1.0.0"));

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 0u) << helper.standard_error;
    EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
    const auto records = windows.records(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].command_line, run.installer_command_line(utf8(windows.installer())));
    EXPECT_NE(records[0].command_line.find("\\Update.MSI "), std::string::npos) << records[0].command_line;
}

// The package's folder renamed and another package put at the same path:
// during the wait, or before msi.dll reads the package's tables (msi.dll opens
// it by name, and must never parse bytes nobody signed). Nothing is installed
// and the file that was never checked is kept.
TEST(CheckedPackage, FolderReplacedDuringTheWaitOrBeforeTheInspectionInstallsNothingAndDeletesNothing) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    struct Case {
        const char* name;
        WorldWithAFault::Before when;
        std::vector<std::string> lines_before_the_rejection;
    };
    const std::vector<Case> cases = {
        {"during the wait", WorldWithAFault::Before::wait,
         {"Vostrane native updater started.", "The previous process has already exited."}},
        {"before the inspection", WorldWithAFault::Before::check_contents, {"Vostrane native updater started."}},
    };
    constexpr std::string_view message = "The update package was replaced after it was checked.";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystemRoot windows;
        VerifiedRun run;
        const auto downloads = run.dir / L"downloads";
        move_package_into(run, downloads, downloads);
        // Wine lets a folder be renamed while a file in it is open; Windows refuses.
        WorldWithAFault world(c.when, [&] {
            std::filesystem::rename(downloads, run.dir / L"moved");
            std::filesystem::create_directories(downloads);
            write_file(run.files.msi, "another package");
        });

        const InProcessRun helper = run_in_process(run.arguments, world);
        EXPECT_EQ(helper.exit_code, 1603u);
        EXPECT_EQ(helper.standard_error, "");
        EXPECT_EQ(read_file(run.files.result),
                  R"({"status":"error","exitCode":1603,"message":")" + std::string(message) + R"("})");
        std::vector<std::string> lines = log_messages(run.files.log);
        ASSERT_EQ(lines.size(), c.lines_before_the_rejection.size() + 2);
        EXPECT_TRUE(is_restart_line(lines.back(), utf8(windows.shell()))) << lines.back();
        lines.pop_back();
        std::vector<std::string> expected = c.lines_before_the_rejection;
        expected.push_back("Package verification failed: " + std::string(message));
        EXPECT_EQ(lines, expected);
        const auto records = windows.records(1);
        ASSERT_EQ(records.size(), 1u) << "the shell ran, the installer did not";
        EXPECT_TRUE(records[0].command_line.starts_with("\"" + utf8(windows.shell()) + "\""));
        EXPECT_EQ(read_file(run.files.msi), "another package") << "a file that was never checked is not deleted";
        EXPECT_TRUE(std::filesystem::exists(run.dir / L"moved\\update.msi"));
    }
}

TEST(CheckedPackage, PackageSwappedBeforeItsDeletionIsNotDeleted) {
    FakeSystemRoot windows;
    VerifiedRun run;
    option_value(run.arguments, L"--expected-sha256") = std::wstring(64, L'0');  // rejected after its digest
    write_file(run.dir / L"other.msi", "another file");
    WorldWithAFault world(WorldWithAFault::Before::delete_package, [&] {
        std::filesystem::rename(run.files.msi, run.dir / L"checked.msi");
        std::filesystem::rename(run.dir / L"other.msi", run.files.msi);
    });

    const InProcessRun helper = run_in_process(run.arguments, world);
    EXPECT_EQ(helper.exit_code, 1603u);
    EXPECT_EQ(read_file(run.files.result),
              R"({"status":"error","exitCode":1603,"message":"Update package SHA-256 verification failed."})");
    EXPECT_EQ(read_file(run.files.msi), "another file");
    EXPECT_TRUE(std::filesystem::exists(run.dir / L"checked.msi"));
}

// '"' and control characters cannot occur in a Windows path; a value holding
// one could end its argument early and add others, such as a public property
// that changes what an elevated installation does.
TEST(CheckedPackage, PathsThatCouldAddArgumentsToAChildEndTheRunBeforeAnything) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    struct Case {
        std::wstring option;
        std::wstring suffix;
        std::string message;
    };
    const std::vector<Case> cases = {
        {L"--install-dir", L"\" INJECTED=yes \"x", "--install-dir must not contain a double quote or a control character."},
        {L"--install-dir", L"\\\" INJECTED=yes", "--install-dir must not contain a double quote or a control character."},
        {L"--msi-log-path", L".log\" TRANSFORMS=evil.mst", "--msi-log-path must not contain a double quote or a control character."},
        {L"--msi-path", L"\" /qn \"", "--msi-path must not contain a double quote or a control character."},
        {L"--app-path", L"\n/select", "--app-path must not contain a double quote or a control character."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeSystemRoot windows;
        VerifiedRun run;
        option_value(run.arguments, c.option) += c.suffix;
        write_file(run.files.result, "earlier result");

        const InProcessRun helper = run_in_process(run.arguments);
        EXPECT_EQ(helper.exit_code, 1603u);
        EXPECT_EQ(helper.standard_error, c.message + "\n");
        EXPECT_FALSE(std::filesystem::exists(run.files.log));
        EXPECT_EQ(read_file(run.files.result), "earlier result");
        ::Sleep(300);  // time enough for a wrongly started installer to leave its record
        EXPECT_TRUE(windows.records(0).empty()) << windows.records(0).front().command_line;
    }
}

// A share or a network drive need not honour the lock and may serve the
// installer other bytes than were checked: a package there is refused, and kept.
TEST(CheckedPackage, PackageOnANetworkDriveIsRefusedAndKept) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    ASSERT_EQ(::GetDriveTypeW(L"N:\\"), static_cast<UINT>(DRIVE_REMOTE))
        << "scripts/setup makes N: a network drive of the project's Wine prefix";
    FakeSystemRoot windows;
    VerifiedRun run;
    const std::filesystem::path on_network = std::filesystem::path(L"N:\\") / run.dir.path().filename();
    std::filesystem::create_directories(on_network);
    const std::string bytes = read_file(run.files.msi);
    run.files.msi = on_network / L"update.msi";
    write_file(run.files.msi, bytes);
    run.arguments = arguments_for(run.files, signed_options(bytes, "1.0.0"));

    const InProcessRun helper = run_in_process(run.arguments);
    const bool kept = std::filesystem::exists(run.files.msi);
    std::error_code ignored;
    std::filesystem::remove_all(on_network, ignored);
    EXPECT_EQ(helper.exit_code, 1603u);
    EXPECT_EQ(read_file(run.files.result),
              R"({"status":"error","exitCode":1603,"message":"The update package must be on a local disk."})");
    EXPECT_TRUE(kept) << "a package that was never checked is not deleted";
    const auto records = windows.records(1);
    ASSERT_EQ(records.size(), 1u) << "the shell ran, the installer did not";
    EXPECT_TRUE(records[0].command_line.starts_with("\"" + utf8(windows.shell()) + "\""));
}

// The identity of a file is its volume's serial number with its id there: two
// files of the same index on two volumes are two files. Wine gives each drive
// letter a serial of its own, so the serial can be compared with the volume's.
TEST(CheckedPackage, FileIdentityCarriesTheVolumeSerialNumber) {
    TempDir dir;
    const auto file = dir / L"identified.msi";
    write_file(file, "bytes");
    const auto opened = win::open_shared(u16(file), FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    ASSERT_TRUE(opened);
    const auto identity = win::file_identity(opened->get());
    ASSERT_TRUE(identity);

    const std::wstring root = file.root_name().wstring() + L"\\";
    DWORD serial = 0;
    ASSERT_TRUE(::GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(identity->volume_serial), serial) << "the low 32 bits are the volume's serial";
    EXPECT_NE(identity->file_id, (std::array<std::uint8_t, 16>{})) << "the file has an id";
}

}  // namespace
}  // namespace vostrane::testing
