// Windows paths: their parts, and the forms long paths take at file calls.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "windows_path.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

TEST(ExtendedLengthForm, FullDriveAndSharePathsAreExtendedOthersKept) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"C:\\Users\\me\\file.msi", u"\\\\?\\C:\\Users\\me\\file.msi"},
        {u"z:\\a", u"\\\\?\\z:\\a"},
        {u"\\\\server\\share\\dir\\file", u"\\\\?\\UNC\\server\\share\\dir\\file"},
        // Already extended, or a device: as given.
        {u"\\\\?\\C:\\x", u"\\\\?\\C:\\x"},
        {u"\\\\?\\UNC\\server\\share", u"\\\\?\\UNC\\server\\share"},
        {u"\\\\.\\pipe\\name", u"\\\\.\\pipe\\name"},
        // Not full paths: nothing to extend.
        {u"C:relative", u"C:relative"},
        {u"relative\\file", u"relative\\file"},
        {u"\\rooted", u"\\rooted"},
        {u"1:\\x", u"1:\\x"},
        {u"", u""},
    };
    for (const auto& [path, extended] : cases) {
        SCOPED_TRACE(utf16_to_utf8_lossy(path));
        EXPECT_EQ(extended_length_form(path), extended);
    }
}

// `prefix` followed by 'a's up to `units` UTF-16 units.
std::u16string path_of(std::u16string prefix, std::size_t units) {
    prefix.resize(units, u'a');
    return prefix;
}

// Stands in for GetFullPathNameW: full paths come back as they are, relative
// ones are resolved against C:\work; records what it was asked.
struct FakeResolver {
    bool fails = false;
    std::vector<std::u16string> asked;

    std::optional<std::u16string> operator()(const std::u16string& path) {
        asked.push_back(path);
        if (fails) return std::nullopt;
        const bool full = path.starts_with(u"\\\\") || (path.size() > 2 && path[1] == u':' && path[2] == u'\\');
        return full ? path : u"C:\\work\\" + path;
    }
};

