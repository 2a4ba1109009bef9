// The result file on real files under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "helper_process.hpp"
#include "reporting/result_file.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

using testing::open_as_other_writer;
using testing::read_file;
using testing::TempDir;
using testing::u16;
using testing::utf8;
using testing::write_file;
namespace fs = std::filesystem;

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
    write_result_file(u16(result), {"error", 1603, "Say \"C:\\x\"\r\n\x01\x7f/\xC3\xA9"});
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
        write_result_file(u16(result), outcome);
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
    write_result_file(u16(result), {"success", 0, ""});
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
    write_result_file(u16(result), {"success", 0, ""});
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

        write_result_file(u16(result), {"success", 0, ""});

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
    write_result_file(u16(dir / L"missing\\result.json"), {"success", 0, ""});
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
        clear_result_file(u16(result));
        EXPECT_FALSE(fs::exists(result));
    }
}

TEST(ResultFileWine, ClearIgnoresWhatItCannotOrNeedNotDelete) {
    TempDir dir;
    fs::create_directories(dir / L"a-directory.json");
    // A missing file or directory leaves nothing to check afterwards: these
    // two calls need only return quietly.
    clear_result_file(u16(dir / L"missing.json"));
    clear_result_file(u16(dir / L"missing\\result.json"));
    clear_result_file(u16(dir / L"a-directory.json"));
    EXPECT_TRUE(fs::is_directory(dir / L"a-directory.json"));
}

TEST(ResultFileWine, ClearedThenWrittenLeavesOnlyTheNewDocument) {
    TempDir dir;
    const fs::path result = dir / L"result.json";
    write_file(result, "stale document that is much longer than the new one");
    ASSERT_TRUE(::SetFileAttributesW(result.c_str(), FILE_ATTRIBUTE_READONLY));
    clear_result_file(u16(result));
    ASSERT_FALSE(fs::exists(result));
    write_result_file(u16(result), {"restartRequired", 3010, "Windows restart is required to finish the update."});
    EXPECT_EQ(read_file(result),
              R"({"status":"restartRequired","exitCode":3010,"message":"Windows restart is required to finish the update."})");
}

}  // namespace
}  // namespace vostrane
