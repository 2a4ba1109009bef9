// The whole run under Wine with stand-ins for Windows Installer and the shell:
// a small program placed as msiexec.exe and explorer.exe records the command
// line it got and exits with the code it is told. The stand-in application is
// the parent the helper waits for.
//
// Wine sets SystemRoot=C:\windows in every process it starts, whatever its
// parent had, so runs that need another SystemRoot (or none) drive the real
// steps, exactly as the entry wires them, inside this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <cwctype>
#include <optional>

#include "run_fixture.hpp"
#include "run_update.hpp"
#include "stub_record.hpp"
#include "unicode.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"
#include "windows_update_steps.hpp"

namespace vostrane::testing {
namespace {

// The records in the file once it holds `count` of them: the relaunched shell
// is not waited for, so its record may come a moment after the run.
std::vector<StubRecord> wait_for_records(const std::filesystem::path& file, std::size_t count) {
    std::optional<std::vector<StubRecord>> records;
    // Up to 30 s: a machine busy with other tests can be slow to start the shell.
    for (int attempt = 0; attempt < 600; ++attempt) {
        records = parse_stub_records(read_file(file));
        if (records && records->size() >= count) break;
        ::Sleep(50);
    }
    EXPECT_TRUE(records) << "malformed record: " << read_file(file);
    return records.value_or(std::vector<StubRecord>{});
}

// A Windows directory of our own: SystemRoot points at it, with the stub as
// System32\msiexec.exe and as explorer.exe; both append to one record file.
class FakeSystemRoot {
public:
    explicit FakeSystemRoot(bool with_installer = true)
        : system_root_(L"SystemRoot", root_.path().wstring()),
          record_(L"VOSTRANE_STUB_RECORD", (root_ / L"record.txt").wstring()) {
        std::filesystem::create_directories(root_ / L"System32");
        if (with_installer) std::filesystem::copy_file(stub(), installer());
        std::filesystem::copy_file(stub(), shell());
    }

    static std::filesystem::path stub() { return build_file(L"stub-program.exe"); }
    [[nodiscard]] std::filesystem::path installer() const { return root_ / L"System32\\msiexec.exe"; }
    [[nodiscard]] std::filesystem::path shell() const { return root_ / L"explorer.exe"; }

    // What the stubs recorded, in the order they ran, once `count` have.
    [[nodiscard]] std::vector<StubRecord> records(std::size_t count) const {
        return wait_for_records(root_ / L"record.txt", count);
    }

private:
    TempDir root_;
    ScopedEnvironmentVariable system_root_;
    ScopedEnvironmentVariable record_;
};

// The installer's command line as the helper must write it for these files.
std::string installer_command_line(const RunFiles& files, const std::string& program) {
    return "\"" + program + "\" /i " + utf8(files.msi) + " /passive /norestart \"INSTALLDIR=" +
           utf8(files.install_dir) + "\\\" VOSTRANE_INSTALLDIR_LOCK=1 /L*v " + utf8(files.msi_log);
}

// The files of a run whose package passes every check, the installation
// directory (with a space and a final backslash) and the application present.
struct VerifiedRun {
    TempDir dir;
    RunFiles files = files_in(dir);
    std::vector<std::wstring> arguments;

    explicit VerifiedRun(const std::wstring& parent_process_id = L"0") {
        files.install_dir = dir / L"Program Files\\Sample App\\";
        files.app = files.install_dir / L"app.exe";
        std::filesystem::create_directories(files.install_dir);
        write_file(files.app, "the application");
        const std::string bytes(70000, 'p');
        write_file(files.msi, bytes);
        RunOptions options = signed_options(bytes, "1.4.0");
        options.parent_process_id = parent_process_id;
        arguments = arguments_for(files, options);
    }

