// Faults let in between two steps of a run (WorldWithAFault): a package that
// goes away, a log another process locks, a result folder that is removed.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "in_process_run.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::testing {
namespace {

TEST(FaultsDuringARun, PackageRemovedAfterItsTypeCheckIsRejectedWithTheSystemsText) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    FakeSystemRoot windows;
    VerifiedRun run;
    WorldWithAFault world(WorldWithAFault::Before::lock, [&run] { std::filesystem::remove(run.files.msi); });

    const InProcessRun helper = run_in_process(run.arguments, world);
    EXPECT_EQ(helper.exit_code, 1603u);
    const std::string message = win::system_message(ERROR_FILE_NOT_FOUND) + " (os error 2)";
    EXPECT_EQ(read_file(run.files.result), R"({"status":"error","exitCode":1603,"message":")" + message + R"("})");
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Package verification failed: " + message);
    EXPECT_TRUE(is_restart_line(lines[2], utf8(windows.shell()))) << lines[2];
}

TEST(FaultsDuringARun, LogLockedByAnotherProcessLosesLaterLinesOnlyAndTheRunGoesOn) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    FakeSystemRoot windows;
    VerifiedRun run;
    win::unique_file holder;
    WorldWithAFault world(WorldWithAFault::Before::wait, [&] {
        holder.reset(::CreateFileW(run.files.log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder.valid());
    });

    const InProcessRun helper = run_in_process(run.arguments, world);
    holder.reset();
    EXPECT_EQ(helper.exit_code, 0u);
    EXPECT_EQ(read_file(run.files.result), R"({"status":"success","exitCode":0,"message":""})");
    EXPECT_EQ(log_messages(run.files.log), std::vector<std::string>{"Vostrane native updater started."});
    EXPECT_EQ(windows.records(2).size(), 2u) << "installed and relaunched";
}

TEST(FaultsDuringARun, ResultFolderRemovedDuringTheRunLeavesNoResultAndChangesNothingElse) {
    SKIP_UNLESS_DEVELOPMENT_KEY();
    FakeSystemRoot windows;
    VerifiedRun run;
    run.files.result = run.dir / L"reports\\result.json";
    std::filesystem::create_directories(run.files.result.parent_path());
    run.arguments = arguments_for(run.files, signed_options(read_file(run.files.msi), "1.0.0"));
    WorldWithAFault world(WorldWithAFault::Before::write_result,
                          [&run] { std::filesystem::remove_all(run.files.result.parent_path()); });

    const InProcessRun helper = run_in_process(run.arguments, world);
    EXPECT_EQ(helper.exit_code, 0u);
    EXPECT_FALSE(std::filesystem::exists(run.files.result.parent_path()));
    for (const auto& entry : std::filesystem::directory_iterator(run.dir.path())) {
        EXPECT_NE(entry.path().extension(), L".tmp") << entry.path();
    }
    const auto lines = log_messages(run.files.log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "Windows Installer exited with code 0.");
}

}  // namespace
}  // namespace vostrane::testing
