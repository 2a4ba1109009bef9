// A whole run whose every path is longer than the classic 260-character limit.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "in_process_run.hpp"
#include "process/application_restart.hpp"

namespace vostrane::testing {
namespace {

// Every path of a run longer than the classic 260-character limit.
TEST(LongPaths, EveryPathOfARunMayBeLongerThan260Characters) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
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
    run.arguments = arguments_for(files, signed_options(read_file(files.msi), "1.0.0"));

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

bool appears_within(const std::filesystem::path& file, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 100) {
        if (std::filesystem::exists(file)) return true;
        ::Sleep(100);
    }
    return std::filesystem::exists(file);
}

// Wine's real shell, like Windows', starts nothing at a path of MAX_PATH
// characters or more: the relaunch hands it the path's short form.
TEST(LongPaths, RelaunchThroughTheRealShellStartsAnApplicationAt267Characters) {
    TempDir dir;
    const std::size_t base = dir.path().wstring().size();
    const std::filesystem::path install_dir =
        dir / (std::wstring(120, L'd') + L"\\" + std::wstring(267 - base - 130, L'e'));
    const std::filesystem::path app = install_dir / L"app.exe";
    ASSERT_EQ(app.wstring().size(), 267u) << utf8(app);
    std::filesystem::create_directories(install_dir);
    std::filesystem::copy_file(build_file(L"marker-application.exe"), app);
    const std::filesystem::path log = dir / L"helper.log";

    std::wstring system_root(MAX_PATH, L'\0');
    system_root.resize(::GetEnvironmentVariableW(L"SystemRoot", system_root.data(), MAX_PATH));
    const std::filesystem::path shell = std::filesystem::path(system_root) / L"explorer.exe";
    ASSERT_TRUE(std::filesystem::exists(shell)) << "the real shell: " << utf8(shell);
    {
        // None: the shell (and Wine's desktop process, which it may start and
        // which lives on) then holds none of the test run's pipes open.
        const ScopedStandardHandles none({nullptr, nullptr, nullptr});
        restart_application(u16(app), u16(install_dir), u16(log));
    }
    const auto lines = log_messages(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(is_restart_line(lines[0], utf8(shell))) << lines[0];
    // Up to 30 s: a machine busy with other tests can be slow to start the shell.
    EXPECT_TRUE(appears_within(app.wstring() + L".started", 30000)) << "the application was not started";
}

}  // namespace
}  // namespace vostrane::testing