    // The installer's command line as the helper must write it.
    [[nodiscard]] std::string installer_command_line(const std::string& program) const {
        return testing::installer_command_line(files, program);
    }
};

// What the process entry would do with these arguments, in this process.
struct InProcessRun {
    std::uint32_t exit_code = 0;
    std::string standard_error;  // the early failure's line, as the entry writes it
};

InProcessRun run_in_process(const std::vector<std::wstring>& arguments, UpdateSteps& steps) {
    std::vector<std::string> utf8_arguments;
    for (const auto& argument : arguments) {
        utf8_arguments.push_back(*utf16_to_utf8(std::u16string(argument.begin(), argument.end())));
    }
    const RunResult result = run_update(utf8_arguments, steps);
    return {result.process_exit_code(), result.is_early_failure() ? result.message() + "\n" : ""};
}

InProcessRun run_in_process(const std::vector<std::wstring>& arguments) {
    WindowsUpdateSteps steps;
    return run_in_process(arguments, steps);
}

void skip_unless_development_key() {
    if (!build_embeds_development_key()) {
        GTEST_SKIP() << "this build embeds a publisher key; packages signed here with the development key cannot pass";
    }
}

// "Application restart requested through {shell} with process id {digits}."
bool is_restart_line(const std::string& line, const std::string& shell) {
    const std::string prefix = "Application restart requested through " + shell + " with process id ";
    if (!line.starts_with(prefix) || !line.ends_with(".")) return false;
    const std::string digits = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

TEST(InstallerRun, InstallerExitCodeDecidesResultRelaunchAndExitCode) {
    skip_unless_development_key();
    struct Case {
        const wchar_t* installer_exit;
        std::string exit_line_code;
        std::string document;
        bool relaunch;
        std::uint32_t exit_code;
    };
    const std::vector<Case> cases = {
        {L"0", "0", R"({"status":"success","exitCode":0,"message":""})", true, 0},
        {L"1602", "1602",
         R"({"status":"error","exitCode":1602,"message":"Windows Installer exited with code 1602."})", true, 1602},
        {L"1603", "1603",
         R"({"status":"error","exitCode":1603,"message":"Windows Installer exited with code 1603."})", true, 1603},
        {L"1641", "1641",
         R"({"status":"restartInitiated","exitCode":1641,"message":"Windows has started a restart to finish the update."})",
         false, 0},
        {L"3010", "3010",
         R"({"status":"restartRequired","exitCode":3010,"message":"Windows restart is required to finish the update."})",
         false, 0},
        {L"0xC0000005", "-1073741819",
         R"({"status":"error","exitCode":-1073741819,"message":"Windows Installer exited with code -1073741819."})",
         true, 0xC0000005u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exit_line_code);
        FakeSystemRoot windows;
        ScopedEnvironmentVariable exit_code(L"VOSTRANE_STUB_EXIT_CODE", c.installer_exit);
        VerifiedRun run;
        write_file(run.files.result, "earlier result");

        const InProcessRun helper = run_in_process(run.arguments);
        EXPECT_EQ(helper.exit_code, c.exit_code);
        EXPECT_EQ(helper.standard_error, "");
        EXPECT_EQ(read_file(run.files.result), c.document);
        EXPECT_TRUE(std::filesystem::exists(run.files.msi)) << "an installed package is kept";

        const auto lines = log_messages(run.files.log);
        ASSERT_EQ(lines.size(), c.relaunch ? 5u : 4u);
        EXPECT_EQ(lines[0], "Vostrane native updater started.");
        EXPECT_EQ(lines[1], "The previous process has already exited.");
        EXPECT_EQ(lines[2], "Starting Windows Installer.");
        EXPECT_EQ(lines[3], "Windows Installer exited with code " + c.exit_line_code + ".");
        if (c.relaunch) {
            EXPECT_TRUE(is_restart_line(lines[4], utf8(windows.shell()))) << lines[4];
        }

        const auto records = windows.records(c.relaunch ? 2 : 1);
        ASSERT_EQ(records.size(), c.relaunch ? 2u : 1u);
        EXPECT_EQ(records[0].command_line, run.installer_command_line(utf8(windows.installer())));
        if (c.relaunch) {
            EXPECT_EQ(records[1].command_line, "\"" + utf8(windows.shell()) + "\" \"" + utf8(run.files.app) + "\"");
            EXPECT_EQ(records[1].current_directory + "\\", utf8(run.files.install_dir));
            EXPECT_EQ(lines[4], "Application restart requested through " + utf8(windows.shell()) +
                                    " with process id " + std::to_string(records[1].process_id) + ".");
        }
    }
}

TEST(InstallerRun, DigestInCapitalsWithBlanksAroundStillPasses) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    VerifiedRun run;
    std::wstring& sha256 = run.arguments[kExpectedSha256Value];
    for (auto& c : sha256) c = static_cast<wchar_t>(std::towupper(c));
    sha256 = L" " + sha256 + L"\n";

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 0u);
    EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
}

TEST(InstallerRun, InstallerMissingUnderSystemRootIsReportedWithoutSearchingElsewhere) {
    skip_unless_development_key();
    FakeSystemRoot windows(/*with_installer=*/false);
    VerifiedRun run;

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 1603u);
    EXPECT_EQ(helper.standard_error, "");
    EXPECT_EQ(read_file(run.files.result),
              R"({"status":"error","exitCode":1603,"message":"Windows Installer was not found."})");
    EXPECT_TRUE(std::filesystem::exists(run.files.msi));
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "Windows Installer was not found.");
    EXPECT_TRUE(is_restart_line(lines[3], utf8(windows.shell()))) << lines[3];
    const auto records = windows.records(1);
    ASSERT_EQ(records.size(), 1u) << "only the shell ran";
    EXPECT_TRUE(records[0].command_line.starts_with("\"" + utf8(windows.shell()) + "\""));
}

