// The client library's C interface on real files and processes: what a start
// of the application learns from the update folder, what it cleans up, and a
// helper that cannot start leaving nothing behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "helper_copy.hpp"
#include "helper_process.hpp"
#include "process/child_process.hpp"
#include "unicode.hpp"
#include "update_folder.hpp"
#include "vostrane_update_client.h"
#include "win/file_io.hpp"

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
        {"a package shorter than the manifest says", L"",
         R"({"version":"2.0.0","sha256":")" + std::string(64, 'a') +
             R"(","signature":"c2ln","keyId":"k","algorithm":"ed25519","fileName":"u.msi","size":8})",
         "The downloaded update package does not have the size the feed manifest gives."},
        {"a package one byte longer than the manifest says", L"",
         R"({"version":"2.0.0","sha256":")" + std::string(64, 'a') +
             R"(","signature":"c2ln","keyId":"k","algorithm":"ed25519","fileName":"u.msi","size":6})",
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

// Values that fill their C field: one byte less than the field is carried
// whole with its NUL; the field's size, which leaves no room for the NUL, is
// refused. A longer error is cut to the field less one byte, and nothing is
// written past the structure.
TEST(UpdateClient, CInterfaceFillsFieldsUpToTheirNul) {
    UpdateFolderFixture fixture;
    const auto manifest_of_version = [&](std::size_t length) {
        write_file(fixture.manifest, R"({"version":")" + std::string(length, '9') + R"(","sha256":")" +
                                         std::string(64, 'a') + R"(","signature":"c2ln","keyId":"k","algorithm":)" +
                                         R"("ed25519","fileName":"u.msi","size":7})");
        vostrane_feed_manifest manifest{};
        vostrane_error error{};
        const vostrane_status status = vostrane_read_feed_manifest(fixture.manifest_text.c_str(), &manifest, &error);
        return std::pair{status, status == VOSTRANE_OK ? std::string(manifest.version) : std::string(error.message)};
    };
    const auto result_of_message = [&](std::size_t length) {
        const auto path = fixture.folder / L"result.json";
        write_file(path, R"({"status":"error","exitCode":1603,"message":")" + std::string(length, 'm') + "\"}");
        vostrane_update_result result{};
        vostrane_error error{};
        const vostrane_status status = vostrane_read_update_result(utf8(path).c_str(), &result, &error);
        return std::pair{status, status == VOSTRANE_OK ? std::string(result.message) : std::string(error.message)};
    };
    constexpr std::size_t kVersionField = sizeof vostrane_feed_manifest{}.version;
    constexpr std::size_t kMessageField = sizeof vostrane_update_result{}.message;
    EXPECT_EQ(manifest_of_version(kVersionField - 1), std::pair(VOSTRANE_OK, std::string(kVersionField - 1, '9')));
    EXPECT_EQ(manifest_of_version(kVersionField),
              std::pair(VOSTRANE_FAILED, std::string("version is too long for its field.")));
    EXPECT_EQ(result_of_message(kMessageField - 1), std::pair(VOSTRANE_OK, std::string(kMessageField - 1, 'm')));
    EXPECT_EQ(result_of_message(kMessageField),
              std::pair(VOSTRANE_FAILED, std::string("message is too long for its field.")));

    struct GuardedError {
        vostrane_error error;
        unsigned char guard;
    };
    static_assert(offsetof(GuardedError, guard) == sizeof(vostrane_error));
    GuardedError guarded;
    std::memset(&guarded, 0xA5, sizeof guarded);
    const std::string long_ascii_path = "C:\\" + std::string(1500, 'x') + ".json";
    vostrane_update_result result{};
    EXPECT_EQ(vostrane_read_update_result(long_ascii_path.c_str(), &result, &guarded.error), VOSTRANE_FAILED);
    const std::string_view message(guarded.error.message, strnlen(guarded.error.message, sizeof guarded.error.message));
    EXPECT_EQ(message.size(), sizeof guarded.error.message - 1) << "no NUL within the field, or cut short";
    EXPECT_TRUE(message.starts_with("Cannot read C:\\xxx")) << message;
    EXPECT_EQ(guarded.guard, 0xA5) << "written past the structure";
}

