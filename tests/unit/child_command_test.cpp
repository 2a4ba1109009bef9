// Finding the program and writing the command line of a child process, with a
// fake file system so that every rule is seen alone.
#include <gtest/gtest.h>

#include <set>

#include "process/child_command.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

std::string text(std::u16string_view units) { return utf16_to_utf8_lossy(units); }

TEST(QuoteArgument, WritesEachArgumentSoTheRuntimeReadsItBack) {
    struct Case {
        std::u16string argument;
        std::u16string written;
    };
    const std::vector<Case> cases = {
        {u"", u"\"\""},
        {u"plain", u"plain"},
        {u"a\"b", u"a\\\"b"},
        {u"a\\\"b", u"a\\\\\\\"b"},
        {u"a\\b", u"a\\b"},
        {u"a b\\", u"\"a b\\\\\""},
        {u"tab\tinside", u"\"tab\tinside\""},
        // Bare arguments keep trailing backslashes as they are.
        {u"C:\\dir\\", u"C:\\dir\\"},
        {u"a\\\\", u"a\\\\"},
        // Enclosed: a run before the closing quote doubles, inner runs stay.
        {u"a\\\\ b\\\\", u"\"a\\\\ b\\\\\\\\\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"\"", u"\\\""},
        {u"\\\"", u"\\\\\\\""},
        // Only space and tab enclose: other white space and separators do not.
        {u"line\nfeed", u"line\nfeed"},
        {u"x;y", u"x;y"},
        {u"\u00e9t\u00e9 \U0001F600", u"\"\u00e9t\u00e9 \U0001F600\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text(c.argument));
        const auto written = quote_argument(c.argument);
        ASSERT_TRUE(written);
        EXPECT_EQ(text(*written), text(c.written));
    }
}

TEST(BuildCommandLine, QuotesTheProgramAsGivenAndSeparatesArgumentsWithOneSpace) {
    const ChildCommand command{u"C:\\Windows\\System32\\msiexec.exe",
                               {u"/i", u"C:\\Temp\\update.msi", u"/passive", u"INSTALLDIR=C:\\Program Files\\App\\"},
                               std::nullopt};
    const auto line = build_command_line(command);
    ASSERT_TRUE(line);
    EXPECT_EQ(text(*line),
              "\"C:\\Windows\\System32\\msiexec.exe\" /i C:\\Temp\\update.msi /passive "
              "\"INSTALLDIR=C:\\Program Files\\App\\\\\"");
    // The program is never escaped, a bare name neither, and no arguments add nothing.
    EXPECT_EQ(text(*build_command_line({u"msiexec.exe", {}, std::nullopt})), "\"msiexec.exe\"");
}

TEST(BuildCommandLine, NulAnywhereIsRefused) {
    const std::u16string with_nul(u"a\0b", 3);
    const std::vector<ChildCommand> commands = {
        {u"C:\\p.exe", {u"ok", with_nul}, std::nullopt},
        {u"C:\\" + with_nul + u".exe", {}, std::nullopt},
    };
    for (const auto& command : commands) {
        const auto line = build_command_line(command);
        ASSERT_FALSE(line);
        EXPECT_EQ(line.error(), IoError::fixed_text("nul byte found in provided data"));
    }
    EXPECT_FALSE(check_working_directory({u"p.exe", {}, u"C:\\" + with_nul}));
    EXPECT_TRUE(check_working_directory({u"p.exe", {}, u"C:\\dir"}));
    EXPECT_TRUE(check_working_directory({u"p.exe", {}, std::nullopt}));
}

TEST(SplitSearchPath, SplitsAtSemicolonsOutsideQuotesAndDropsQuotesAndEmptyEntries) {
    struct Case {
        std::u16string value;
        std::vector<std::u16string> entries;
    };
    const std::vector<Case> cases = {
        {u"C:\\a;C:\\b", {u"C:\\a", u"C:\\b"}},
        {u";;C:\\a;;", {u"C:\\a"}},
        {u"\"C:\\with;semicolon\";C:\\b", {u"C:\\with;semicolon", u"C:\\b"}},
        {u"C:\\pro\"gram; files\"\\x", {u"C:\\program; files\\x"}},
        {u"\"\";C:\\a", {u"C:\\a"}},
        {u"\"unclosed;still one", {u"unclosed;still one"}},
        {u"", {}},
        {u"C:\\with space", {u"C:\\with space"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text(c.value));
        EXPECT_EQ(split_search_path(c.value), c.entries);
    }
}

// A file system that holds exactly these paths, and records what was asked.
struct FakeFiles {
    std::set<std::u16string> files;
    std::vector<std::u16string> directories = {u"C:\\helper", u"C:\\Windows\\system32", u"C:\\Windows",
                                               u"D:\\tools", u"E:\\more tools\\"};
    std::vector<std::u16string> asked;
    int directory_lookups = 0;

    ProgramLookup lookup() {
        return {[this](const std::u16string& path) {
                    asked.push_back(path);
                    return files.contains(path);
                },
                [this] {
                    ++directory_lookups;
                    return directories;
                }};
    }
};

TEST(ResolveApplicationName, BareNameIsSearchedInOrderAndNeverInTheCurrentDirectory) {
    struct Case {
        std::u16string program;
        std::set<std::u16string> files;
        std::u16string found;  // empty: "program not found"
    };
    const std::vector<Case> cases = {
        {u"msiexec.exe", {u"C:\\helper\\msiexec.exe", u"C:\\Windows\\system32\\msiexec.exe"},
         u"C:\\helper\\msiexec.exe"},
        {u"msiexec.exe", {u"C:\\Windows\\system32\\msiexec.exe", u"C:\\Windows\\msiexec.exe"},
         u"C:\\Windows\\system32\\msiexec.exe"},
        {u"explorer.exe", {u"C:\\Windows\\explorer.exe", u"D:\\tools\\explorer.exe"}, u"C:\\Windows\\explorer.exe"},
        {u"tool.exe", {u"E:\\more tools\\tool.exe"}, u"E:\\more tools\\tool.exe"},
        // No dot: ".exe" is added; a dot anywhere keeps the name as it is.
        {u"tool", {u"D:\\tools\\tool.exe", u"D:\\tools\\tool"}, u"D:\\tools\\tool.exe"},
        {u"tool.cmd", {u"D:\\tools\\tool.cmd.exe", u"D:\\tools\\tool.cmd"}, u"D:\\tools\\tool.cmd"},
        {u"tool.exe", {u"tool.exe", u".\\tool.exe"}, u""},
        {u"nowhere.exe", {}, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text(c.program));
        FakeFiles fake;
        fake.files = c.files;
        const auto found = resolve_application_name(c.program, fake.lookup());
        if (c.found.empty()) {
            ASSERT_FALSE(found);
            EXPECT_EQ(found.error(), IoError::fixed_text("program not found"));
            EXPECT_EQ(fake.asked.size(), fake.directories.size()) << "every directory is tried once";
        } else {
            ASSERT_TRUE(found);
            EXPECT_EQ(text(*found), text(c.found));
        }
    }
}

TEST(ResolveApplicationName, PathsAreTakenAsGivenOrWithExeWhenThatFileExists) {
    struct Case {
        std::u16string program;
        std::set<std::u16string> files;
        std::u16string name;
    };
    const std::vector<Case> cases = {
        // Ends in .exe: unchanged, existing or not, and nothing is searched.
        {u"C:\\Windows\\System32\\msiexec.exe", {}, u"C:\\Windows\\System32\\msiexec.exe"},
        {u"C:/x/PROGRAM.EXE", {}, u"C:/x/PROGRAM.EXE"},
        {u"sub\\tool.Exe", {}, u"sub\\tool.Exe"},
        // No .exe: with .exe when that file exists, otherwise as given.
        {u"C:\\x\\tool", {u"C:\\x\\tool.exe"}, u"C:\\x\\tool.exe"},
        {u"C:\\x\\tool", {}, u"C:\\x\\tool"},
        {u"C:\\x\\tool.cmd", {u"C:\\x\\tool.cmd.exe"}, u"C:\\x\\tool.cmd.exe"},
        {u".\\exe", {}, u".\\exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text(c.program));
        FakeFiles fake;
        fake.files = c.files;
        const auto name = resolve_application_name(c.program, fake.lookup());
        ASSERT_TRUE(name);
        EXPECT_EQ(text(*name), text(c.name));
        EXPECT_EQ(fake.directory_lookups, 0);
    }
}

TEST(ResolveApplicationName, ProgramWithoutFileNameOrWithNulIsRefused) {
    const std::vector<std::pair<std::u16string, std::string>> cases = {
        {u"", "program path has no file name"},
        {u"C:\\Windows\\", "program path has no file name"},
        {u"dir/", "program path has no file name"},
        {std::u16string(u"ms\0iexec.exe", 12), "nul byte found in provided data"},
        {std::u16string(u"C:\\a\0b.exe", 10), "nul byte found in provided data"},
    };
    for (const auto& [program, message] : cases) {
        SCOPED_TRACE(message);
        FakeFiles fake;
        const auto name = resolve_application_name(program, fake.lookup());
        ASSERT_FALSE(name);
        EXPECT_EQ(name.error(), IoError::fixed_text(message));
        EXPECT_TRUE(fake.asked.empty());
    }
}

// A full directory of `length` characters, a final backslash not counted.
std::u16string directory_of_length(std::size_t length, bool final_backslash = false) {
    std::u16string directory = u"C:\\" + std::u16string(length - 3, u'd');
    if (final_backslash) directory += u'\\';
    return directory;
}

TEST(WorkingDirectoryTooLong, FromMaxPathLessTwoCharactersAFinalBackslashNotCounted) {
    struct Case {
        std::size_t length;
        bool too_long;
    };
    const std::vector<Case> cases = {{4, false}, {257, false}, {258, true}, {259, true}, {260, true}, {300, true}};
    for (const auto& c : cases) {
        for (const bool final_backslash : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.length << (final_backslash ? " and a final backslash" : ""));
            EXPECT_EQ(working_directory_too_long(directory_of_length(c.length, final_backslash)), c.too_long);
        }
    }
    EXPECT_FALSE(working_directory_too_long(u""));
    EXPECT_FALSE(working_directory_too_long(u"C:\\"));
    // Only one final backslash goes uncounted.
    EXPECT_TRUE(working_directory_too_long(directory_of_length(257) + u"\\\\"));
}

TEST(UsableWorkingDirectory, TooLongOnesAreHandedOverInTheirShortFormOrRefused) {
    const std::u16string too_long = directory_of_length(300);
    struct Case {
        std::string name;
        std::u16string directory;
        std::optional<std::u16string> short_form;  // the query's answer
        std::optional<std::u16string> usable;      // otherwise refused
    };
    const std::vector<Case> cases = {
        {"short enough: as given, nothing asked", directory_of_length(257, true), u"\\\\?\\C:\\X",
         directory_of_length(257, true)},
        {"drive path", directory_of_length(258), u"\\\\?\\C:\\PROGRA~1\\DDDDDD~1", u"C:\\PROGRA~1\\DDDDDD~1"},
        {"share", u"\\\\server\\share\\" + std::u16string(290, u's'), u"\\\\?\\UNC\\server\\share\\SSSSSS~1",
         u"\\\\server\\share\\SSSSSS~1"},
        {"answer without a prefix", too_long, u"C:\\SHORT", u"C:\\SHORT"},
        // Measured without the prefix: 261 characters with it, 257 without.
        {"short form just short enough", too_long, u"\\\\?\\" + directory_of_length(257),
         directory_of_length(257)},
        {"short form still too long", too_long, u"\\\\?\\" + directory_of_length(258), std::nullopt},
        {"short form too long but for its final backslash", too_long,
         u"\\\\?\\" + directory_of_length(257, true), directory_of_length(257, true)},
        {"no short form", too_long, std::nullopt, std::nullopt},
        {"empty short form", too_long, u"", std::nullopt},
        {"prefix alone", too_long, u"\\\\?\\", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::u16string> asked;
        const auto usable = usable_working_directory(c.directory, [&](const std::u16string& directory) {
            asked.push_back(directory);
            return c.short_form;
        });
        // The short form is asked of the extended-length form, which the plain form's MAX_PATH does not limit.
        const bool needs_short_form = working_directory_too_long(c.directory);
        EXPECT_EQ(asked, needs_short_form ? std::vector{extended_length_form(c.directory)} : std::vector<std::u16string>{});
        if (c.usable) {
            ASSERT_TRUE(usable);
            EXPECT_EQ(text(*usable), text(*c.usable));
        } else {
            ASSERT_FALSE(usable);
            EXPECT_EQ(usable.error(), IoError::fixed_text("working directory is too long and has no short form"));
        }
    }
}

}  // namespace
}  // namespace vostrane
