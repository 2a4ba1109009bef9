// The helper log and the result file on real files under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include <climits>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helper_process.hpp"
#include "reporting/helper_log.hpp"
#include "reporting/result_file.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

using testing::is_os_error_description;
using testing::LogLine;
using testing::parse_log_lines;
using testing::read_file;
using testing::TempDir;
using testing::utf8;
using testing::write_file;
namespace fs = std::filesystem;

// Opens a file as another process would, with the given sharing.
win::unique_file open_as_other_writer(const fs::path& path, DWORD share) {
    return win::unique_file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

void write_through(const win::unique_file& file, const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

// The log's lines; every one must have the "[seconds] " prefix.
std::vector<LogLine> log_lines(const fs::path& log) {
    const std::string text = read_file(log);
    auto lines = parse_log_lines(text);
    EXPECT_TRUE(lines) << "malformed log: " << text;
    return lines.value_or(std::vector<LogLine>{});
}

std::vector<std::string> log_messages(const fs::path& log) {
    std::vector<std::string> messages;
    for (const auto& line : log_lines(log)) messages.push_back(line.message);
    return messages;
}

// Makes a directory the current one for the scope, so that relative names
// resolve there and nothing lands in the test runner's directory.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const fs::path& directory) : previous_(fs::current_path()) {
        fs::current_path(directory);
    }
    ~CurrentDirectory() { fs::current_path(previous_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    fs::path previous_;
};

using Messages = std::vector<std::string>;

TEST(HelperLogWine, PrepareCreatesEveryMissingDirectoryAndAnEmptyLog) {
    TempDir dir;
    const std::vector<fs::path> logs = {
        dir / L"one\\two\\three\\helper.log",
        dir / L"forward/slashes/helper.log",
        dir / L"trailing\\\\separators\\\\helper.log",
        dir / L"\u0436\u0443\u0440\u043d\u0430\u043b\\\u65e5\u5fd7\\helper.log",
        dir / L"helper.log",
    };
    for (const auto& log : logs) {
        SCOPED_TRACE(utf8(log));
        ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
        EXPECT_TRUE(fs::is_regular_file(log));
        EXPECT_EQ(fs::file_size(log), 0u);
    }
}

TEST(HelperLogWine, PrepareFailsWithTheOsErrorWhenTheLogCannotBeMade) {
    TempDir dir;
    fs::create_directories(dir / L"logs\\helper.log");
    write_file(dir / L"file.txt", "in the way");
    const std::vector<fs::path> logs = {
        dir / L"logs\\helper.log",           // a directory
        dir / L"file.txt\\sub\\helper.log",  // a file where a directory must go
        L"Q:\\\\no-such-share-here\\helper.log",
    };
    for (const auto& log : logs) {
        SCOPED_TRACE(utf8(log));
        const Status prepared = prepare_helper_log(utf8(log));
        ASSERT_FALSE(prepared);
        EXPECT_TRUE(is_os_error_description(prepared.error())) << prepared.error();
    }
    EXPECT_FALSE(fs::exists(dir / L"file.txt\\sub"));
    EXPECT_EQ(read_file(dir / L"file.txt"), "in the way");
}

TEST(HelperLogWine, ADirectoryAsLogIsRefusedWithAccessDenied) {
    TempDir dir;
    fs::create_directories(dir / L"helper.log");
    const Status prepared = prepare_helper_log(utf8(dir / L"helper.log"));
    ASSERT_FALSE(prepared);
    EXPECT_TRUE(prepared.error().ends_with(" (os error 5)")) << prepared.error();
}

TEST(HelperLogWine, LinesCarryTheCurrentUnixTimeAndTheMessageByteForByte) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    const Messages messages = {
        "Vostrane native updater started.",
        "",
        "quotes \" and backslashes \\ stay",
        "non-ASCII \xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80 stays",
        "tab\tand control \x1b stay",
    };
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));
    for (const auto& message : messages) append_log_line(utf8(log), message);
    const auto after = static_cast<std::uint64_t>(std::time(nullptr));

    const std::vector<LogLine> lines = log_lines(log);
    ASSERT_EQ(lines.size(), messages.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].message, messages[i]);
        EXPECT_GE(lines[i].seconds, before);
        EXPECT_LE(lines[i].seconds, after);
        if (i > 0) {
            EXPECT_GE(lines[i].seconds, lines[i - 1].seconds) << "lines are never reordered";
        }
    }
}