TEST(FullPath, IsADriveWithItsRootOrAShare) {
    struct Case {
        std::u16string_view path;
        bool full;
    };
    const std::vector<Case> cases = {
        {u"C:\\", true},
        {u"c:\\Users\\me", true},
        {u"C:/Users/me", true},
        {u"\\\\server\\share", true},
        {u"\\\\server\\share\\dir", true},
        {u"//server/share/dir", true},
        {u"\\\\?\\C:\\x", true},
        {u"\\\\?\\UNC\\server\\share\\x", true},
        // Relative to a current folder, of the process or of a drive.
        {u"", false},
        {u"app", false},
        {u"app\\updates", false},
        {u".\\app", false},
        {u"C:", false},
        {u"C:app", false},
        {u"\\app", false},
        {u"/app", false},
        {u"1:\\x", false},
        // A share needs a server and a share name.
        {u"\\\\server", false},
        {u"\\\\server\\", false},
        {u"\\\\\\share", false},
        {u"\\\\?\\UNC\\server", false},
        // Devices and other verbatim forms.
        {u"\\\\.\\pipe\\name", false},
        {u"\\\\.\\C:\\x", false},
        {u"\\\\?\\Volume{0}\\x", false},
        {u"\\\\?\\x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_full_path(c.path), c.full) << utf16_to_utf8_lossy(c.path);
    }
}

TEST(SamePath, ComparesAsWindowsComparesNames) {
    struct Case {
        std::u16string_view a;
        std::u16string_view b;
        bool same;
    };
    const std::vector<Case> cases = {
        {u"C:\\Users\\Me\\App Updates", u"c:/users/me/app updates/", true},
        {u"C:\\A\\helper-1\\u.exe", u"C:\\a\\HELPER-1\\U.EXE", true},
        {u"C:\\A\\B", u"C:\\A\\B\\C", false},
        {u"C:\\A\\B", u"C:\\A\\Bc", false},
        {u"C:\\A\\\u00c5", u"C:\\A\\\u00e5", false},  // beyond ASCII, only the file system knows
    };
    for (const auto& c : cases) {
        EXPECT_EQ(same_path(c.a, c.b), c.same) << utf16_to_utf8_lossy(c.a) << " / " << utf16_to_utf8_lossy(c.b);
    }
}

TEST(LiesWithin, AFolderInsideAnotherIsKnownHoweverSpelled) {
    struct Case {
        std::u16string_view path;
        bool within;
    };
    const std::u16string_view installation = u"C:\\Program Files\\App";
    const std::vector<Case> cases = {
        {u"C:\\Program Files\\App", true},
        {u"C:\\Program Files\\App\\", true},
        {u"c:/program files/app/updates", true},
        {u"C:\\PROGRAM FILES\\APP\\Updates\\", true},
        {u"C:\\Program Files\\App Updates", false},
        {u"C:\\Program Files\\Ap", false},
        {u"C:\\Program Files", false},
        {u"D:\\Program Files\\App\\updates", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lies_within(c.path, installation), c.within) << utf16_to_utf8_lossy(c.path);
    }
}

TEST(FileCallPath, PathsFromTheThresholdOnAreMadeFullAndExtended) {
    struct Case {
        const char* name;
        std::u16string path;
        std::u16string expected;
        bool resolver_fails = false;
    };
    const std::u16string drive = u"C:\\Users\\me\\";
    const std::u16string share = u"\\\\server\\share\\dir\\";
    // 244 two-byte characters: 247 UTF-16 units but 491 UTF-8 bytes.
    const std::u16string accented = u"C:\\" + std::u16string(244, u'\u00e9');
    const std::vector<Case> cases = {
        {"drive path, 247 units: as given", path_of(drive, 247), path_of(drive, 247)},
        {"drive path, 248 units: extended", path_of(drive, 248), u"\\\\?\\" + path_of(drive, 248)},
        {"drive path, 259 units: extended", path_of(drive, 259), u"\\\\?\\" + path_of(drive, 259)},
        {"drive path, 260 units: extended", path_of(drive, 260), u"\\\\?\\" + path_of(drive, 260)},
        {"share, 248 units", path_of(share, 248), u"\\\\?\\UNC\\" + path_of(share, 248).substr(2)},
        {"relative, 247 units: not made full", path_of(u"dir\\", 247), path_of(u"dir\\", 247)},
        {"relative, 248 units: made full, then extended", path_of(u"dir\\", 248),
         u"\\\\?\\C:\\work\\" + path_of(u"dir\\", 248)},
        {"already extended", path_of(u"\\\\?\\C:\\dir\\", 300), path_of(u"\\\\?\\C:\\dir\\", 300)},
        {"device form", path_of(u"\\\\.\\C:\\dir\\", 300), path_of(u"\\\\.\\C:\\dir\\", 300)},
        {"cannot be made full: as given", path_of(drive, 300), path_of(drive, 300), true},
        {"counted in UTF-16 units, not UTF-8 bytes", accented, accented},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeResolver resolver;
        resolver.fails = c.resolver_fails;
        const std::string utf8_path = utf16_to_utf8_lossy(c.path);
        EXPECT_EQ(file_call_path(utf8_path, std::ref(resolver)), c.expected);
        // Only long paths are made full, and from their UTF-16 text.
        const auto expected_asked =
            c.path.size() < kLongPathThreshold ? std::vector<std::u16string>{} : std::vector{c.path};
        EXPECT_EQ(resolver.asked, expected_asked);
    }
}

TEST(LongPath, PlainFormDropsOnlyTheExtendedPrefix) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"\\\\?\\C:\\dl\\update.msi", u"C:\\dl\\update.msi"},
        {u"\\\\?\\UNC\\server\\share\\update.msi", u"\\\\server\\share\\update.msi"},
        {u"C:\\dl\\update.msi", u"C:\\dl\\update.msi"},
        {u"\\\\server\\share\\x", u"\\\\server\\share\\x"},
        {u"\\\\.\\C:\\x", u"\\\\.\\C:\\x"},
    };
    for (const auto& [path, plain] : cases) EXPECT_EQ(without_extended_prefix(path), plain);
}