TEST(InstallerRun, InstallerThatCannotBeStartedEndsTheRunEarly) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    write_file(windows.installer(), "not a program");
    VerifiedRun run;
    write_file(run.files.result, "earlier result");

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 1603u);
    constexpr std::string_view prefix = "Windows Installer could not be started: ";
    ASSERT_TRUE(helper.standard_error.starts_with(prefix) && helper.standard_error.ends_with("\n"))
        << helper.standard_error;
    EXPECT_TRUE(is_os_error_description(
        std::string_view(helper.standard_error).substr(prefix.size(), helper.standard_error.size() - prefix.size() - 1)));
    EXPECT_FALSE(std::filesystem::exists(run.files.result));
    EXPECT_TRUE(std::filesystem::exists(run.files.msi));
    const std::vector<std::string> lines = {"Vostrane native updater started.",
                                            "The previous process has already exited.", "Starting Windows Installer."};
    EXPECT_EQ(log_messages(run.files.log), lines);
    ::Sleep(500);
    EXPECT_TRUE(windows.records(0).empty()) << "no relaunch";
}

TEST(InstallerRun, WithoutSystemRootTheBareNamesAreFoundBesideTheHelperFirst) {
    skip_unless_development_key();
    // The build puts the stub beside this test program as msiexec.exe and
    // explorer.exe; the system directory has the real ones, searched later.
    TempDir dir;
    ScopedEnvironmentVariable no_system_root(L"SystemRoot", std::nullopt);
    ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
    VerifiedRun run;

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 0u);
    EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(is_restart_line(lines[4], "explorer.exe")) << lines[4];
    const auto records = wait_for_records(dir / L"record.txt", 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].command_line, run.installer_command_line("msiexec.exe"));
    EXPECT_EQ(records[1].command_line, "\"explorer.exe\" \"" + utf8(run.files.app) + "\"");
}