TEST(HelperLogWine, LineBreaksInsideMessagesAreWrittenUnchanged) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    append_log_line(utf8(log), "first\nsecond\r\nthird\rend");
    // Only the first break ends a prefixed line; the rest is the message's own.
    const std::string text = read_file(log);
    const std::size_t first_break = text.find('\n') + 1;
    const auto head = parse_log_lines(std::string_view(text).substr(0, first_break));
    ASSERT_TRUE(head) << text;
    EXPECT_EQ(head->at(0).message, "first");
    EXPECT_EQ(text.substr(first_break), "second\r\nthird\rend\n");
}

TEST(HelperLogWine, ABareFileNameIsCreatedInTheCurrentDirectory) {
    TempDir dir;
    {
        const CurrentDirectory inside(dir.path());
        ASSERT_EQ(prepare_helper_log("bare-helper.log"), Status{});
        append_log_line("bare-helper.log", "in the current directory");
    }
    EXPECT_EQ(log_messages(dir / L"bare-helper.log"), Messages{"in the current directory"});
}

TEST(HelperLogWine, TheNullDeviceServesAsALogThatKeepsNothing) {
    TempDir dir;
    {
        const CurrentDirectory inside(dir.path());
        const Status prepared = prepare_helper_log("NUL");
        EXPECT_TRUE(prepared) << prepared.error();
        append_log_line("NUL", "discarded");
        write_result_file("NUL", {"success", 0, ""});
        clear_result_file("NUL");
        EXPECT_EQ(prepare_helper_log("NUL"), Status{});
    }
    // Taken for an ordinary name, it would have left a file called NUL here.
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(HelperLogWine, ASecondPrepareEmptiesTheLog) {
    TempDir dir;
    const fs::path log = dir / L"logs\\helper.log";
    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    append_log_line(utf8(log), "earlier run");
    ASSERT_EQ(log_messages(log), Messages{"earlier run"});

    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    EXPECT_EQ(fs::file_size(log), 0u);
    append_log_line(utf8(log), "this run");
    EXPECT_EQ(log_messages(log), Messages{"this run"});
}

TEST(HelperLogWine, PrepareEmptiesHiddenAndSystemLogsToo) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    write_file(log, "[1] old line\n");
    ASSERT_TRUE(::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    EXPECT_EQ(fs::file_size(log), 0u);
}

TEST(HelperLogWine, ADeletedLogIsRecreatedWithOnlyLaterLines) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    append_log_line(utf8(log), "before deletion");
    ASSERT_TRUE(::DeleteFileW(log.c_str()));
    append_log_line(utf8(log), "after deletion");
    append_log_line(utf8(log), "and on");
    EXPECT_EQ(log_messages(log), (Messages{"after deletion", "and on"}));
}

TEST(HelperLogWine, LinesGoToTheEndPastAnotherWritersBytes) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    append_log_line(utf8(log), "first");

    // Another writer, holding the log open with full sharing, appends too:
    // the helper's line must land after its bytes, not at the helper's own
    // start position, and the other writer finds it there.
    win::unique_file other = open_as_other_writer(log, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(other.valid());
    ::SetFilePointer(other.get(), 0, nullptr, FILE_END);
    write_through(other, "[2] from the application\n");
    append_log_line(utf8(log), "second");
    ::SetFilePointer(other.get(), 0, nullptr, FILE_END);
    write_through(other, "[3] the application again\n");
    other.reset();

    EXPECT_EQ(log_messages(log), (Messages{"first", "from the application", "second", "the application again"}));
}