TEST(ParentDirectory, IsThePathWithoutItsLastComponent) {
    struct Case {
        std::string_view path;
        std::string_view expected;
    };
    const std::vector<Case> cases = {
        {"C:\\Users\\me\\logs\\helper.log", "C:\\Users\\me\\logs"},
        {"C:/Users/me/logs/helper.log", "C:/Users/me/logs"},
        {"C:\\logs\\\\helper.log", "C:\\logs"},
        {"C:\\logs\\sub\\", "C:\\logs"},
        {"C:\\helper.log", "C:\\"},
        {"C:helper.log", "C:"},
        {"\\helper.log", "\\"},
        {"logs\\helper.log", "logs"},
        {"a/b/c/helper.log", "a/b/c"},
        {"..\\helper.log", ".."},
        {"\\\\server\\share\\logs\\helper.log", "\\\\server\\share\\logs"},
        {"\\\\server\\share\\helper.log", "\\\\server\\share\\"},
        {"\\\\?\\C:\\logs\\helper.log", "\\\\?\\C:\\logs"},
        {"\\\\?\\C:\\logs/helper.log", "\\\\?\\C:\\"},  // '/' is part of a verbatim name
        {"\\\\?\\UNC\\server\\share\\helper.log", "\\\\?\\UNC\\server\\share\\"},
        {"\\\\.\\device\\helper.log", "\\\\.\\device\\"},
        // After a device prefix either slash separates.
        {"\\\\.\\device/logs/helper.log", "\\\\.\\device/logs"},
        {"\\\\.\\device/helper.log", "\\\\.\\device/"},
        {"\\\\.\\device\\logs/helper.log", "\\\\.\\device\\logs"},
        {"\xC3\xBC" "ber\\\xE6\x97\xA5\xE5\xBF\x97.log", "\xC3\xBC" "ber"},
        // Nothing to create: bare file names, roots and the empty path.
        {"helper.log", ""},
        {"", ""},
        {"C:", ""},
        {"C:\\", ""},
        {"\\", ""},
        {"/", ""},
        {"\\\\server\\share", ""},
        {"\\\\server\\share\\", ""},
        {"\\\\?\\C:\\", ""},
        {"\\\\?\\UNC\\server\\share", ""},
        {"\\\\.\\device", ""},
        {"\\\\.\\device/", ""},
    };
    for (const auto& c : cases) {
        const std::u16string path = utf8_to_utf16(c.path);
        EXPECT_EQ(utf16_to_utf8_lossy(parent_directory(path)), c.expected) << c.path;
    }
}

TEST(FinalPathComponent, OfWindowsPaths) {
    struct Case {
        std::u16string_view path;
        std::u16string_view component;
    };
    const Case cases[] = {
        {u"C:\\Users\\me\\Downloads\\update.msi", u"update.msi"},
        {u"C:/Users/me/update.msi", u"update.msi"},
        {u"dir\\sub/update.msi", u"update.msi"},
        {u"update.msi", u"update.msi"},
        {u"C:update.msi", u"update.msi"},
        {u"\\\\server\\share\\update.msi", u"update.msi"},
        {u"\\\\?\\C:\\update.msi", u"update.msi"},
        {u"C:\\pkg.msi\\", u""},
        {u"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(final_path_component(c.path), c.component) << std::string(c.path.begin(), c.path.end());
    }
}

TEST(JoinWindowsPath, AddsOneBackslashOnlyWhereNeeded) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"C:\\Windows", u"C:\\Windows\\x.exe"}, {u"C:\\Windows\\", u"C:\\Windows\\x.exe"},
        {u"C:/Windows/", u"C:/Windows/x.exe"},   {u"C:", u"C:x.exe"},
        {u"z:", u"z:x.exe"},                     {u"", u"x.exe"},
        {u"1:", u"1:\\x.exe"},                   {u"C:d", u"C:d\\x.exe"},
        {u"\\\\server\\share", u"\\\\server\\share\\x.exe"},
    };
    for (const auto& [base, joined] : cases) {
        SCOPED_TRACE(utf16_to_utf8_lossy(base));
        EXPECT_EQ(utf16_to_utf8_lossy(join_windows_path(base, u"x.exe")), utf16_to_utf8_lossy(joined));
    }
}

}  // namespace
}  // namespace vostrane