// Every path crossing the C boundary is full: a relative one would name
// another file for the helper, which runs in a folder of its own.
TEST(UpdateClient, RelativePathsAreRefusedByName) {
    UpdateFolderFixture fixture;
    const std::string helper = utf8(build_file(L"vostrane-updater.exe"));
    struct Case {
        const char* what;
        std::string update_dir;
        std::string helper;
        std::string install_dir;
        const char* message;
    };
    const std::string folder = fixture.folder_text;
    const std::vector<Case> cases = {
        {"an update folder in the current folder", "App Updates", helper, "C:\\App",
         "update_dir must be a full path (a drive such as C:\\ or a share such as \\\\server\\share\\)."},
        {"a helper in the current folder", folder, "vostrane-updater.exe", "C:\\App",
         "helper_path must be a full path (a drive such as C:\\ or a share such as \\\\server\\share\\)."},
        {"an installation folder in a drive's current folder", folder, helper, "C:App",
         "install_dir must be a full path (a drive such as C:\\ or a share such as \\\\server\\share\\)."},
        {"an installation folder from the current drive's root", folder, helper, "\\App",
         "install_dir must be a full path (a drive such as C:\\ or a share such as \\\\server\\share\\)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vostrane_update_files files = fixture.files;
        files.update_dir = c.update_dir.c_str();
        const std::string app = c.install_dir + "\\app.exe";
        vostrane_error error{};
        EXPECT_EQ(vostrane_start_pending_update(&files, c.helper.c_str(), c.install_dir.c_str(), app.c_str(), &error),
                  VOSTRANE_FAILED);
        EXPECT_STREQ(error.message, c.message);
    }
    vostrane_update_options options{};
    options.msi_path = "update.msi";
    vostrane_error error{};
    EXPECT_EQ(vostrane_start_update(helper.c_str(), folder.c_str(), &options, &error), VOSTRANE_FAILED);
    EXPECT_STREQ(error.message,
                 "options.msi_path must be a full path (a drive such as C:\\ or a share such as \\\\server\\share\\).");
    EXPECT_FALSE(std::filesystem::exists(fixture.folder / L"helper-started.txt"));
}

// The started record's process, for tests that end a helper they started.
void end_recorded_helper(const std::filesystem::path& update_folder) {
    const auto record = read_started_record(read_file(update_folder / L"helper-started.txt"));
    if (!record) return;
    const win::unique_handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, record->process_id));
    if (!process) return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
}

