// A disk that fills up while the helper writes: what was written before stays
// whole, and the result document is written whole or not at all. Runs on a
// small tmpfs that tests/support/with_small_disk.sh mounts; skips where it cannot.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "helper_process.hpp"
#include "reporting/helper_log.hpp"
#include "reporting/result_file.hpp"
#include "unicode.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::testing {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> small_disk() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"VOSTRANE_SMALL_DISK", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return fs::path(path);
}

// Takes every free byte of the disk with one file, removed at the end.
class DiskFiller {
public:
    explicit DiskFiller(fs::path file) : file_(std::move(file)) {
        win::unique_file filler(::CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        const std::string block(4096, 'f');
        DWORD written = 0;
        // The last write that fits only in part is cut short; the next one fails.
        while (filler && ::WriteFile(filler.get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr) &&
               written > 0) {
        }
    }
    ~DiskFiller() { fs::remove(file_); }
    DiskFiller(const DiskFiller&) = delete;
    DiskFiller& operator=(const DiskFiller&) = delete;

private:
    fs::path file_;
};

#define REQUIRE_SMALL_DISK(disk)                                                             \
    const std::optional<fs::path> disk = small_disk();                                       \
    if (!disk) GTEST_SKIP() << "no small disk: run through ctest, which mounts a tmpfs for it"

TEST(FullDisk, ResultDocumentIsWrittenWholeOrNotAtAll) {
    REQUIRE_SMALL_DISK(disk);
    const fs::path folder = *disk / L"result";
    fs::create_directories(folder);
    const fs::path result = folder / L"result.json";
    const std::string earlier = R"({"status":"success","exitCode":0,"message":""})";
    write_file(result, earlier);
    const UpdateOutcome outcome{"error", 1603, std::string(20000, 'm')};
    {
        DiskFiller full(*disk / L"filler");
        write_result_file(u16(result), outcome);
        EXPECT_EQ(read_file(result), earlier) << "the earlier document stays whole";

        fs::remove(result);
        write_result_file(u16(result), outcome);
        EXPECT_FALSE(fs::exists(result)) << "no part of a document";
        for (const auto& entry : fs::directory_iterator(folder)) ADD_FAILURE() << "left behind: " << utf8(entry.path());
    }
    write_result_file(u16(result), outcome);
    EXPECT_EQ(read_file(result), result_document(outcome)) << "with room again, the whole document";
}

TEST(FullDisk, LogLineThatDoesNotFitLeavesTheEarlierLinesWhole) {
    REQUIRE_SMALL_DISK(disk);
    const fs::path log = *disk / L"logs\\helper.log";
    ASSERT_TRUE(prepare_helper_log(u16(log)));
    append_log_line(u16(log), "Vostrane native updater started.");
    const std::string before = read_file(log);
    ASSERT_TRUE(parse_log(before).has_value());
    {
        DiskFiller full(*disk / L"filler");
        append_log_line(u16(log), std::string(64 * 1024, 'x'));
    }
    EXPECT_TRUE(read_file(log).starts_with(before));
    append_log_line(u16(log), "with room again");
    EXPECT_TRUE(read_file(log).ends_with("] with room again\n"));
}

}  // namespace
}  // namespace vostrane::testing
