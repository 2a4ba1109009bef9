// The client library's C interface on real files and processes: what a start
// of the application learns from the update folder, what it cleans up, and a
// helper that cannot start leaving nothing behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "helper_process.hpp"
#include "process/child_process.hpp"
#include "unicode.hpp"
#include "update_plan.hpp"
#include "vostrane_update_client.h"

namespace vostrane::testing {
namespace {

// An application's update folder with a pending update in it.
struct UpdateFolderFixture {
    TempDir dir;
    std::filesystem::path folder = dir / L"App Updates";
    std::filesystem::path manifest = folder / L"pending" / L"update.json";
    std::filesystem::path package = folder / L"pending" / L"update.msi";
    std::string folder_text = utf8(folder);
    std::string manifest_text = utf8(manifest);
    std::string package_text = utf8(package);
    vostrane_update_files files{folder_text.c_str(), manifest_text.c_str(), package_text.c_str()};

    UpdateFolderFixture() {
        std::filesystem::create_directories(folder / L"pending");
        write_file(manifest, R"({"version":"2.0.0","sha256":")" + std::string(64, 'a') +
                                 R"(","signature":"c2ln","keyId":"k","algorithm":"ed25519","fileName":"u.msi","size":7})");
        write_file(package, "package");
    }
    // A helper copy's folder with its program in it.
    std::filesystem::path helper_copy(const std::wstring& name) const {
        std::filesystem::create_directories(folder / name);
        write_file(folder / name / L"vostrane-updater.exe", "program");
        return folder / name / L"vostrane-updater.exe";
    }
    void record_started(std::uint32_t process_id, const std::filesystem::path& copy) const {
        write_file(folder / L"helper-started.txt", started_record({process_id, u16(copy)}));
    }
};