TEST(InstallerRun, RestartProblemsAreLoggedAndChangeNothingElse) {
    skip_unless_development_key();
    struct Case {
        std::string name;
        void (*arrange)(VerifiedRun&);
        bool (*last_line_ok)(const std::string&);
    };
    const std::vector<Case> cases = {
        {"application path is a directory",
         [](VerifiedRun& r) {
             std::filesystem::remove(r.files.app);
             std::filesystem::create_directories(r.files.app);
         },
         [](const std::string& line) { return line == "The application executable was not found for restart."; }},
        {"application path names nothing", [](VerifiedRun& r) { std::filesystem::remove(r.files.app); },
         [](const std::string& line) { return line == "The application executable was not found for restart."; }},
        {"installation directory does not exist",
         [](VerifiedRun& r) {
             // The application stays where it is; only the directory to start in is missing.
             r.arguments[kInstallDirValue] = (r.dir / L"missing dir").wstring();
         },
         [](const std::string& line) {
             constexpr std::string_view prefix = "Application restart failed: ";
             return line.starts_with(prefix) && is_os_error_description(line.substr(prefix.size()));
         }},
        {"installation directory too long with no short form",
         [](VerifiedRun& r) {
             // Names of eight characters or fewer are their own short names.
             std::wstring deep = r.dir.path().wstring();
             while (deep.size() < 300) deep += L"\\deep-dir";
             std::filesystem::create_directories(deep);
             r.arguments[kInstallDirValue] = deep;
         },
         [](const std::string& line) {
             return line == "Application restart failed: working directory is too long and has no short form";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystemRoot windows;
        VerifiedRun run;
        c.arrange(run);

        const InProcessRun helper = run_in_process(run.arguments);
        EXPECT_EQ(helper.exit_code, 0u);
        EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
        const auto lines = log_messages(run.files.log);
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_TRUE(c.last_line_ok(lines.back())) << lines.back();
        ::Sleep(500);  // time enough for a wrongly started shell to leave its record
        EXPECT_EQ(windows.records(1).size(), 1u) << "the installer ran, the shell did not";
    }
}

// The stand-in application, started and owned by the test.
struct StandIn {
    win::unique_handle process;
    DWORD id = 0;
};

StandIn start_stand_in(unsigned milliseconds) {
    const std::wstring program = build_file(L"stand-in-application.exe").wstring();
    std::wstring command_line = quote_argument(program) + L" " + std::to_wstring(milliseconds);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        throw std::runtime_error("cannot start the stand-in application");
    }
    ::CloseHandle(process.hThread);
    return {win::unique_handle(process.hProcess), process.dwProcessId};
}

std::uint64_t filetime_ticks(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// An id that names no process now: a stand-in's, once it has ended and Wine
// has let go of it.
DWORD id_of_ended_process() {
    StandIn ended = start_stand_in(0);
    EXPECT_EQ(::WaitForSingleObject(ended.process.get(), 30000), WAIT_OBJECT_0);
    ended.process.reset();
    for (int attempt = 0; attempt < 100; ++attempt) {
        win::unique_handle still_there(::OpenProcess(SYNCHRONIZE, FALSE, ended.id));
        if (!still_there) return ended.id;
        ::Sleep(50);
    }
    ADD_FAILURE() << "process " << ended.id << " can still be opened after it ended";
    return ended.id;
}

TEST(InstallerRun, ParentThatCannotBeOpenedIsNotWaitedFor) {
    skip_unless_development_key();
    for (const DWORD id : {DWORD{0}, id_of_ended_process()}) {
        SCOPED_TRACE(id);
        FakeSystemRoot windows;
        VerifiedRun run(std::to_wstring(id));
        const InProcessRun helper = run_in_process(run.arguments);
        EXPECT_EQ(helper.exit_code, 0u);
        const auto lines = log_messages(run.files.log);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[1], "The previous process has already exited.");
        EXPECT_EQ(lines[2], "Starting Windows Installer.");
    }
}

TEST(InstallerRun, InstallerStartsAsSoonAsTheParentExits) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    ScopedEnvironmentVariable started(L"VOSTRANE_STUB_STARTED", L"1");
    StandIn application = start_stand_in(3000);
    VerifiedRun run(std::to_wstring(application.id));

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 0u);
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "Waiting for process " + std::to_string(application.id) + " to exit.");
    EXPECT_EQ(lines[2], "Starting Windows Installer.");

    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(::GetProcessTimes(application.process.get(), &created, &exited, &kernel, &user));
    const auto records = windows.records(2);
    ASSERT_FALSE(records.empty());
    ASSERT_TRUE(records[0].started);
    // After the application's end, and long before the 90-second bound.
    const std::int64_t after_exit = static_cast<std::int64_t>(*records[0].started - filetime_ticks(exited));
    EXPECT_GE(after_exit, 0);
    EXPECT_LT(after_exit, 30LL * 10'000'000);
}

