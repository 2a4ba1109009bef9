// A real update under Wine: the helper exe as the application starts it, a
// signed MSI made by wixl, the stand-in application as the parent, Wine's own
// Windows Installer and shell. While the helper waits, another process tries
// to change the verified package.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>

#include "process/child_process.hpp"
#include "in_process_run.hpp"
#include "run_fixture.hpp"
#include "unicode.hpp"
#include "update_security/installed_product.hpp"
#include "update_security/msi_database.hpp"
#include "update_folder.hpp"
#include "test_signing.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::testing {
namespace {

std::filesystem::path sample_package(int major) { return built_package(L"sample-app-" + std::to_wstring(major)); }

// Windows Installer run directly by the test, on the same terms as the helper.
std::uint32_t msiexec(std::vector<std::u16string> arguments) {
    const auto exit_code = run_to_exit({u"C:\\windows\\system32\\msiexec.exe", std::move(arguments), std::nullopt});
    EXPECT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
    return exit_code.value_or(~0u);
}

// A sample package's versions are removed before and after, so that no run of
// the suite depends on what an earlier one left in the Wine prefix.
class PackagesUninstalled {
public:
    explicit PackagesUninstalled(std::filesystem::path (*package)(int major)) : package_(package) { uninstall(); }
    ~PackagesUninstalled() { uninstall(); }
    PackagesUninstalled(const PackagesUninstalled&) = delete;
    PackagesUninstalled& operator=(const PackagesUninstalled&) = delete;

private:
    void uninstall() const {
        for (int major : {2, 1}) msiexec({u"/x", u16(package_(major)), u"/passive", u"/norestart"});
    }
    std::filesystem::path (*package_)(int major);
};

struct SampleAppUninstalled : PackagesUninstalled {
    SampleAppUninstalled() : PackagesUninstalled(sample_package) {}
};

// The error a second process gets for each attempt to change the package.
struct ChangeAttempts {
    DWORD write, remove, rename;
};

DWORD error_of(bool succeeded) { return succeeded ? ERROR_SUCCESS : ::GetLastError(); }

ChangeAttempts try_to_change(const std::filesystem::path& package) {
    ChangeAttempts attempts{};
    {
        win::unique_file writer(::CreateFileW(package.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        attempts.write = error_of(writer.valid());
    }
    attempts.remove = error_of(::DeleteFileW(package.c_str()));
    const std::wstring moved = package.wstring() + L".moved";
    attempts.rename = error_of(::MoveFileW(package.c_str(), moved.c_str()));
    if (attempts.rename == ERROR_SUCCESS) ::MoveFileW(moved.c_str(), package.c_str());
    return attempts;
}

bool readable_with_read_sharing(const std::filesystem::path& package) {
    win::unique_file reader(::CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    return reader.valid();
}

bool log_has_line(const std::filesystem::path& log, std::string_view prefix) {
    const auto lines = parse_log(read_file(log));
    if (!lines) return false;
    for (const auto& line : *lines) {
        if (line.starts_with(prefix)) return true;
    }
    return false;
}

// The stand-in application, left running for `milliseconds`: the parent the helper waits for.
win::unique_handle start_application(unsigned milliseconds) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command_line = L"stand-in-application.exe " + std::to_wstring(milliseconds);
    if (!::CreateProcessW(build_file(L"stand-in-application.exe").c_str(), command_line.data(), nullptr, nullptr,
                          FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start the stand-in application";
        return {};
    }
    ::CloseHandle(process.hThread);
    return win::unique_handle(process.hProcess);
}

// Whether the helper got as far as waiting for the application, within a few seconds.
bool helper_is_waiting(const std::filesystem::path& log) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (log_has_line(log, "Waiting for process ")) return true;
        ::Sleep(20);
    }
    return false;
}

TEST(RealUpdate, VerifiedPackageStaysLockedThroughTheWaitAndWindowsInstallerInstallsIt) {
    if (!build_embeds_development_key()) {
        GTEST_SKIP() << "this build embeds a publisher key; packages signed here with the development key cannot pass";
    }
    SampleAppUninstalled clean_prefix;
    TempDir dir;
    RunFiles files = files_in(dir);
    files.install_dir = dir / L"Sample App";
    files.app = files.install_dir / L"app.exe";

    // Version 1 is installed, and the application is a real program (the shell opens it).
    ASSERT_EQ(msiexec({u"/i", u16(sample_package(1)), u"/passive", u"/norestart",
                       u"INSTALLDIR=" + u16(files.install_dir)}),
              0u);
    ASSERT_EQ(read_file(files.install_dir / L"version.txt"), "1.0.0");
    std::filesystem::copy_file(build_file(L"stand-in-application.exe"), files.app);

    // Version 2 downloaded and signed; the application still runs for a while.
    std::filesystem::copy_file(sample_package(2), files.msi);
    RunOptions options = signed_options(read_file(files.msi), "2.0.0");
    options.version = L"2.0.0";
    const win::unique_handle application = start_application(8000);
    ASSERT_TRUE(application);
    options.parent_process_id = std::to_wstring(::GetProcessId(application.get()));
    write_file(files.result, "earlier result");

    StartedProgram helper = start_helper(arguments_for(files, options), dir / L"standard-error.txt");
    ASSERT_TRUE(helper_is_waiting(files.log)) << read_file(files.log);

    // The helper is waiting, holding the package: nobody may change it, anyone may read it.
    const ChangeAttempts refused = try_to_change(files.msi);
    EXPECT_EQ(refused.write, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(refused.remove, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(refused.rename, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(readable_with_read_sharing(files.msi));
    EXPECT_EQ(::WaitForSingleObject(application.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the attempts were made while the helper waited";

    const HelperRun run = helper.wait();
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(read_file(files.result), R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_EQ(read_file(files.install_dir / L"version.txt"), "2.0.0");
    EXPECT_GT(std::filesystem::file_size(files.msi_log), 0u) << "the installer's verbose log";

    const auto lines = log_messages(files.log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Vostrane native updater started.");
    EXPECT_EQ(lines[1], "Waiting for process " + std::to_string(::GetProcessId(application.get())) + " to exit.");
    EXPECT_EQ(lines[2], "Starting Windows Installer.");
    EXPECT_EQ(lines[3], "Windows Installer exited with code 0.");
    EXPECT_TRUE(lines[4].starts_with("Application restart requested through C:\\windows\\explorer.exe with process id "))
        << lines[4];

    // The helper has let go: the package is the caller's again.
    const ChangeAttempts allowed = try_to_change(files.msi);
    EXPECT_EQ(allowed.write, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(allowed.remove, static_cast<DWORD>(ERROR_SUCCESS));
}

std::filesystem::path guide_package(int major) {
    return build_file(L"packages\\guide-" + std::to_wstring(major) + L".msi");
}

struct GuideSampleUninstalled : PackagesUninstalled {
    GuideSampleUninstalled() : PackagesUninstalled(guide_package) {}
};

// The guide's sample as the guide says: it installs where the helper says even
// though it remembers another folder (VOSTRANE_INSTALLDIR_LOCK), where a plain
// install goes to the remembered folder; and its major upgrade refuses the
// older signed package once the newer one is installed.
TEST(RealUpdate, PublishingGuideSampleInstallsWhereTheHelperSaysAndRefusesADowngrade) {
    if (!build_embeds_development_key()) GTEST_SKIP() << "this build embeds a publisher key";
    TempDir dir;
    const auto remembered = dir / L"Remembered";
    const auto elsewhere = dir / L"Elsewhere";

    {
        // Without the helper's property, the remembered folder wins over INSTALLDIR.
        GuideSampleUninstalled clean_prefix;
        ASSERT_EQ(msiexec({u"/i", u16(guide_package(1)), u"/passive", u"/norestart", u"INSTALLDIR=" + u16(remembered)}),
                  0u);
        ASSERT_EQ(msiexec({u"/i", u16(guide_package(2)), u"/passive", u"/norestart", u"INSTALLDIR=" + u16(elsewhere)}),
                  0u);
        EXPECT_EQ(read_file(remembered / L"version.txt"), "2.0.0");
        EXPECT_FALSE(std::filesystem::exists(elsewhere / L"version.txt"));
    }

    GuideSampleUninstalled clean_prefix;
    ASSERT_EQ(msiexec({u"/i", u16(guide_package(1)), u"/passive", u"/norestart", u"INSTALLDIR=" + u16(remembered)}), 0u);
    RunFiles files = files_in(dir);
    files.install_dir = dir / L"Example App";
    files.app = files.install_dir / L"app.exe";
    std::filesystem::copy_file(guide_package(2), files.msi);
    RunOptions options = signed_options(read_file(files.msi), "2.0.0");
    options.version = L"2.0.0";
    options.parent_process_id = L"0";

    const HelperRun run = run_helper(arguments_for(files, options));
    EXPECT_EQ(run.exit_code, 0u) << run.standard_error;
    EXPECT_EQ(read_file(files.result), R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_EQ(read_file(files.install_dir / L"version.txt"), "2.0.0") << "the folder the helper named";

    // An older signed package, replayed over the newer installation, installs nothing.
    TempDir replay_dir;
    RunFiles replay = files_in(replay_dir);
    replay.install_dir = files.install_dir;
    replay.app = files.app;
    std::filesystem::copy_file(guide_package(1), replay.msi);
    RunOptions old = signed_options(read_file(replay.msi), "1.0.0");
    old.version = L"1.0.0";
    old.parent_process_id = L"0";
    const HelperRun replayed = run_helper(arguments_for(replay, old));
    EXPECT_NE(replayed.exit_code, 0u);
    EXPECT_TRUE(read_file(replay.result).starts_with(R"({"status":"error","exitCode":)")) << read_file(replay.result);
    EXPECT_EQ(read_file(files.install_dir / L"version.txt"), "2.0.0") << "the newer version stays";
}

// A download folder attacked while the helper waits: version 2 is checked,
// and version 1 is what a process of the same user puts in its way.
struct AttackedDownload {
    TempDir dir;
    RunFiles files = files_in(dir);
    std::filesystem::path downloads = dir / L"downloads";
    RunOptions options;

    AttackedDownload() {
        files.install_dir = dir / L"Sample App";
        files.app = files.install_dir / L"app.exe";
        files.msi = downloads / L"update.msi";
        options = signed_options(read_file(sample_package(2)), "2.0.0");
        options.version = L"2.0.0";
    }

    // Starts the helper as the application would, makes the change while it
    // waits for the application, and waits for the helper to end.
    HelperRun run(const std::function<void()>& attack) {
        const win::unique_handle application = start_application(6000);
        options.parent_process_id = std::to_wstring(::GetProcessId(application.get()));
        StartedProgram helper = start_helper(arguments_for(files, options), dir / L"standard-error.txt");
        EXPECT_TRUE(helper_is_waiting(files.log)) << read_file(files.log);
        attack();
        EXPECT_EQ(::WaitForSingleObject(application.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the change was made while the helper waited";
        return helper.wait();
    }
};

// A folder of the package's path is a link (a junction on Windows) that is
// pointed at another folder during the wait: the installer is given the
// checked file's own path, so the link no longer matters.
TEST(RealUpdate, FolderLinkPointedElsewhereDuringTheWaitStillInstallsTheCheckedPackage) {
    if (!build_embeds_development_key()) GTEST_SKIP() << "this build embeds a publisher key";
    SampleAppUninstalled clean_prefix;
    AttackedDownload download;
    const auto checked = download.dir / L"checked";
    const auto planted = download.dir / L"planted";
    std::filesystem::create_directories(checked);
    std::filesystem::create_directories(planted);
    std::filesystem::copy_file(sample_package(2), checked / L"update.msi");
    std::filesystem::copy_file(sample_package(1), planted / L"update.msi");
    point_unix_symlink(download.downloads, checked);

    const HelperRun run = download.run([&] { point_unix_symlink(download.downloads, planted); });
    remove_unix_symlink(download.downloads);
    EXPECT_EQ(run.exit_code, 0u) << run.standard_error;
    EXPECT_EQ(read_file(download.files.result), R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_EQ(read_file(download.files.install_dir / L"version.txt"), "2.0.0");
}

// The package's folder is renamed during the wait (Windows refuses that while
// the package is open; Wine allows it) and another package put at the same
// path: nothing is installed, and the file that was never checked is kept.
TEST(RealUpdate, FolderReplacedDuringTheWaitInstallsNothing) {
    if (!build_embeds_development_key()) GTEST_SKIP() << "this build embeds a publisher key";
    SampleAppUninstalled clean_prefix;
    AttackedDownload download;
    std::filesystem::create_directories(download.downloads);
    std::filesystem::copy_file(sample_package(2), download.files.msi);

    const HelperRun run = download.run([&] {
        std::filesystem::rename(download.downloads, download.dir / L"moved");
        std::filesystem::create_directories(download.downloads);
        std::filesystem::copy_file(sample_package(1), download.files.msi);
    });
    EXPECT_EQ(run.exit_code, 1603u);
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(read_file(download.files.result),
              R"({"status":"error","exitCode":1603,"message":"The update package was replaced after it was checked."})");
    EXPECT_FALSE(std::filesystem::exists(download.files.install_dir / L"version.txt")) << "nothing was installed";
    EXPECT_FALSE(std::filesystem::exists(download.files.msi_log)) << "the installer never ran";
    EXPECT_EQ(read_file(download.files.msi), read_file(sample_package(1))) << "the planted file is kept";
    const auto lines = log_messages(download.files.log);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "Package verification failed: The update package was replaced after it was checked.");
    EXPECT_TRUE(lines[3].starts_with("Application restart ") || lines[3].starts_with("The application executable"))
        << lines[3];
}

// Whether Windows Installer has the package's product installed.
bool product_installed(const std::filesystem::path& package) {
    const auto database = open_msi_database(u16(package));
    if (!database) throw std::runtime_error(database.error());
    const auto facts = read_installation_facts(**database);
    if (!facts) throw std::runtime_error(facts.error());
    const auto identity = package_identity(*facts, **database);
    if (!identity) throw std::runtime_error(identity.error());
    const auto products = msi_installed_products();
    for (const InstallContext context : install_contexts(identity->scope)) {
        const auto product = products->query(identity->product_code, context);
        if (!product) throw std::runtime_error(product.error());
        if (product->installed) return true;
    }
    return false;
}

// The Linux folder of the Wine prefix's drive links ("<prefix>/dosdevices").
std::string drive_links_folder() {
    std::string drive_c = unix_path(L"C:\\");  // "<prefix>/dosdevices/c:/"
    while (drive_c.ends_with('/')) drive_c.pop_back();
    return drive_c.substr(0, drive_c.rfind('/'));
}

// A drive letter of the prefix for the length of a test, pointed at a folder
// and re-pointed at will, as a user may redefine a drive letter of their
// session on Windows (subst, DefineDosDevice).
class DriveLetter {
public:
    DriveLetter(char letter, const std::filesystem::path& folder)
        : root_(std::wstring(1, static_cast<wchar_t>(letter)) + L":\\"),
          link_(L"Z:" + std::filesystem::path(drive_links_folder()).wstring() + L"\\" +
                static_cast<wchar_t>(letter + ('a' - 'A')) + L":") {
        point_to(folder);
    }
    ~DriveLetter() { remove_unix_symlink(link_); }
    DriveLetter(const DriveLetter&) = delete;
    DriveLetter& operator=(const DriveLetter&) = delete;

    // Returns once the drive's root leads to the folder, and this process
    // names a file there by the drive (Wine refreshes what it knows of the
    // drives about once a second): a marker file there is seen through the
    // drive, with the drive in its final path.
    void point_to(const std::filesystem::path& folder) const {
        const std::string marker = "drive marker " + utf8(folder);
        write_file(folder / L"drive-marker.txt", marker);
        point_unix_symlink(link_, folder);
        for (int attempt = 0; attempt < 250; ++attempt) {
            if (marker_seen_through_the_drive(marker)) return;
            ::Sleep(20);
        }
        throw std::runtime_error("the drive does not lead to " + utf8(folder));
    }
    [[nodiscard]] const std::filesystem::path& root() const { return root_; }

private:
    [[nodiscard]] bool marker_seen_through_the_drive(const std::string& marker) const {
        const std::filesystem::path path = root_ / L"drive-marker.txt";
        win::unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (!file) return false;
        const auto final = win::final_path(file.get());
        return final && final->starts_with(u"\\\\?\\" + u16(root_).substr(0, 2)) && read_file(path) == marker;
    }

    std::filesystem::path root_;
    std::filesystem::path link_;
};

// The package is named through a drive letter that is pointed at another
// folder, holding another package of the same name, once the helper has
// logged "Starting Windows Installer." and before the installer opens it.
// Windows Installer installs that other package; the run must not report
// success for it.
TEST(RealUpdate, DriveLetterRedefinedAsTheInstallerStartsNeverPassesForSuccess) {
    if (!build_embeds_development_key()) GTEST_SKIP() << "this build embeds a publisher key";
    SampleAppUninstalled sample_clean;
    GuideSampleUninstalled guide_clean;
    TempDir dir;
    const auto checked = dir / L"checked";
    const auto planted = dir / L"planted";
    std::filesystem::create_directories(checked);
    std::filesystem::create_directories(planted);
    std::filesystem::copy_file(sample_package(2), checked / L"update.msi");
    std::filesystem::copy_file(guide_package(2), planted / L"update.msi");
    const DriveLetter drive('V', checked);

    RunFiles files = files_in(dir);
    files.msi = drive.root() / L"update.msi";
    files.install_dir = dir / L"Sample App";
    files.app = files.install_dir / L"app.exe";
    RunOptions options = signed_options(read_file(checked / L"update.msi"), "2.0.0");
    options.version = L"2.0.0";
    WorldWithAFault world(WorldWithAFault::Before::install, [&] {
        ASSERT_TRUE(log_has_line(files.log, "Starting Windows Installer."));
        drive.point_to(planted);
    });

    const InProcessRun run = run_in_process(arguments_for(files, options), world);
    EXPECT_TRUE(product_installed(guide_package(2))) << "the installer installed the planted package";
    EXPECT_FALSE(product_installed(sample_package(2))) << "and not the checked one";
    EXPECT_EQ(run.exit_code, 1603u) << run.standard_error;
    EXPECT_EQ(read_file(files.result),
              R"({"status":"error","exitCode":1603,"message":"Windows Installer did not install the package that was checked."})");
    const auto lines = log_messages(files.log);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[3], "Windows Installer exited with code 0.");
    EXPECT_EQ(lines[4], "Windows Installer did not install the package that was checked.");
}

// A process of the user builds a package of its own with the checked
// package's ProductCode, ProductVersion and package code (all in the signed
// package for anyone to read) and installs it for the user before the run.
// Windows Installer then takes the checked package for that product's
// maintenance, from its cached copy of the forged one, exits 0 and leaves the
// forged files installed. A per-user package is refused before the wait, like
// any package that fails a check; for a per-machine one the user's
// registration answers nothing, and the machine has no such product after
// the installer: the error outcome.
TEST(RealUpdate, ProductRegisteredBeforeTheRunWithTheCheckedCodesNeverPassesForSuccess) {
    if (!build_embeds_development_key()) GTEST_SKIP() << "this build embeds a publisher key";
    struct Case {
        const wchar_t* checked;
        std::vector<std::string> lines;  // the log's, the relaunch's last line left out
        std::string message;
    };
    const std::string installed = "The update package is already installed.";
    const std::string not_installed = "Windows Installer did not install the package that was checked.";
    const Case cases[] = {
        {L"sample-app-2", {"Vostrane native updater started.", "Package verification failed: " + installed}, installed},
        {L"sample-app-2-per-machine",
         {"Vostrane native updater started.", "The previous process has already exited.", "Starting Windows Installer.",
          "Windows Installer exited with code 0.", not_installed},
         not_installed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.checked));
        SampleAppUninstalled clean_prefix;
        TempDir dir;
        RunFiles files = files_in(dir);
        files.install_dir = dir / L"Sample App";
        files.app = files.install_dir / L"app.exe";
        const auto forged = built_package(std::wstring(c.checked) + L"-forged");
        ASSERT_EQ(msiexec({u"/i", u16(forged), u"/qn", u"INSTALLDIR=" + u16(files.install_dir)}), 0u);
        ASSERT_EQ(read_file(files.install_dir / L"version.txt"), "1.0.0");

        std::filesystem::copy_file(built_package(c.checked), files.msi);
        RunOptions options = signed_options(read_file(files.msi), "2.0.0");
        options.version = L"2.0.0";
        options.parent_process_id = L"0";
        const HelperRun run = run_helper(arguments_for(files, options));
        EXPECT_EQ(read_file(files.install_dir / L"version.txt"), "1.0.0") << "the forged files stay";
        msiexec({u"/x", u16(forged), u"/qn"});
        EXPECT_EQ(run.exit_code, 1603u) << run.standard_error;
        EXPECT_EQ(read_file(files.result), R"({"status":"error","exitCode":1603,"message":")" + c.message + R"("})");
        auto lines = log_messages(files.log);
        ASSERT_EQ(lines.size(), c.lines.size() + 1) << read_file(files.log);
        lines.pop_back();
        EXPECT_EQ(lines, c.lines);
        const bool installer_ran = c.lines.size() > 2;
        EXPECT_EQ(std::filesystem::exists(files.msi), installer_ran) << "a package refused before the wait is deleted";
    }
}

std::filesystem::path update_sample_package(int major) {
    return built_package(L"update-sample-" + std::to_wstring(major));
}

struct UpdateSampleUninstalled : PackagesUninstalled {
    UpdateSampleUninstalled() : PackagesUninstalled(update_sample_package) {}
};

// Runs a program with its standard output in a file, as a publisher's
// pipeline runs the signing tool: its exit code.
std::uint32_t run_with_output_to(const std::filesystem::path& output, std::vector<std::u16string> command) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    win::unique_file file(::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file.valid());
    const ScopedStandardHandles handles({nullptr, file.get(), nullptr});
    const std::u16string program = command.front();
    command.erase(command.begin());
    const auto exit_code = run_to_exit({program, std::move(command), std::nullopt});
    EXPECT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
    return exit_code.value_or(~0u);
}

// The image a running process was started from; nothing once it has ended.
std::optional<std::u16string> running_image(std::uint32_t process_id) {
    const win::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id));
    if (!process.valid() || ::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return std::nullopt;
    std::u16string image(32768, u'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, reinterpret_cast<wchar_t*>(image.data()), &length)) {
        return std::nullopt;
    }
    image.resize(length);
    return image;
}

// The lines the sample application has shown so far.
std::vector<std::string> shown_lines(const std::filesystem::path& output) {
    std::vector<std::string> lines;
    std::string_view text;
    const std::string bytes = std::filesystem::exists(output) ? read_file(output) : std::string();
    text = bytes;
    while (!text.empty()) {
        const std::size_t end = text.find("\r\n");
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
    }
    return lines;
}

// Starts a program with no arguments and waits for it: its exit code.
std::uint32_t start_and_wait(const std::filesystem::path& program) {
    const auto exit_code = run_to_exit({u16(program), {}, std::nullopt});
    EXPECT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
    return exit_code.value_or(~0u);
}

// The sample application, version 1.0.0 installed by Windows Installer, finds
// an update pending: the manifest that `vostrane-sign sign --format json`
// printed and the package 2.0.0. Through the client library's DLL it starts
// the helper from a copy in its update folder and exits; the helper installs
// 2.0.0 with Wine's msiexec and relaunches the application, whose next start
// reads the result and cleans up.
TEST(RealUpdate, SampleApplicationUpdatesItselfThroughTheClientLibrary) {
    if (!build_embeds_development_key()) GTEST_SKIP() << "this build embeds a publisher key";
    UpdateSampleUninstalled clean_prefix;
    TempDir dir;
    const auto install_dir = dir / L"Sample \u00c5pp";
    const auto update_dir = dir / L"VostraneUpdateSample Updates";
    const auto pending = update_dir / L"pending";
    const auto shown = update_dir / L"sample-output.txt";
    ASSERT_EQ(msiexec({u"/i", u16(update_sample_package(1)), u"/passive", u"/norestart",
                       u"INSTALLDIR=" + u16(install_dir)}),
              0u);
    ASSERT_EQ(read_file(install_dir / L"version.txt"), "1.0.0");
    std::filesystem::create_directories(pending);
    ASSERT_EQ(run_with_output_to(pending / L"update.json",
                                 {u16(build_file(L"vostrane-sign.exe")), u"sign", u"--private-key",
                                  utf8_to_utf16(development_private_key_path()), u"--version", u"2.0.0", u"--package",
                                  u16(update_sample_package(2)), u"--format", u"json"}),
              0u);
    std::filesystem::copy_file(update_sample_package(2), pending / L"update.msi");

    ASSERT_EQ(start_and_wait(install_dir / L"update-sample.exe"), 0u);
    // The helper runs from its copy in the update folder, not from the
    // installation folder that Windows Installer is about to replace.
    const auto record = read_started_record(read_file(update_dir / L"helper-started.txt"));
    ASSERT_TRUE(record.has_value());
    const std::filesystem::path copy(std::u16string_view(record->helper_copy));
    EXPECT_EQ(copy.parent_path().parent_path(), update_dir);
    EXPECT_EQ(read_file(copy), read_file(install_dir / L"vostrane-updater.exe"));
    EXPECT_EQ(running_image(record->process_id), record->helper_copy) << "the helper was not running from its copy";

    std::vector<std::string> lines;
    for (int waited = 0; waited < 1200 && (lines = shown_lines(shown)).size() < 5; ++waited) ::Sleep(100);
    const std::vector<std::string> updated = {
        "Vostrane update sample 1.0.0 started.",
        "Updating to 2.0.0; the application exits and starts again once it is installed.",
        "Vostrane update sample 2.0.0 started.",
        "Last update: installed.",
        "Running version 2.0.0.",
    };
    ASSERT_EQ(lines, updated) << read_file(update_dir / L"helper.log");
    EXPECT_EQ(read_file(install_dir / L"version.txt"), "2.0.0");
    EXPECT_TRUE(product_installed(update_sample_package(2)));
    EXPECT_FALSE(product_installed(update_sample_package(1)));
    EXPECT_EQ(read_file(update_dir / L"result.json"), R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_FALSE(std::filesystem::exists(pending / L"update.json")) << "the installed update is pending still";
    EXPECT_FALSE(std::filesystem::exists(pending / L"update.msi"));
    EXPECT_FALSE(std::filesystem::exists(update_dir / L"helper-started.txt"));

    // Once the helper has ended, the next start finds nothing to report and no copy left.
    for (int waited = 0; waited < 300 && running_image(record->process_id); ++waited) ::Sleep(100);
    ASSERT_EQ(start_and_wait(install_dir / L"update-sample.exe"), 0u);
    lines = shown_lines(shown);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], "Vostrane update sample 2.0.0 started.");
    EXPECT_EQ(lines[6], "Running version 2.0.0.");
    for (const auto& entry : std::filesystem::directory_iterator(update_dir)) {
        EXPECT_FALSE(entry.path().filename().wstring().starts_with(L"helper-")) << entry.path();
    }
}

}  // namespace
}  // namespace vostrane::testing
