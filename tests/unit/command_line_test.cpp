#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.hpp"

namespace vostrane {
namespace {

struct SplitCase {
    std::u16string command_line;
    std::vector<std::u16string> arguments;  // program name first
};

void expect_splits(const std::vector<SplitCase>& cases) {
    for (const auto& [command_line, arguments] : cases) {
        SCOPED_TRACE(testing::PrintToString(command_line));
        const auto split = split_command_line(command_line);
        EXPECT_TRUE(split == arguments) << testing::PrintToString(split);
    }
}

TEST(CommandLineSplit, SpacesAndTabsSeparate) {
    expect_splits({
        {u"", {u""}},
        {u"app.exe", {u"app.exe"}},
        {u"app.exe a b", {u"app.exe", u"a", u"b"}},
        {u"app.exe   a \t\tb\t", {u"app.exe", u"a", u"b"}},
        {u"app.exe\ta", {u"app.exe", u"a"}},
        {u"app.exe a\u3000b\u00A0c", {u"app.exe", u"a\u3000b\u00A0c"}},  // only space and tab separate
        {u"app.exe \u00FCber \U0001F600", {u"app.exe", u"\u00FCber", u"\U0001F600"}},
    });
}

TEST(CommandLineSplit, QuotesGroup) {
    expect_splits({
        {u"app.exe \"a b\" c", {u"app.exe", u"a b", u"c"}},
        {u"app.exe \"a\tb\"", {u"app.exe", u"a\tb"}},
        {u"app.exe a\"b c\"d", {u"app.exe", u"ab cd"}},
        {u"app.exe \"a b\"c\"d e\"", {u"app.exe", u"a bcd e"}},
        {u"app.exe \"\"", {u"app.exe", u""}},
        {u"app.exe \"\" \"\"", {u"app.exe", u"", u""}},
        {u"app.exe a \"\" b", {u"app.exe", u"a", u"", u"b"}},
        {u"app.exe a\"\"b", {u"app.exe", u"ab"}},
        // An unclosed quote runs to the end of the line.
        {u"app.exe \"a b", {u"app.exe", u"a b"}},
        {u"app.exe a \"", {u"app.exe", u"a", u""}},
    });
}

TEST(CommandLineSplit, DoubledQuoteInsideQuotesIsLiteralAndQuotingGoesOn) {
    expect_splits({
        {u"app.exe \"a\"\"b\"", {u"app.exe", u"a\"b"}},
        {u"app.exe \"a\"\"b c\"", {u"app.exe", u"a\"b c"}},
        {u"app.exe \"\"\"\"", {u"app.exe", u"\""}},
        {u"app.exe \"\"\" a", {u"app.exe", u"\" a"}},
        {u"app.exe \"\"\"\"\"\" a", {u"app.exe", u"\"\"", u"a"}},
        {u"app.exe \"a\"\"\" b", {u"app.exe", u"a\"", u"b"}},
    });
}

TEST(CommandLineSplit, BackslashesEscapeOnlyBeforeQuotes) {
    expect_splits({
        {u"app.exe a\\b", {u"app.exe", u"a\\b"}},
        {u"app.exe a\\\\b", {u"app.exe", u"a\\\\b"}},
        {u"app.exe \\\\server\\share", {u"app.exe", u"\\\\server\\share"}},
        // 2n+1 backslashes: n backslashes and a literal quote.
        {u"app.exe \\\"a", {u"app.exe", u"\"a"}},
        {u"app.exe \\\\\\\"a", {u"app.exe", u"\\\"a"}},
        {u"app.exe \"a \\\" b\"", {u"app.exe", u"a \" b"}},
        // 2n backslashes: n backslashes, and the quote groups.
        {u"app.exe \\\\\"a b\"", {u"app.exe", u"\\a b"}},
        {u"app.exe \\\\\\\\\"a b\"", {u"app.exe", u"\\\\a b"}},
        {u"app.exe \"C:\\dir\\\\\" b", {u"app.exe", u"C:\\dir\\", u"b"}},
        // One backslash before the closing quote escapes it, so quoting goes on.
        {u"app.exe \"C:\\dir\\\" b", {u"app.exe", u"C:\\dir\" b"}},
        // Trailing backslashes, with nothing after them to escape, stay.
        {u"app.exe a\\", {u"app.exe", u"a\\"}},
        {u"app.exe a\\\\ b\\\\\\", {u"app.exe", u"a\\\\", u"b\\\\\\"}},
        {u"app.exe \"a\\\\", {u"app.exe", u"a\\\\"}},
    });
}

TEST(CommandLineSplit, ProgramNameHasItsOwnRule) {
    expect_splits({
        {u"\"C:\\Program Files\\Vostrane\\updater.exe\" --a b",
         {u"C:\\Program Files\\Vostrane\\updater.exe", u"--a", u"b"}},
        // Backslashes are literal, even before a quote.
        {u"\"C:\\dir\\\\\" a", {u"C:\\dir\\\\", u"a"}},
        {u"C:\\dir\\\" a b\" c", {u"C:\\dir\\ a b", u"c"}},
        // Quotes toggle anywhere, and a doubled quote is just two toggles.
        {u"C:\\a\"b c\"d e", {u"C:\\ab cd", u"e"}},
        {u"\"app\"\".exe\" a", {u"app.exe", u"a"}},
        {u"\"app\".exe a", {u"app.exe", u"a"}},
        {u"\"app.exe\"a b", {u"app.exea", u"b"}},
        {u"\"app .exe", {u"app .exe"}},
        {u"app.exe\t\ta", {u"app.exe", u"a"}},
        // Leading white space ends an empty program name.
        {u" app.exe a", {u"", u"app.exe", u"a"}},
        {u"\tapp.exe", {u"", u"app.exe"}},
    });
}

}  // namespace
}  // namespace vostrane