TEST(HelperLogWine, ALineIsLostSilentlyWhileTheLogIsLocked) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(utf8(log)), Status{});
    win::unique_file locker = open_as_other_writer(log, 0);
    ASSERT_TRUE(locker.valid());
    append_log_line(utf8(log), "lost");
    locker.reset();
    append_log_line(utf8(log), "kept");
    EXPECT_EQ(log_messages(log), Messages{"kept"});
}

TEST(HelperLogWine, AppendingCreatesNoDirectories) {
    TempDir dir;
    append_log_line(utf8(dir / L"missing\\helper.log"), "nowhere to go");
    EXPECT_FALSE(fs::exists(dir / L"missing"));
}

// The names in a folder, to see that no temporary file was left behind.
std::vector<std::wstring> folder_entries(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ResultFileWine, DocumentsReadBackByteForByte) {
    TempDir dir;
    const fs::path result = dir / L"result.json";
    write_result_file(utf8(result), {"error", 1603, "Say \"C:\\x\"\r\n\x01\x7f/\xC3\xA9"});
    EXPECT_EQ(read_file(result),
              "{\"status\":\"error\",\"exitCode\":1603,\"message\":\"Say \\\"C:\\\\x\\\"\\r\\n\\u0001\x7f/\xC3\xA9\"}");

    // Each document replaces the last, longer or shorter, with no trailing bytes.
    const std::vector<UpdateOutcome> outcomes = {
        {"success", 0, ""},
        {"error", static_cast<std::int32_t>(0xC0000005u), "Windows Installer exited with code -1073741819."},
        {"error", 1603, "Windows Installer was not found."},
        {"error", INT32_MIN, std::string(70000, 'x')},
        {"restartInitiated", 1641, "Windows has started a restart to finish the update."},
    };
    for (const auto& outcome : outcomes) {
        write_result_file(utf8(result), outcome);
        EXPECT_EQ(read_file(result), result_document(outcome)) << outcome.status << " " << outcome.exit_code;
    }
    EXPECT_EQ(folder_entries(dir.path()), std::vector<std::wstring>{L"result.json"});
}

