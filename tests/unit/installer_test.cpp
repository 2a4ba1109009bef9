// The installer step's decisions: which program, which command.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "process/installer.hpp"
#include "process_test_inputs.hpp"

namespace vostrane {
namespace {

using testing::files;
using testing::kInstallDir;
using testing::kMsiLogPath;
using testing::text;

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

}  // namespace
}  // namespace vostrane