// The real helper, for the full 90-second bound of the wait.
TEST(InstallerRun, ParentThatOutlivesTheWaitEndsTheRunEarly) {
    skip_unless_development_key();
    StandIn application = start_stand_in(150000);
    VerifiedRun run(std::to_wstring(application.id));
    write_file(run.files.result, "earlier result");

    const auto before = std::chrono::steady_clock::now();
    const HelperRun helper = run_helper(run.arguments);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    ::TerminateProcess(application.process.get(), 0);
    EXPECT_GE(seconds, 88.0) << "the wait lasts 90 seconds";
    EXPECT_LE(seconds, 120.0) << "the wait lasts 90 seconds";
    EXPECT_EQ(helper.exit_code, 1603u);
    EXPECT_EQ(helper.standard_error, "The previous application process did not exit in time.\n");
    EXPECT_FALSE(std::filesystem::exists(run.files.result));
    EXPECT_TRUE(std::filesystem::exists(run.files.msi));
    const std::vector<std::string> lines = {"Vostrane native updater started.",
                                            "Waiting for process " + std::to_string(application.id) + " to exit."};
    EXPECT_EQ(log_messages(run.files.log), lines);
}


// The real steps, with a fault let in just before one of them.
class StepsWithAFault : public UpdateSteps {
public:
    enum class Before { lock, wait, delete_package, write_result };
    StepsWithAFault(Before when, std::function<void()> fault) : when_(when), fault_(std::move(fault)) {}

    Status prepare_helper_log(const std::string& path) override { return real_.prepare_helper_log(path); }
    void append_log_line(const std::string& path, std::string_view message) override {
        real_.append_log_line(path, message);
    }
    void clear_result_file(const std::string& path) override { real_.clear_result_file(path); }
    void write_result_file(const std::string& path, const UpdateOutcome& outcome) override {
        at(Before::write_result);
        real_.write_result_file(path, outcome);
    }
    bool is_msi_package(const std::string& path) override { return real_.is_msi_package(path); }
    Result<std::unique_ptr<PackageLock>> lock_package(const std::string& path) override {
        at(Before::lock);
        return real_.lock_package(path);
    }
    Result<std::string> compute_package_digest(PackageLock& package) override {
        return real_.compute_package_digest(package);
    }
    void release_package(PackageLock& package) override { real_.release_package(package); }
    Status verify_update_signature(std::string_view version, std::string_view digest, std::string_view signature,
                                   std::string_view key_id, std::string_view algorithm) override {
        return real_.verify_update_signature(version, digest, signature, key_id, algorithm);
    }
    void delete_package(const std::string& path, const PackageLock& package) override {
        at(Before::delete_package);
        real_.delete_package(path, package);
    }
    Result<std::u16string> confirm_installer_package(const PackageLock& package) override {
        return real_.confirm_installer_package(package);
    }
    Status wait_for_parent_exit(std::uint32_t process_id, const std::string& log_path) override {
        at(Before::wait);
        return real_.wait_for_parent_exit(process_id, log_path);
    }
    std::optional<std::u16string> locate_installer() override { return real_.locate_installer(); }
    Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                       const UpdateOptions& options) override {
        return real_.run_installer(program, package_path, options);
    }
    void restart_application(const UpdateOptions& options, const std::string& log_path) override {
        real_.restart_application(options, log_path);
    }

private:
    void at(Before step) {
        if (step == when_ && fault_) std::exchange(fault_, nullptr)();
    }

    WindowsUpdateSteps real_;
    Before when_;
    std::function<void()> fault_;
};

TEST(FaultsDuringARun, PackageRemovedAfterItsTypeCheckIsRejectedWithTheSystemsText) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    VerifiedRun run;
    StepsWithAFault steps(StepsWithAFault::Before::lock, [&run] { std::filesystem::remove(run.files.msi); });

    const InProcessRun helper = run_in_process(run.arguments, steps);
    EXPECT_EQ(helper.exit_code, 1603u);
    const std::string message = win::system_message(ERROR_FILE_NOT_FOUND) + " (os error 2)";
    EXPECT_EQ(read_file(run.files.result), R"({"status":"error","exitCode":1603,"message":")" + message + R"("})");
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Package verification failed: " + message);
    EXPECT_TRUE(is_restart_line(lines[2], utf8(windows.shell()))) << lines[2];
}