// The file's identity, which a rename brings along and a rewrite in place keeps.
std::uint64_t file_index(const fs::path& path) {
    win::unique_file file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    EXPECT_TRUE(file.valid() && ::GetFileInformationByHandle(file.get(), &information));
    return (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
}

TEST(ResultFileWine, AnEarlierDocumentIsReplacedByANewFileNotRewrittenInPlace) {
    TempDir dir;
    const fs::path result = dir / L"result.json";
    write_file(result, std::string(500, 'x'));
    const std::uint64_t before = file_index(result);
    write_result_file(utf8(result), {"success", 0, ""});
    EXPECT_EQ(read_file(result), R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_NE(file_index(result), before);
}

TEST(ResultFileWine, ReplacesAHiddenFileAndOneHeldOpenBySomeoneElse) {
    TempDir dir;
    const fs::path result = dir / L"result.json";
    write_file(result, std::string(500, 'x'));
    ASSERT_TRUE(::SetFileAttributesW(result.c_str(), FILE_ATTRIBUTE_HIDDEN));
    win::unique_file reader = open_as_other_writer(result, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(reader.valid());
    write_result_file(utf8(result), {"success", 0, ""});
    reader.reset();
    EXPECT_EQ(read_file(result), R"({"status":"success","exitCode":0,"message":""})");
}

// With no reader, the document is put in place in one step (above). A file
// that someone holds open cannot be replaced by a rename, whatever it shares,
// so the direct write follows: a reader that shares writing then reads the new
// document through its handle; one that does not keeps the old one, whole.
// Either way no temporary file stays behind.
TEST(ResultFileWine, WhatAReaderOfTheOldDocumentSees) {
    const std::string old_document = R"({"status":"error","exitCode":1602,"message":"an earlier run"})";
    const std::string new_document = R"({"status":"success","exitCode":0,"message":""})";
    struct Case {
        const char* name;
        DWORD reader_sharing;
        bool rewritten;
    };
    const Case cases[] = {
        {"reader shares everything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        {"reader shares reading and deleting", FILE_SHARE_READ | FILE_SHARE_DELETE, false},
        {"reader shares reading only", FILE_SHARE_READ, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path result = dir / L"result.json";
        write_file(result, old_document);
        win::unique_file reader(::CreateFileW(result.c_str(), GENERIC_READ, c.reader_sharing, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader.valid());

        write_result_file(utf8(result), {"success", 0, ""});

        char bytes[256];
        DWORD read = 0;
        ASSERT_TRUE(::ReadFile(reader.get(), bytes, sizeof bytes, &read, nullptr));
        EXPECT_EQ(std::string(bytes, read), c.rewritten ? new_document : old_document);
        reader.reset();
        EXPECT_EQ(read_file(result), c.rewritten ? new_document : old_document);
        EXPECT_EQ(folder_entries(dir.path()), std::vector<std::wstring>{L"result.json"});
    }
}

TEST(ResultFileWine, NothingIsWrittenWhereTheDirectoryIsMissing) {
    TempDir dir;
    write_result_file(utf8(dir / L"missing\\result.json"), {"success", 0, ""});
    EXPECT_FALSE(fs::exists(dir / L"missing"));
}

// Wine 8 refuses the extended disposition class (21, FileDispositionInfoEx)
// with error 87, so under Wine the read-only cases exercise only the fallback
// that clears the attribute before marking the file.
TEST(ResultFileWine, ClearDeletesPlainReadOnlyAndHiddenFiles) {
    TempDir dir;
    struct Case {
        const wchar_t* name;
        DWORD attributes;
    };
    const std::vector<Case> cases = {
        {L"plain.json", FILE_ATTRIBUTE_NORMAL},
        {L"read-only.json", FILE_ATTRIBUTE_READONLY},
        {L"hidden-read-only.json", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {L"\u65e7\u7ed3\u679c.json", FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& c : cases) {
        const fs::path result = dir / c.name;
        SCOPED_TRACE(utf8(result));
        write_file(result, "{\"status\":\"success\"}");
        ASSERT_TRUE(::SetFileAttributesW(result.c_str(), c.attributes));
        clear_result_file(utf8(result));
        EXPECT_FALSE(fs::exists(result));
    }
}

TEST(ResultFileWine, ClearIgnoresWhatItCannotOrNeedNotDelete) {
    TempDir dir;
    fs::create_directories(dir / L"a-directory.json");
    // A missing file or directory leaves nothing to check afterwards: these
    // two calls need only return quietly.
    clear_result_file(utf8(dir / L"missing.json"));
    clear_result_file(utf8(dir / L"missing\\result.json"));
    clear_result_file(utf8(dir / L"a-directory.json"));
    EXPECT_TRUE(fs::is_directory(dir / L"a-directory.json"));
}

TEST(ResultFileWine, ClearedThenWrittenLeavesOnlyTheNewDocument) {
    TempDir dir;
    const fs::path result = dir / L"result.json";
    write_file(result, "stale document that is much longer than the new one");
    ASSERT_TRUE(::SetFileAttributesW(result.c_str(), FILE_ATTRIBUTE_READONLY));
    clear_result_file(utf8(result));
    ASSERT_FALSE(fs::exists(result));
    write_result_file(utf8(result), {"restartRequired", 3010, "Windows restart is required to finish the update."});
    EXPECT_EQ(read_file(result),
              R"({"status":"restartRequired","exitCode":3010,"message":"Windows restart is required to finish the update."})");
}

}  // namespace
}  // namespace vostrane
