// The whole run under Wine with stand-ins for Windows Installer and the shell
// (in_process_run.hpp): what the installer's exit code decides, where the
// installer and the shell are found, the relaunch, and the wait for the
// parent, which is the stand-in application.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cwctype>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "in_process_run.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::testing {
namespace {

TEST(InstallerRun, InstallerExitCodeDecidesResultRelaunchAndExitCode) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
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
        EXPECT_EQ(records[0].installed, 0u) << "the stand-in installed the package, as the installer would";
        if (c.relaunch) {
            EXPECT_EQ(records[1].command_line, "\"" + utf8(windows.shell()) + "\" \"" + utf8(run.files.app) + "\"");
            EXPECT_EQ(records[1].current_directory + "\\", utf8(run.files.install_dir));
            EXPECT_EQ(lines[4], "Application restart requested through " + utf8(windows.shell()) +
                                    " with process id " + std::to_string(records[1].process_id) + ".");
        }
    }
}

// An installer that reports success is believed only when Windows Installer
// has the checked package's product installed from the checked package: here
// the stand-in installs nothing, and the product was never installed.
TEST(InstallerRun, SuccessWithoutTheCheckedPackageInstalledIsAnErrorAndRelaunches) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    constexpr std::string_view message = "Windows Installer did not install the package that was checked.";
    for (const wchar_t* code : {L"0", L"3010", L"1641"}) {
        SCOPED_TRACE(utf8(code));
        FakeSystemRoot windows;
        ScopedEnvironmentVariable installs_nothing(L"VOSTRANE_STUB_INSTALL", std::nullopt);
        ScopedEnvironmentVariable exit_code(L"VOSTRANE_STUB_EXIT_CODE", code);
        VerifiedRun run(L"0", L"never-installed");

        const InProcessRun helper = run_in_process(run.arguments);
        EXPECT_EQ(helper.exit_code, 1603u);
        EXPECT_EQ(helper.standard_error, "");
        EXPECT_EQ(read_file(run.files.result),
                  R"({"status":"error","exitCode":1603,"message":")" + std::string(message) + R"("})");
        const auto lines = log_messages(run.files.log);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_EQ(lines[3], "Windows Installer exited with code " + utf8(code) + ".");
        EXPECT_EQ(lines[4], message);
        EXPECT_TRUE(is_restart_line(lines[5], utf8(windows.shell()))) << lines[5];
        EXPECT_TRUE(std::filesystem::exists(run.files.msi)) << "the checked package is kept";
        const auto records = windows.records(2);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_FALSE(records[0].installed);
    }
}

// msi.dll's own answers until the step named, and none from then on, as
// when msi.dll cannot be loaded or Windows Installer cannot be asked.
class RegistrationsUnanswered final : public InstalledProducts {
public:
    static constexpr std::string_view kNoAnswer = "msi.dll cannot be loaded: the stand-in refuses.";
    explicit RegistrationsUnanswered(bool from_the_start) : unanswered_(from_the_start) {}

    Result<InstalledProduct> query(std::string_view product_code, InstallContext context) override {
        if (unanswered_) return failure(std::string(kNoAnswer));
        return msi_->query(product_code, context);
    }
    void installer_ran() { unanswered_ = true; }

private:
    bool unanswered_;
    std::shared_ptr<InstalledProducts> msi_ = msi_installed_products();
};

// The real steps, asking those registrations.
class WorldWithUnansweredRegistrations final : public WindowsUpdateWorld {
public:
    explicit WorldWithUnansweredRegistrations(const std::shared_ptr<RegistrationsUnanswered>& registrations)
        : WindowsUpdateWorld(registrations), registrations_(registrations) {}

    Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                       const std::u16string& install_dir, const std::u16string& msi_log_path) override {
        auto exit_code = WindowsUpdateWorld::run_installer(program, package_path, install_dir, msi_log_path);
        registrations_->installer_ran();
        return exit_code;
    }

private:
    std::shared_ptr<RegistrationsUnanswered> registrations_;
};