TEST(FaultsDuringARun, LogLockedByAnotherProcessLosesLaterLinesOnlyAndTheRunGoesOn) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    VerifiedRun run;
    win::unique_file holder;
    StepsWithAFault steps(StepsWithAFault::Before::wait, [&] {
        holder.reset(::CreateFileW(run.files.log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder.valid());
    });

    const InProcessRun helper = run_in_process(run.arguments, steps);
    holder.reset();
    EXPECT_EQ(helper.exit_code, 0u);
    EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_EQ(log_messages(run.files.log), std::vector<std::string>{"Vostrane native updater started."});
    EXPECT_EQ(windows.records(2).size(), 2u) << "installed and relaunched";
}

TEST(FaultsDuringARun, ResultFolderRemovedDuringTheRunLeavesNoResultAndChangesNothingElse) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    VerifiedRun run;
    run.files.result = run.dir / L"reports\\result.json";
    std::filesystem::create_directories(run.files.result.parent_path());
    run.arguments = arguments_for(run.files, signed_options(read_file(run.files.msi), "1.4.0"));
    StepsWithAFault steps(StepsWithAFault::Before::write_result,
                          [&run] { std::filesystem::remove_all(run.files.result.parent_path()); });

    const InProcessRun helper = run_in_process(run.arguments, steps);
    EXPECT_EQ(helper.exit_code, 0u);
    EXPECT_FALSE(std::filesystem::exists(run.files.result.parent_path()));
    for (const auto& entry : std::filesystem::directory_iterator(run.dir.path())) {
        EXPECT_NE(entry.path().extension(), L".tmp") << entry.path();
    }
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "Windows Installer exited with code 0.");
}


// Every path of a run longer than the classic 260-character limit.
TEST(LongPaths, EveryPathOfARunMayBeLongerThan260Characters) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    VerifiedRun run;
    const std::filesystem::path deep = run.dir / (std::wstring(120, L'd') + L"\\" + std::wstring(120, L'e'));
    std::filesystem::create_directories(deep / L"install dir");
    RunFiles& files = run.files;
    std::filesystem::rename(files.msi, deep / L"update.msi");
    files.msi = deep / L"update.msi";
    files.install_dir = deep / L"install dir\\";
    files.app = files.install_dir / L"app.exe";
    write_file(files.app, "the application");
    files.msi_log = deep / L"msi.log";
    files.log = deep / L"logs\\helper.log";
    files.result = deep / L"result.json";
    for (const auto& path : {files.msi, files.install_dir, files.app, files.msi_log, files.log, files.result}) {
        ASSERT_GT(path.wstring().size(), 260u) << utf8(path);
    }
    run.arguments = arguments_for(files, signed_options(read_file(files.msi), "1.4.0"));

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 0u) << helper.standard_error;
    EXPECT_EQ(read_file(files.result), R"({"status":"success","exitCode":0,"message":""})");
    const auto lines = log_messages(files.log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(is_restart_line(lines[4], utf8(windows.shell()))) << lines[4];
    const auto records = windows.records(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].command_line, run.installer_command_line(utf8(windows.installer())));
    // The shell starts in the installation directory, named in its short form.
    const std::wstring started_in = std::filesystem::path(records[1].current_directory).wstring();
    std::wstring long_form(32768, L'\0');
    long_form.resize(::GetLongPathNameW(started_in.c_str(), long_form.data(), 32768));
    EXPECT_EQ(utf8(long_form) + "\\", utf8(files.install_dir));
}

// A Linux symbolic link for the length of a test; Wine follows it like a
// junction or a directory link on Windows.
class UnixSymlink {
public:
    UnixSymlink(std::filesystem::path link, const std::filesystem::path& target) : link_(std::move(link)) {
        point_unix_symlink(link_, target);
    }
    ~UnixSymlink() { remove_unix_symlink(link_); }
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
    run.arguments = arguments_for(run.files, signed_options(bytes, "1.4.0"));
}

