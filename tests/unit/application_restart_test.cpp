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

// A full application path of `length` characters.
std::u16string app_path_of_length(std::size_t length) {
    return u"C:\\" + std::u16string(length - 3 - 8, u'd') + u"\\app.exe";
}

TEST(ShellApplicationPath, FromMaxPathCharactersTheShellGetsTheShortFormOrTheRestartFails) {
    const std::u16string at_267 = app_path_of_length(267);
    struct Case {
        std::string name;
        std::u16string app_path;
        std::optional<std::u16string> full_path;   // the resolver's answer
        std::optional<std::u16string> short_form;  // the query's answer
        std::optional<std::u16string> shell_gets;  // otherwise the restart fails
    };
    const std::vector<Case> cases = {
        {"259: as given, nothing asked", app_path_of_length(259), std::nullopt, u"C:\\X", app_path_of_length(259)},
        {"259 with '/': as given", u"C:/" + app_path_of_length(259).substr(3), std::nullopt, u"C:\\X",
         u"C:/" + app_path_of_length(259).substr(3)},
        {"260: its short form", app_path_of_length(260), app_path_of_length(260), u"\\\\?\\C:\\DDDD~1\\app.exe",
         u"C:\\DDDD~1\\app.exe"},
        {"267: its short form", at_267, at_267, u"\\\\?\\C:\\DDDD~AOW\\app.exe", u"C:\\DDDD~AOW\\app.exe"},
        {"267 relative: the short form of its full path", u"..\\" + at_267.substr(3), at_267,
         u"\\\\?\\C:\\DDDD~AOW\\app.exe", u"C:\\DDDD~AOW\\app.exe"},
        {"267 on a share", u"\\\\server\\share\\" + at_267.substr(3), u"\\\\server\\share\\" + at_267.substr(3),
         u"\\\\?\\UNC\\server\\share\\DDDD~AOW\\app.exe", u"\\\\server\\share\\DDDD~AOW\\app.exe"},
        {"short form just short enough", at_267, at_267, u"\\\\?\\" + app_path_of_length(259),
         app_path_of_length(259)},
        {"short form still too long", at_267, at_267, u"\\\\?\\" + app_path_of_length(260), std::nullopt},
        {"no short form", at_267, at_267, std::nullopt, std::nullopt},
        {"prefix alone", at_267, at_267, u"\\\\?\\", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::u16string> made_full;
        std::vector<std::u16string> asked;
        const auto path = shell_application_path(
            c.app_path,
            [&](const std::u16string& p) {
                made_full.push_back(p);
                return c.full_path;
            },
            [&](const std::u16string& extended) {
                asked.push_back(extended);
                return c.short_form;
            });
        const bool needs_short_form = c.app_path.size() >= 260;
        EXPECT_EQ(made_full, needs_short_form ? std::vector{c.app_path} : std::vector<std::u16string>{});
        EXPECT_EQ(asked, needs_short_form ? std::vector{extended_length_form(*c.full_path)}
                                          : std::vector<std::u16string>{});
        if (c.shell_gets) {
            ASSERT_TRUE(path);
            EXPECT_EQ(text(*path), text(*c.shell_gets));
        } else {
            ASSERT_FALSE(path);
            EXPECT_EQ(path.error(), IoError::fixed_text("application path is too long and has no short form"));
        }
    }
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
    EXPECT_EQ(restart_failed_message("application path is too long and has no short form"),
              "Application restart failed: application path is too long and has no short form");
}

}  // namespace
}  // namespace vostrane
