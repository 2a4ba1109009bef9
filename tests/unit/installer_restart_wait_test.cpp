// The decisions of the wait, the installer step and the relaunch: which
// program, which command, which message.
#include <gtest/gtest.h>

#include <set>

#include "options.hpp"
#include "process/application_restart.hpp"
#include "process/installer.hpp"
#include "process/parent_wait.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

std::string text(std::u16string_view units) { return utf16_to_utf8_lossy(units); }

PathQuery files(std::set<std::u16string> existing) {
    return [existing = std::move(existing)](const std::u16string& path) { return existing.contains(path); };
}

TEST(InstallerLocation, SystemRootNamesThePlaceAndOnlyAMissingVariableFallsBackToTheSearch) {
    struct Case {
        std::optional<std::u16string> system_root;
        std::set<std::u16string> existing;
        std::optional<std::u16string> program;
    };
    const std::vector<Case> cases = {
        {u"C:\\Windows", {u"C:\\Windows\\System32\\msiexec.exe"}, u"C:\\Windows\\System32\\msiexec.exe"},
        {u"C:\\Windows\\", {u"C:\\Windows\\System32\\msiexec.exe"}, u"C:\\Windows\\System32\\msiexec.exe"},
        {u"D:", {u"D:System32\\msiexec.exe"}, u"D:System32\\msiexec.exe"},
        // Set, but the file is not there: not found, and no search anywhere else.
        {u"C:\\Windows", {u"C:\\Windows\\msiexec.exe", u"msiexec.exe"}, std::nullopt},
        // Set and empty: a path relative to the current directory.
        {u"", {u"System32\\msiexec.exe"}, u"System32\\msiexec.exe"},
        {u"", {}, std::nullopt},
        // Not set: the bare name, found or not; the launcher searches for it.
        {std::nullopt, {}, u"msiexec.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system_root ? text(*c.system_root) : "(not set)");
        EXPECT_EQ(installer_location(c.system_root, files(c.existing)), c.program);
    }
}

constexpr char kInstallDir[] = "C:\\Program Files\\App\\";
constexpr char kMsiLogPath[] = "C:\\Temp\\msi.log";
constexpr char kAppPath[] = "C:\\Program Files\\App\\app.exe";

TEST(InstallerCommand, HasTheEightArgumentsInOrderAndNoWorkingDirectory) {
    const ChildCommand command =
        installer_command(u"C:\\Windows\\System32\\msiexec.exe", u"C:\\Temp\\update.msi", kInstallDir, kMsiLogPath);
    EXPECT_EQ(text(command.program), "C:\\Windows\\System32\\msiexec.exe");
    const std::vector<std::u16string> arguments = {
        u"/i", u"C:\\Temp\\update.msi", u"/passive", u"/norestart", u"INSTALLDIR=C:\\Program Files\\App\\",
        u"VOSTRANE_INSTALLDIR_LOCK=1", u"/L*v", u"C:\\Temp\\msi.log"};
    EXPECT_EQ(command.arguments, arguments);
    EXPECT_FALSE(command.working_directory);
    EXPECT_EQ(text(*build_command_line(command)),
              "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\Temp\\update.msi /passive /norestart "
              "\"INSTALLDIR=C:\\Program Files\\App\\\\\" VOSTRANE_INSTALLDIR_LOCK=1 /L*v C:\\Temp\\msi.log");
}

TEST(InstallerCommand, NonAsciiPathsReachTheCommandAsUtf16) {
    const ChildCommand command = installer_command(u"msiexec.exe", u"C:\\\U0001F4E6.msi", "C:\\Caf\xc3\xa9 \xf0\x9f\x93\xa6",
                                                   "C:\\T\xc3\xa9l\xc3\xa9" "chargements\\msi.log");
    EXPECT_EQ(command.arguments[1], u"C:\\\U0001F4E6.msi") << "the package path as given";
    EXPECT_EQ(command.arguments[4], u"INSTALLDIR=C:\\Caf\u00e9 \U0001F4E6");
    EXPECT_EQ(command.arguments[7], u"C:\\T\u00e9l\u00e9chargements\\msi.log");
}

TEST(ShellProgram, SystemRootExplorerWhenItExistsOtherwiseTheBareName) {
    struct Case {
        std::optional<std::u16string> system_root;
        std::set<std::u16string> existing;
        std::u16string program;
    };
    const std::vector<Case> cases = {
        {u"C:\\Windows", {u"C:\\Windows\\explorer.exe"}, u"C:\\Windows\\explorer.exe"},
        {u"C:\\Windows\\", {u"C:\\Windows\\explorer.exe"}, u"C:\\Windows\\explorer.exe"},
        {u"C:\\Windows", {}, u"explorer.exe"},
        {u"", {u"explorer.exe"}, u"explorer.exe"},
        {std::nullopt, {u"C:\\Windows\\explorer.exe"}, u"explorer.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system_root ? text(*c.system_root) : "(not set)");
        EXPECT_EQ(text(choose_shell_program(c.system_root, files(c.existing))), text(c.program));
    }
}

TEST(RestartCommand, ShellGetsTheApplicationPathAsItsOnlyArgumentInTheInstallationDirectory) {
    const ChildCommand command = restart_command(u"C:\\Windows\\explorer.exe", kAppPath, kInstallDir);
    EXPECT_EQ(command.arguments, std::vector<std::u16string>{u"C:\\Program Files\\App\\app.exe"});
    EXPECT_EQ(command.working_directory, u"C:\\Program Files\\App\\");
    EXPECT_EQ(text(*build_command_line(command)),
              "\"C:\\Windows\\explorer.exe\" \"C:\\Program Files\\App\\app.exe\"");
}

TEST(RestartMessages, NameTheShellAsChosenAndShowInvalidUnicodeAsReplacementCharacters) {
    EXPECT_EQ(restart_requested_message(u"C:\\Windows\\explorer.exe", 5120),
              "Application restart requested through C:\\Windows\\explorer.exe with process id 5120.");
    EXPECT_EQ(restart_requested_message(u"explorer.exe", 4294967295u),
              "Application restart requested through explorer.exe with process id 4294967295.");
    const std::u16string unpaired = u"C:\\W" + std::u16string(1, char16_t(0xD800)) + u"\\explorer.exe";
    EXPECT_EQ(restart_requested_message(unpaired, 7),
              "Application restart requested through C:\\W\xef\xbf\xbd\\explorer.exe with process id 7.");
    EXPECT_EQ(restart_failed_message("program not found"), "Application restart failed: program not found");
}

TEST(ParentWait, WaitResultDecidesWhetherTheRunGoesOn) {
    EXPECT_TRUE(judge_parent_wait(0));
    const std::vector<std::pair<std::uint32_t, std::string>> failures = {
        {0x102, "The previous application process did not exit in time."},
        {0xFFFFFFFF, "Waiting for the previous application process failed."},  // WAIT_FAILED
        {0x80, "Waiting for the previous application process failed."},        // WAIT_ABANDONED
        {1, "Waiting for the previous application process failed."},
    };
    for (const auto& [result, message] : failures) {
        SCOPED_TRACE(result);
        const Status judged = judge_parent_wait(result);
        ASSERT_FALSE(judged);
        EXPECT_EQ(judged.error(), message);
    }
    EXPECT_EQ(waiting_for_process_message(4242), "Waiting for process 4242 to exit.");
    EXPECT_EQ(waiting_for_process_message(4294967295u), "Waiting for process 4294967295 to exit.");
}

}  // namespace
}  // namespace vostrane