TEST(CheckedPackage, FolderLinkPointedElsewhereDuringTheWaitStillInstallsTheCheckedFile) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    VerifiedRun run;
    const auto checked = run.dir / L"checked";
    const auto other = run.dir / L"other";
    std::filesystem::create_directories(other);
    write_file(other / L"update.msi", "another package");
    const UnixSymlink downloads(run.dir / L"downloads", checked);
    move_package_into(run, checked, run.dir / L"downloads");
    StepsWithAFault steps(StepsWithAFault::Before::wait, [&] { downloads.point_to(other); });

    const InProcessRun helper = run_in_process(run.arguments, steps);
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

TEST(CheckedPackage, FolderReplacedDuringTheWaitInstallsNothingAndDeletesNothing) {
    skip_unless_development_key();
    FakeSystemRoot windows;
    VerifiedRun run;
    const auto downloads = run.dir / L"downloads";
    move_package_into(run, downloads, downloads);
    // Wine lets a folder be renamed while a file in it is open; Windows refuses.
    StepsWithAFault steps(StepsWithAFault::Before::wait, [&] {
        std::filesystem::rename(downloads, run.dir / L"moved");
        std::filesystem::create_directories(downloads);
        write_file(run.files.msi, "another package");
    });

    const InProcessRun helper = run_in_process(run.arguments, steps);
    EXPECT_EQ(helper.exit_code, 1603u);
    EXPECT_EQ(helper.standard_error, "");
    constexpr std::string_view message = "The update package was replaced after it was checked.";
    EXPECT_EQ(read_file(run.files.result), R"({"status":"error","exitCode":1603,"message":")" + std::string(message) +
                                               R"("})");
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "The previous process has already exited.");
    EXPECT_EQ(lines[2], "Package verification failed: " + std::string(message));
    EXPECT_TRUE(is_restart_line(lines[3], utf8(windows.shell()))) << lines[3];
    const auto records = windows.records(1);
    ASSERT_EQ(records.size(), 1u) << "the shell ran, the installer did not";
    EXPECT_TRUE(records[0].command_line.starts_with("\"" + utf8(windows.shell()) + "\""));
    EXPECT_EQ(read_file(run.files.msi), "another package") << "a file that was never checked is not deleted";
    EXPECT_TRUE(std::filesystem::exists(run.dir / L"moved\\update.msi"));
}

TEST(CheckedPackage, PackageSwappedBeforeItsDeletionIsNotDeleted) {
    FakeSystemRoot windows;
    VerifiedRun run;
    run.arguments[kExpectedSha256Value] = std::wstring(64, L'0');  // rejected after its digest
    write_file(run.dir / L"other.msi", "another file");
    StepsWithAFault steps(StepsWithAFault::Before::delete_package, [&] {
        std::filesystem::rename(run.files.msi, run.dir / L"checked.msi");
        std::filesystem::rename(run.dir / L"other.msi", run.files.msi);
    });

    const InProcessRun helper = run_in_process(run.arguments, steps);
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
    skip_unless_development_key();
    struct Case {
        ArgumentIndex value;
        std::wstring suffix;
        std::string message;
    };
    const std::vector<Case> cases = {
        {kInstallDirValue, L"\" INJECTED=yes \"x", "--install-dir must not contain a double quote or a control character."},
        {kInstallDirValue, L"\\\" INJECTED=yes", "--install-dir must not contain a double quote or a control character."},
        {kMsiLogPathValue, L".log\" TRANSFORMS=evil.mst", "--msi-log-path must not contain a double quote or a control character."},
        {kMsiPathValue, L"\" /qn \"", "--msi-path must not contain a double quote or a control character."},
        {kAppPathValue, L"\n/select", "--app-path must not contain a double quote or a control character."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeSystemRoot windows;
        VerifiedRun run;
        run.arguments[c.value] += c.suffix;
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

}  // namespace
}  // namespace vostrane::testing