TEST(UpdateClient, WhatAStartLearnsAndCleansUp) {
    const std::string success = R"({"status":"success","exitCode":0,"message":""})";
    const std::string failed = R"({"status":"error","exitCode":1602,"message":"Windows Installer exited with code 1602."})";
    struct Case {
        const char* what;
        bool started;
        bool running_here;  // the record names this test's own process, with the copy's path
        std::optional<std::string> result;
        vostrane_status status;
        const char* shown;  // the result's status or the error's beginning
        bool pending_kept;
        bool record_kept;
    };
    const std::vector<Case> cases = {
        {"no update started", false, false, success, VOSTRANE_NO_UPDATE, "", true, false},
        {"installed", true, false, success, VOSTRANE_OK, "success", false, false},
        {"refused or failed: the package may be started again", true, false, failed, VOSTRANE_OK, "error", true, false},
        {"ended without a result", true, false, std::nullopt, VOSTRANE_FAILED, "The update ended without a result", true,
         false},
        {"ended with a broken result", true, false, std::string("{\"status\":\"succ"), VOSTRANE_FAILED,
         "The update result is not a valid result document", true, false},
        // A process of the recorded id that runs another program is not the
        // helper (the id was reused): the update has ended.
        {"the recorded id now runs another program", true, true, std::nullopt, VOSTRANE_FAILED,
         "The update ended without a result", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateFolderFixture fixture;
        const auto stale_copy = fixture.helper_copy(L"helper-00000000000000aa");
        const auto other_folder = fixture.folder / L"helper-notes";
        std::filesystem::create_directories(other_folder);
        if (c.started) fixture.record_started(c.running_here ? ::GetCurrentProcessId() : 0, stale_copy);
        if (c.result) write_file(fixture.folder / L"result.json", *c.result);
        vostrane_update_result result{};
        vostrane_error error{};
        const vostrane_status status = vostrane_finish_update(&fixture.files, &result, &error);
        EXPECT_EQ(status, c.status) << error.message;
        if (status == VOSTRANE_OK) {
            EXPECT_STREQ(result.status, c.shown);
        } else if (status == VOSTRANE_FAILED) {
            EXPECT_TRUE(std::string(error.message).starts_with(c.shown)) << error.message;
        }
        EXPECT_EQ(std::filesystem::exists(fixture.manifest), c.pending_kept);
        EXPECT_EQ(std::filesystem::exists(fixture.package), c.pending_kept);
        EXPECT_EQ(std::filesystem::exists(fixture.folder / L"helper-started.txt"), c.record_kept);
        EXPECT_FALSE(std::filesystem::exists(stale_copy.parent_path())) << "a helper copy not in use is left";
        EXPECT_TRUE(std::filesystem::exists(other_folder)) << "a folder the library did not make is removed";
    }
}

// A link planted under a helper copy's name is removed as a link: what it
// leads to is not the library's to delete.
TEST(UpdateClient, LinkNamedLikeAHelperCopyIsNeverFollowed) {
    UpdateFolderFixture fixture;
    const auto elsewhere = fixture.dir / L"elsewhere";
    std::filesystem::create_directories(elsewhere);
    write_file(elsewhere / L"document.txt", "keep me");
    const auto link = fixture.folder / L"helper-00000000000000cc";
    point_unix_symlink(link, elsewhere);
    vostrane_update_result result{};
    vostrane_error error{};
    EXPECT_EQ(vostrane_finish_update(&fixture.files, &result, &error), VOSTRANE_NO_UPDATE) << error.message;
    EXPECT_EQ(read_file(elsewhere / L"document.txt"), "keep me");
    remove_unix_symlink(link);
}

// While the recorded helper still runs (here: a program started from the
// recorded copy's path) and has written no result, the update is running,
// and its copy and record stay.
TEST(UpdateClient, RunningHelperIsReportedAndKept) {
    UpdateFolderFixture fixture;
    const auto copy = fixture.folder / L"helper-00000000000000bb" / L"stand-in-application.exe";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(build_file(L"stand-in-application.exe"), copy);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command_line = L"stand-in-application.exe 20000";
    ASSERT_TRUE(::CreateProcessW(copy.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    const win::unique_handle running(process.hProcess);
    ::CloseHandle(process.hThread);
    fixture.record_started(process.dwProcessId, copy);

    vostrane_update_result result{};
    vostrane_error error{};
    EXPECT_EQ(vostrane_finish_update(&fixture.files, &result, &error), VOSTRANE_UPDATE_RUNNING) << error.message;
    EXPECT_TRUE(std::filesystem::exists(fixture.folder / L"helper-started.txt"));
    EXPECT_TRUE(std::filesystem::exists(fixture.manifest));

    // Once it has written its result, the update has ended even though the
    // helper has not exited yet (it relaunches the application first).
    write_file(fixture.folder / L"result.json", R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_EQ(vostrane_finish_update(&fixture.files, &result, &error), VOSTRANE_OK) << error.message;
    EXPECT_STREQ(result.status, "success");
    EXPECT_FALSE(std::filesystem::exists(fixture.folder / L"helper-started.txt"));
    EXPECT_FALSE(std::filesystem::exists(fixture.manifest));
    ::TerminateProcess(running.get(), 0);
    ::WaitForSingleObject(running.get(), 10000);
}

TEST(UpdateClient, UpdateThatCannotStartLeavesNothingBehind) {
    struct Case {
        const char* what;
        std::wstring helper;  // in the test's folder; empty: the real helper
        std::string manifest;  // empty: the fixture's
        const char* error_start;
        bool installed_around_the_update_folder = false;
    };
    const std::vector<Case> cases = {
        {"no helper where the application ships it", L"missing.exe", "", "The update helper could not be copied: "},
        {"a helper that is no program", L"not-a-program.exe", "", "The update helper could not be started: "},
        {"a manifest that is not one", L"", "{}", "The feed manifest is not valid: "},
        {"a package of another size", L"",
         R"({"version":"2.0.0","sha256":")" + std::string(64, 'a') +
             R"(","signature":"c2ln","keyId":"k","algorithm":"ed25519","fileName":"u.msi","size":8})",
         "The downloaded update package does not have the size the feed manifest gives."},
        {"an update folder inside the installation folder", L"", "",
         "The update folder must lie outside the installation folder.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateFolderFixture fixture;
        write_file(fixture.dir / L"not-a-program.exe", "MZ but nothing else");
        if (!c.manifest.empty()) write_file(fixture.manifest, c.manifest);
        const std::string helper = c.helper.empty() ? utf8(build_file(L"vostrane-updater.exe")) : utf8(fixture.dir / c.helper);
        const std::string install_dir = c.installed_around_the_update_folder ? utf8(fixture.dir.path()) : "C:\\App";
        const std::string app = install_dir + "\\app.exe";
        vostrane_error error{};
        EXPECT_EQ(vostrane_start_pending_update(&fixture.files, helper.c_str(), install_dir.c_str(), app.c_str(), &error),
                  VOSTRANE_FAILED);
        EXPECT_TRUE(std::string(error.message).starts_with(c.error_start)) << error.message;
        for (const auto& entry : std::filesystem::directory_iterator(fixture.folder)) {
            EXPECT_EQ(entry.path().filename(), L"pending") << "left behind: " << entry.path();
        }
    }
}

TEST(UpdateClient, CInterfaceRefusesWhatItCannotCarry) {
    UpdateFolderFixture fixture;
    vostrane_error error{};
    vostrane_update_result result{};
    EXPECT_EQ(vostrane_finish_update(nullptr, &result, &error), VOSTRANE_FAILED);
    EXPECT_STREQ(error.message, "files is missing.");
    EXPECT_EQ(vostrane_read_update_result("C:\\x\xff.json", &result, &error), VOSTRANE_FAILED);
    EXPECT_STREQ(error.message, "result_path is not valid UTF-8.");
    // A message longer than the field: refused, never cut into another message.
    const auto result_path = fixture.folder / L"result.json";
    write_file(result_path, R"({"status":"error","exitCode":1603,"message":")" + std::string(3000, 'x') + "\"}");
    EXPECT_EQ(vostrane_read_update_result(utf8(result_path).c_str(), &result, &error), VOSTRANE_FAILED);
    EXPECT_STREQ(error.message, "message is too long for its field.");
    // An error longer than its field is cut at a character boundary.
    const auto missing = fixture.folder / std::wstring(250, L'\u00e9') / (std::wstring(250, L'\u00e9') + L".json");
    EXPECT_EQ(vostrane_read_update_result(utf8(missing).c_str(), &result, &error), VOSTRANE_FAILED);
    const std::string message = error.message;
    EXPECT_TRUE(message.starts_with("Cannot read ")) << message;
    EXPECT_LE(message.size(), sizeof error.message - 1);
    EXPECT_TRUE(is_valid_utf8(message)) << "a character was cut in two";
}

// The sample linked with the static library, started in an installation
// folder of its own with nothing pending: it finds no update and runs.
TEST(UpdateClient, StaticLibraryServesTheSampleAsTheDllDoes) {
    TempDir dir;
    const auto installed = dir / L"Installed";
    std::filesystem::create_directories(installed);
    std::filesystem::copy_file(build_file(L"update-sample-static.exe"), installed / L"update-sample.exe");
    write_file(installed / L"version.txt", "1.0.0");
    const auto exit_code = run_to_exit({u16(installed / L"update-sample.exe"), {}, std::nullopt});
    ASSERT_TRUE(exit_code.has_value());
    EXPECT_EQ(*exit_code, 0u);
    EXPECT_EQ(read_file(dir / L"VostraneUpdateSample Updates" / L"sample-output.txt"),
              "Vostrane update sample 1.0.0 started.\r\nRunning version 1.0.0.\r\n");
}

}  // namespace
}  // namespace vostrane::testing
