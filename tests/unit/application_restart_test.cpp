// The relaunch's decisions: which shell, which command, which message.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "process/application_restart.hpp"
#include "process_test_inputs.hpp"

namespace vostrane {
namespace {

using testing::files;
using testing::kAppPath;
using testing::kInstallDir;
using testing::text;

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

}  // namespace
}  // namespace vostrane
