// The helper log on real files under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "helper_process.hpp"
#include "reporting/helper_log.hpp"
#include "reporting/result_file.hpp"  // the null device as a result file too
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

using testing::is_os_error_description;
using testing::LogLine;
using testing::open_as_other_writer;
using testing::parse_log_lines;
using testing::read_file;
using testing::TempDir;
using testing::u16;
using testing::utf8;
using testing::write_file;
namespace fs = std::filesystem;

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
        ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
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
        const Status prepared = prepare_helper_log(u16(log));
        ASSERT_FALSE(prepared);
        EXPECT_TRUE(is_os_error_description(prepared.error())) << prepared.error();
    }
    EXPECT_FALSE(fs::exists(dir / L"file.txt\\sub"));
    EXPECT_EQ(read_file(dir / L"file.txt"), "in the way");
}

TEST(HelperLogWine, ADirectoryAsLogIsRefusedWithAccessDenied) {
    TempDir dir;
    fs::create_directories(dir / L"helper.log");
    const Status prepared = prepare_helper_log(u16(dir / L"helper.log"));
    ASSERT_FALSE(prepared);
    EXPECT_TRUE(prepared.error().ends_with(" (os error 5)")) << prepared.error();
}

TEST(HelperLogWine, LinesCarryTheCurrentUnixTimeAndTheMessageByteForByte) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    const Messages messages = {
        "Vostrane native updater started.",
        "",
        "quotes \" and backslashes \\ stay",
        "non-ASCII \xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80 stays",
        "tab\tand control \x1b stay",
    };
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));
    for (const auto& message : messages) append_log_line(u16(log), message);
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
    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    append_log_line(u16(log), "first\nsecond\r\nthird\rend");
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
        ASSERT_EQ(prepare_helper_log(u"bare-helper.log"), Status{});
        append_log_line(u"bare-helper.log", "in the current directory");
    }
    EXPECT_EQ(log_messages(dir / L"bare-helper.log"), Messages{"in the current directory"});
}

TEST(HelperLogWine, TheNullDeviceServesAsALogThatKeepsNothing) {
    TempDir dir;
    {
        const CurrentDirectory inside(dir.path());
        const Status prepared = prepare_helper_log(u"NUL");
        EXPECT_TRUE(prepared) << prepared.error();
        append_log_line(u"NUL", "discarded");
        write_result_file(u"NUL", {"success", 0, ""});
        clear_result_file(u"NUL");
        EXPECT_EQ(prepare_helper_log(u"NUL"), Status{});
    }
    // Taken for an ordinary name, it would have left a file called NUL here.
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(HelperLogWine, ASecondPrepareEmptiesTheLog) {
    TempDir dir;
    const fs::path log = dir / L"logs\\helper.log";
    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    append_log_line(u16(log), "earlier run");
    ASSERT_EQ(log_messages(log), Messages{"earlier run"});

    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    EXPECT_EQ(fs::file_size(log), 0u);
    append_log_line(u16(log), "this run");
    EXPECT_EQ(log_messages(log), Messages{"this run"});
}

TEST(HelperLogWine, PrepareEmptiesHiddenAndSystemLogsToo) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    write_file(log, "[1] old line\n");
    ASSERT_TRUE(::SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    EXPECT_EQ(fs::file_size(log), 0u);
}

TEST(HelperLogWine, ADeletedLogIsRecreatedWithOnlyLaterLines) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    append_log_line(u16(log), "before deletion");
    ASSERT_TRUE(::DeleteFileW(log.c_str()));
    append_log_line(u16(log), "after deletion");
    append_log_line(u16(log), "and on");
    EXPECT_EQ(log_messages(log), (Messages{"after deletion", "and on"}));
}

TEST(HelperLogWine, LinesGoToTheEndPastAnotherWritersBytes) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    append_log_line(u16(log), "first");

    // Another writer, holding the log open with full sharing, appends too:
    // the helper's line must land after its bytes, not at the helper's own
    // start position, and the other writer finds it there.
    win::unique_file other = open_as_other_writer(log, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(other.valid());
    ::SetFilePointer(other.get(), 0, nullptr, FILE_END);
    write_through(other, "[2] from the application\n");
    append_log_line(u16(log), "second");
    ::SetFilePointer(other.get(), 0, nullptr, FILE_END);
    write_through(other, "[3] the application again\n");
    other.reset();

    EXPECT_EQ(log_messages(log), (Messages{"first", "from the application", "second", "the application again"}));
}

TEST(HelperLogWine, ALineIsLostSilentlyWhileTheLogIsLocked) {
    TempDir dir;
    const fs::path log = dir / L"helper.log";
    ASSERT_EQ(prepare_helper_log(u16(log)), Status{});
    win::unique_file locker = open_as_other_writer(log, 0);
    ASSERT_TRUE(locker.valid());
    append_log_line(u16(log), "lost");
    locker.reset();
    append_log_line(u16(log), "kept");
    EXPECT_EQ(log_messages(log), Messages{"kept"});
}

TEST(HelperLogWine, AppendingCreatesNoDirectories) {
    TempDir dir;
    append_log_line(u16(dir / L"missing\\helper.log"), "nowhere to go");
    EXPECT_FALSE(fs::exists(dir / L"missing"));
}

}  // namespace
}  // namespace vostrane
