#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command_line.hpp"

namespace vostrane {
namespace {

std::vector<std::u16string> split_by_windows(const std::u16string& command_line) {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(reinterpret_cast<const wchar_t*>(command_line.c_str()), &count);
    EXPECT_NE(argv, nullptr) << "CommandLineToArgvW failed with " << ::GetLastError();
    if (argv == nullptr) return {};
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> owner(argv, &::LocalFree);
    std::vector<std::u16string> arguments;
    for (int i = 0; i < count; ++i) arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    return arguments;
}

// Command lines on which the C runtime's rules, which split_command_line
// follows, and CommandLineToArgvW agree. These, where the two part ways, are
// left out:
// - A doubled quote inside quotes: the C runtime gives a literal quote and stays
//   inside quotes; CommandLineToArgvW gives the quote but leaves quotes, so
//   "a""b c" is one argument to us and two to it.
// - A program name whose quotes do not wrap all of it ("app".exe, "app.exe"a,
//   C:\a"b c"d): the C runtime lets quotes toggle anywhere in the name, while
//   CommandLineToArgvW ends a quoted name at its closing quote and an unquoted
//   one at the first space, quotes and all.
// - The empty command line, for which CommandLineToArgvW returns the path of
//   the running program instead of an empty name.
const std::vector<std::u16string> kCommandLines = {
    u"app.exe",
    u"app.exe a b",
    u"app.exe   a \t\tb\t",
    u"app.exe\ta",
    u"app.exe a\u3000b\u00A0c",
    u"app.exe \u00FCber \U0001F600",
    u"app.exe \"a b\" c",
    u"app.exe \"a\tb\"",
    u"app.exe a\"b c\"d",
    u"app.exe \"a b\"c\"d e\"",
    u"app.exe \"\"",
    u"app.exe \"\" \"\"",
    u"app.exe a \"\" b",
    u"app.exe a\"\"b",
    u"app.exe \"a b",
    u"app.exe a \"",
    u"app.exe \"a\"\"b\"",
    u"app.exe \"\"\"\"",
    u"app.exe \"\"\"\"\"\" a",
    u"app.exe a\\b",
    u"app.exe a\\\\b",
    u"app.exe \\\\server\\share",
    u"app.exe \\\"a",
    u"app.exe \\\\\\\"a",
    u"app.exe \"a \\\" b\"",
    u"app.exe \\\\\"a b\"",
    u"app.exe \\\\\\\\\"a b\"",
    u"app.exe \"C:\\dir\\\\\" b",
    u"app.exe \"C:\\dir\\\" b",
    u"app.exe a\\",
    u"app.exe a\\\\ b\\\\\\",
    u"app.exe \"a\\\\",
    u"\"C:\\Program Files\\Vostrane\\updater.exe\" --a b",
    u"\"C:\\dir\\\\\" a",
    u"\"app .exe",
    u"app.exe\t\ta",
    u" app.exe a",
    u"\tapp.exe",
    // Only space and tab separate: line feeds and other control characters
    // stay inside the argument, quoted or not.
    u"app.exe a\nb",
    u"app.exe a\n b",
    u"app.exe \n",
    u"app.exe a\rb c\r\n",
    u"app.exe a\vb\fc",
    u"app.exe \x01a\x1f b\x7f",
    u"app.exe \"a\nb\" c",
    u"app.exe\na",
};

TEST(CommandLineWine, SplitsLikeCommandLineToArgvW) {
    for (const auto& command_line : kCommandLines) {
        SCOPED_TRACE(testing::PrintToString(command_line));
        const auto ours = split_command_line(command_line);
        const auto windows = split_by_windows(command_line);
        EXPECT_TRUE(ours == windows) << "ours:    " << testing::PrintToString(ours)
                                     << "\nWindows: " << testing::PrintToString(windows);
    }
}

// This process's own command line, as Windows hands it to every program.
TEST(CommandLineWine, SplitsThisProcessCommandLineLikeCommandLineToArgvW) {
    const std::u16string command_line(reinterpret_cast<const char16_t*>(::GetCommandLineW()));
    const auto ours = split_command_line(command_line);
    EXPECT_TRUE(ours == split_by_windows(command_line)) << testing::PrintToString(ours);
}

}  // namespace
}  // namespace vostrane