// A question to Windows Installer that gets no answer is never taken for
// one: before the wait it refuses the package like any check that cannot be
// made; after the installer it is the error outcome, never success.
TEST(InstallerRun, RegistrationsThatCannotBeAskedNeverPassForAnAnswer) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    const std::string no_answer(RegistrationsUnanswered::kNoAnswer);
    const std::string not_installed = "Windows Installer did not install the package that was checked.";
    struct Case {
        const char* name;
        bool from_the_start;
        std::string message;
        std::vector<std::string> first_lines;
    };
    const Case cases[] = {
        {"before the wait", true, no_answer,
         {"Vostrane native updater started.", "Package verification failed: " + no_answer}},
        {"after the installer", false, not_installed,
         {"Vostrane native updater started.", "The previous process has already exited.",
          "Starting Windows Installer.", "Windows Installer exited with code 0.", not_installed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystemRoot windows;
        VerifiedRun run;
        WorldWithUnansweredRegistrations world(std::make_shared<RegistrationsUnanswered>(c.from_the_start));

        const InProcessRun helper = run_in_process(run.arguments, world);
        EXPECT_EQ(helper.exit_code, 1603u);
        EXPECT_EQ(helper.standard_error, "");
        EXPECT_EQ(read_file(run.files.result), R"({"status":"error","exitCode":1603,"message":")" + c.message + R"("})");
        auto lines = log_messages(run.files.log);
        ASSERT_EQ(lines.size(), c.first_lines.size() + 1) << read_file(run.files.log);
        EXPECT_TRUE(is_restart_line(lines.back(), utf8(windows.shell()))) << lines.back();
        lines.pop_back();
        EXPECT_EQ(lines, c.first_lines);
        const auto records = windows.records(c.from_the_start ? 1 : 2);
        ASSERT_EQ(records.size(), c.from_the_start ? 1u : 2u) << "the shell, and the installer only if it ran";
        if (!c.from_the_start) {
            EXPECT_EQ(records[0].installed, 0u) << "the stand-in installed the checked package";
        }
    }
}

TEST(InstallerRun, DigestInCapitalsWithBlanksAroundStillPasses) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    FakeSystemRoot windows;
    VerifiedRun run;
    std::wstring& sha256 = option_value(run.arguments, L"--expected-sha256");
    for (auto& c : sha256) c = static_cast<wchar_t>(std::towupper(c));
    sha256 = L" " + sha256 + L"\n";

    const InProcessRun helper = run_in_process(run.arguments);
    EXPECT_EQ(helper.exit_code, 0u);
    EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
}

TEST(InstallerRun, InstallerMissingUnderSystemRootIsReportedWithoutSearchingElsewhere) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
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
    SKIP_UNLESS_DEVELOPMENT_KEY();
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
    SKIP_UNLESS_DEVELOPMENT_KEY();
    // The build puts the stub beside this test program as msiexec.exe and
    // explorer.exe; the system directory has the real ones, searched later.
    TempDir dir;
    ScopedEnvironmentVariable no_system_root(L"SystemRoot", std::nullopt);
    ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
    ScopedEnvironmentVariable install(L"VOSTRANE_STUB_INSTALL", L"1");
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
    EXPECT_EQ(records[0].installed, 0u) << "the stand-in installed the package, as the installer would";
    EXPECT_EQ(records[1].command_line, "\"explorer.exe\" \"" + utf8(run.files.app) + "\"");
}

TEST(InstallerRun, RestartProblemsAreLoggedAndChangeNothingElse) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
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
             // The application stays where it is; only the directory to start in is
             // missing (the installer makes it: it is removed before the relaunch).
             option_value(r.arguments, L"--install-dir") = (r.dir / L"missing dir").wstring();
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
             option_value(r.arguments, L"--install-dir") = deep;
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
        WorldWithAFault world(WorldWithAFault::Before::write_result,
                              [&] { std::filesystem::remove_all(run.dir / L"missing dir"); });

        const InProcessRun helper = run_in_process(run.arguments, world);
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
    SKIP_UNLESS_DEVELOPMENT_KEY();
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
    SKIP_UNLESS_DEVELOPMENT_KEY();
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
    SKIP_UNLESS_DEVELOPMENT_KEY();
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

}  // namespace
}  // namespace vostrane::testing