// Finishes until the started helper has ended (a minute at most).
vostrane_status finish_once_ended(const vostrane_update_files& files, vostrane_update_result& result,
                                  vostrane_error& error) {
    for (int i = 0; i < 600; ++i) {
        const vostrane_status status = vostrane_finish_update(&files, &result, &error);
        if (status != VOSTRANE_UPDATE_RUNNING) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return VOSTRANE_UPDATE_RUNNING;
}

// Update 1 succeeded and left its document; update 2's helper cannot open its
// log (a folder of that name) and ends without writing one. Update 1's
// document must not be taken for update 2's outcome, nor its files discarded
// as installed.
TEST(UpdateClient, EarlierResultIsNeverTakenForThisUpdate) {
    UpdateFolderFixture fixture;
    write_file(fixture.folder / L"result.json", R"({"status":"success","exitCode":0,"message":""})");
    std::filesystem::create_directories(fixture.folder / L"helper.log");
    const std::string helper = utf8(build_file(L"vostrane-updater.exe"));
    vostrane_error error{};
    ASSERT_EQ(vostrane_start_pending_update(&fixture.files, helper.c_str(), "C:\\App", "C:\\App\\app.exe", &error),
              VOSTRANE_OK)
        << error.message;
    vostrane_update_result result{};
    const vostrane_status status = finish_once_ended(fixture.files, result, error);
    end_recorded_helper(fixture.folder);
    EXPECT_EQ(status, VOSTRANE_FAILED) << result.status;
    EXPECT_TRUE(std::string(error.message).starts_with("The update ended without a result")) << error.message;
    EXPECT_TRUE(std::filesystem::exists(fixture.manifest));
    EXPECT_TRUE(std::filesystem::exists(fixture.package));
}

// The same through vostrane_start_update with a result document of the
// caller's own naming: the earlier one there is gone once the start returns
// (this helper cannot have written one: its log is a folder).
TEST(UpdateClient, EarlierResultAtTheGivenPathIsRemovedByTheStart) {
    UpdateFolderFixture fixture;
    const auto custom_result = fixture.folder / L"custom-result.json";
    write_file(custom_result, R"({"status":"success","exitCode":0,"message":""})");
    write_file(fixture.folder / L"result.json", R"({"status":"success","exitCode":0,"message":""})");
    std::filesystem::create_directories(fixture.folder / L"helper.log");
    const std::string helper = utf8(build_file(L"vostrane-updater.exe"));
    const std::string msi_log = utf8(fixture.folder / L"msi.log");
    const std::string helper_log = utf8(fixture.folder / L"helper.log");
    const std::string result_path = utf8(custom_result);
    const std::string digest(64, 'a');
    vostrane_update_options options{};
    options.msi_path = fixture.package_text.c_str();
    options.install_dir = "C:\\App";
    options.app_path = "C:\\App\\app.exe";
    options.msi_log_path = msi_log.c_str();
    options.helper_log_path = helper_log.c_str();
    options.result_path = result_path.c_str();
    options.expected_sha256 = digest.c_str();
    options.expected_version = "2.0.0";
    options.signature = "c2ln";
    options.key_id = "k";
    options.signature_algorithm = "ed25519";
    vostrane_error error{};
    ASSERT_EQ(vostrane_start_update(helper.c_str(), fixture.folder_text.c_str(), &options, &error), VOSTRANE_OK)
        << error.message;
    EXPECT_FALSE(std::filesystem::exists(custom_result));
    EXPECT_FALSE(std::filesystem::exists(fixture.folder / L"result.json"));
    end_recorded_helper(fixture.folder);
}

// A document that cannot be removed (here a folder of its name) fails the
// start before anything is recorded or started.
TEST(UpdateClient, StartFailsWhenAnEarlierResultCannotBeRemoved) {
    UpdateFolderFixture fixture;
    std::filesystem::create_directories(fixture.folder / L"result.json");
    const std::string helper = utf8(build_file(L"vostrane-updater.exe"));
    vostrane_error error{};
    EXPECT_EQ(vostrane_start_pending_update(&fixture.files, helper.c_str(), "C:\\App", "C:\\App\\app.exe", &error),
              VOSTRANE_FAILED);
    EXPECT_TRUE(std::string(error.message).starts_with("Cannot delete ")) << error.message;
    EXPECT_NE(std::string(error.message).find("result.json: "), std::string::npos) << error.message;
    for (const auto& entry : std::filesystem::directory_iterator(fixture.folder)) {
        EXPECT_TRUE(entry.path().filename() == L"pending" || entry.path().filename() == L"result.json")
            << "left behind: " << entry.path();
    }
}

// The update folder given in another spelling of the same folder ('/' for
// '\\', its short form): while the helper runs (it waits for this process to
// exit), a finish reports it running and keeps its record.
TEST(UpdateClient, RunningHelperIsKnownHoweverTheFolderIsSpelled) {
    const auto short_form = [](const std::filesystem::path& folder) {
        const auto shortened = win::short_path(u"\\\\?\\" + u16(folder));
        return shortened ? utf8(std::filesystem::path(without_extended_prefix(*shortened))) : std::string();
    };
    const auto forward_slashes = [](const std::filesystem::path& folder) {
        std::string text = utf8(folder);
        std::ranges::replace(text, '\\', '/');
        return text;
    };
    struct Case {
        const char* what;
        std::function<std::string(const std::filesystem::path&)> spell;
    };
    const std::vector<Case> cases = {{"with '/'", forward_slashes}, {"in its short form", short_form}};
    const std::string helper = utf8(build_file(L"vostrane-updater.exe"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateFolderFixture fixture;
        const std::string spelled = c.spell(fixture.folder);
        ASSERT_FALSE(spelled.empty());
        ASSERT_NE(spelled, fixture.folder_text);
        vostrane_update_files files = fixture.files;
        files.update_dir = spelled.c_str();
        vostrane_error error{};
        ASSERT_EQ(vostrane_start_pending_update(&files, helper.c_str(), "C:\\App", "C:\\App\\app.exe", &error),
                  VOSTRANE_OK)
            << error.message;
        vostrane_update_result result{};
        EXPECT_EQ(vostrane_finish_update(&files, &result, &error), VOSTRANE_UPDATE_RUNNING) << error.message;
        EXPECT_TRUE(std::filesystem::exists(fixture.folder / L"helper-started.txt"));
        end_recorded_helper(fixture.folder);
    }
}

// The helper's copy, while held, can be neither written nor replaced nor
// deleted; once released it can (so the refusals are the hold's).
TEST(HelperCopy, HeldCopyCannotBeWrittenReplacedOrDeleted) {
    TempDir dir;
    const auto copy = dir / L"vostrane-updater.exe";
    const auto other = dir / L"other.exe";
    write_file(other, "another program");
    auto held = client::HeldHelperCopy::make(u16(build_file(L"stand-in-application.exe")), u16(copy));
    ASSERT_TRUE(held.has_value()) << held.error();
    const std::string bytes = read_file(build_file(L"stand-in-application.exe"));
    EXPECT_TRUE(read_file(copy) == bytes) << "the copy was changed";
    EXPECT_FALSE(open_as_other_writer(copy, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE).valid());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(copy.c_str()));
    EXPECT_FALSE(::MoveFileExW(other.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(::MoveFileExW(copy.c_str(), (dir / L"moved.exe").c_str(), 0));
    // The same from another process: the hold is the file's, not this process's.
    const std::u16string shell = u"C:\\windows\\system32\\cmd.exe";
    for (const std::vector<std::u16string>& command : {std::vector<std::u16string>{u"/c", u"del", u"/f", u16(copy)},
                                                       {u"/c", u"copy", u"/y", u16(other), u16(copy)},
                                                       {u"/c", u"move", u"/y", u16(other), u16(copy)}}) {
        ASSERT_TRUE(run_to_exit({shell, command, std::nullopt, false}).has_value());
    }
    EXPECT_TRUE(read_file(copy) == bytes) << "the copy was changed";
    EXPECT_EQ(read_file(other), "another program");
    held = std::unexpected(std::string("released"));
    EXPECT_TRUE(::DeleteFileW(copy.c_str()));
}

// A copy that exists already (planted) is never taken for the library's own.
TEST(HelperCopy, PlantedCopyIsRefused) {
    TempDir dir;
    const auto copy = dir / L"vostrane-updater.exe";
    write_file(copy, "planted");
    const auto held = client::HeldHelperCopy::make(u16(build_file(L"stand-in-application.exe")), u16(copy));
    ASSERT_FALSE(held.has_value());
    EXPECT_TRUE(held.error().starts_with("The update helper could not be copied: ")) << held.error();
    EXPECT_EQ(read_file(copy), "planted");
}

// The started process must run the held file itself: the same bytes at
// another path are another file.
TEST(HelperCopy, StartedImageMustBeTheHeldCopy) {
    TempDir dir;
    const auto copy = dir / L"stand-in-application.exe";
    const auto twin = dir / L"twin" / L"stand-in-application.exe";
    std::filesystem::create_directories(twin.parent_path());
    std::filesystem::copy_file(build_file(L"stand-in-application.exe"), twin);
    const auto held = client::HeldHelperCopy::make(u16(build_file(L"stand-in-application.exe")), u16(copy));
    ASSERT_TRUE(held.has_value()) << held.error();
    struct Case {
        const char* what;
        std::filesystem::path program;
        bool accepted;
    };
    const std::vector<Case> cases = {{"the held copy", copy, true}, {"the same bytes elsewhere", twin, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto child = start_suspended({u16(c.program), {u"1"}, std::nullopt, false});
        ASSERT_TRUE(child.has_value());
        const Status checked = held->check_image_of(child->process.get());
        EXPECT_EQ(checked.has_value(), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(checked.error(), "The started update helper does not run its copy.");
        }
        ::TerminateProcess(child->process.get(), 0);
        ::WaitForSingleObject(child->process.get(), 10000);
    }
}

// Removing a helper copy deletes the files listed through the folder's
// handle, each only when the name still leads to the file listed: after the
// listing, the folder replaced by a link to another folder, or a file
// replaced by another, loses nothing.
TEST(HelperCopy, RemovalDeletesOnlyTheFilesItListed) {
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path& copy_folder, const std::filesystem::path& elsewhere)> change;
        bool links_the_folder;
        std::vector<const wchar_t*> kept_in_folder;  // with links_the_folder: in the folder moved away
    };
    const std::vector<Case> cases = {
        {"nothing changed", [](const auto&, const auto&) {}, false, {}},
        {"the folder moved away and a link to another put in its place",
         [](const auto& copy_folder, const auto& elsewhere) {
             std::filesystem::rename(copy_folder, copy_folder.parent_path() / L"moved");
             point_unix_symlink(copy_folder, elsewhere);
         },
         true, {L"vostrane-updater.exe"}},
        {"a file replaced by another of its name",
         [](const auto& copy_folder, const auto&) {
             std::filesystem::rename(copy_folder / L"vostrane-updater.exe", copy_folder / L"moved.exe");
             write_file(copy_folder / L"vostrane-updater.exe", "planted");
         },
         false, {L"vostrane-updater.exe", L"moved.exe"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateFolderFixture fixture;
        const auto elsewhere = fixture.dir / L"elsewhere";
        std::filesystem::create_directories(elsewhere);
        write_file(elsewhere / L"vostrane-updater.exe", "keep me");
        const auto copy_folder = fixture.helper_copy(L"helper-00000000000000dd").parent_path();
        client::remove_helper_copy(u16(copy_folder), [&] { c.change(copy_folder, elsewhere); });
        EXPECT_EQ(read_file(elsewhere / L"vostrane-updater.exe"), "keep me");
        if (c.links_the_folder) remove_unix_symlink(copy_folder);
        const auto folder_now = c.links_the_folder ? copy_folder.parent_path() / L"moved" : copy_folder;
        for (const wchar_t* name : c.kept_in_folder) {
            EXPECT_TRUE(std::filesystem::exists(folder_now / name)) << "deleted: " << utf8(folder_now / name);
        }
        if (c.kept_in_folder.empty()) {
            EXPECT_FALSE(std::filesystem::exists(copy_folder));
        }
    }
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
