#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "unicode.hpp"
#include "update_security/installer_package_path.hpp"

namespace vostrane {
namespace {

// File names compare without regard to case; ASCII is enough for these cases.
bool ascii_equal_ignoring_case(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string text(const std::u16string& units) { return utf16_to_utf8_lossy(units); }

TEST(InstallerPackagePath, OptionTextWhenItIsTheFinalPathOtherwiseTheFinalPath) {
    const std::u16string deep = u"C:\\" + std::u16string(240, u'd') + u"\\update.msi";  // 254 characters
    const std::u16string deeper = u"C:\\" + std::u16string(250, u'd') + u"\\update.msi";  // 264 characters
    struct Case {
        std::string what;
        std::u16string msi_path, final_path, expected;
    };
    const std::vector<Case> cases = {
        {"the ordinary path, kept byte for byte", u"C:\\Users\\Me\\dl\\update.msi",
         u"\\\\?\\C:\\Users\\Me\\dl\\update.msi", u"C:\\Users\\Me\\dl\\update.msi"},
        {"another case is the same path, kept as given", u"c:\\users\\me\\DL\\Update.MSI",
         u"\\\\?\\C:\\Users\\Me\\dl\\update.msi", u"c:\\users\\me\\DL\\Update.MSI"},
        {"a folder that is a link or a junction", u"C:\\Users\\Me\\link\\update.msi",
         u"\\\\?\\C:\\Elsewhere\\update.msi", u"C:\\Elsewhere\\update.msi"},
        {"a short name", u"C:\\Users\\Me\\dl\\REPORT~1.MSI", u"\\\\?\\C:\\Users\\Me\\dl\\report.msix",
         u"C:\\Users\\Me\\dl\\report.msix"},
        {"a relative path", u"dl\\update.msi", u"\\\\?\\C:\\Users\\Me\\dl\\update.msi",
         u"C:\\Users\\Me\\dl\\update.msi"},
        {"dot-dot inside", u"C:\\Users\\Me\\x\\..\\dl\\update.msi", u"\\\\?\\C:\\Users\\Me\\dl\\update.msi",
         u"C:\\Users\\Me\\dl\\update.msi"},
        {"forward slashes", u"C:/Users/Me/dl/update.msi", u"\\\\?\\C:\\Users\\Me\\dl\\update.msi",
         u"C:\\Users\\Me\\dl\\update.msi"},
        {"given in the extended form", u"\\\\?\\C:\\dl\\update.msi", u"\\\\?\\C:\\dl\\update.msi",
         u"C:\\dl\\update.msi"},
        {"a long ordinary path, kept as given", deeper, u"\\\\?\\" + deeper, deeper},
        {"redirected, shorter than MAX_PATH: plain", u"C:\\link\\update.msi", u"\\\\?\\" + deep, deep},
        {"redirected, MAX_PATH or longer: extended", u"C:\\link\\update.msi", u"\\\\?\\" + deeper,
         u"\\\\?\\" + deeper},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(text(installer_package_path(c.msi_path, c.final_path, ascii_equal_ignoring_case)),
                  text(c.expected));
    }
}

TEST(InstallerPackagePath, PlainPathHasAtMost259Characters) {
    for (const std::size_t length : {258u, 259u, 260u}) {
        SCOPED_TRACE(length);
        const std::u16string plain = u"C:\\" + std::u16string(length - 3, u'p');
        const std::u16string given = installer_package_path(u"C:\\link\\p", u"\\\\?\\" + plain, ascii_equal_ignoring_case);
        EXPECT_EQ(given.starts_with(u"\\\\?\\"), length >= 260);
    }
}

TEST(InstallerPackagePath, MsiDllReadsThePackageByAPathShorterThanMaxPath) {
    const std::u16string at_limit = u"C:\\" + std::u16string(250, u'd') + u"\\u.msi";  // 259 characters
    const std::u16string beyond = u"C:\\" + std::u16string(251, u'd') + u"\\u.msi";    // 260 characters
    struct Case {
        std::string what;
        std::u16string installer_path;
        std::optional<std::u16string> short_form;  // what the volume answers
        std::optional<std::u16string> expected;
    };
    const std::vector<Case> cases = {
        {"an ordinary path, as it is", u"C:\\dl\\update.msi", std::nullopt, u"C:\\dl\\update.msi"},
        {"259 characters, as it is", at_limit, std::nullopt, at_limit},
        {"the extended form of a short path, plain", u"\\\\?\\" + at_limit, std::nullopt, at_limit},
        {"260 characters, its short form", beyond, u"\\\\?\\C:\\DDDDDD~1\\u.msi", u"C:\\DDDDDD~1\\u.msi"},
        {"long and extended, its short form", u"\\\\?\\" + beyond, u"\\\\?\\C:\\DDDDDD~1\\u.msi",
         u"C:\\DDDDDD~1\\u.msi"},
        {"long, with no short form", beyond, std::nullopt, std::nullopt},
        {"long, with a short form still too long", beyond, u"\\\\?\\" + beyond, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::u16string> asked;
        const auto short_path = [&](const std::u16string& path) {
            asked.push_back(path);
            return c.short_form;
        };
        const auto path = package_reading_path(c.installer_path, short_path);
        EXPECT_EQ(path.has_value(), c.expected.has_value());
        if (path && c.expected) {
            EXPECT_EQ(text(*path), text(*c.expected));
        }
        // The short form is asked of the extended-length form, which takes any length.
        if (!asked.empty()) {
            EXPECT_EQ(text(asked.front()), text(u"\\\\?\\" + beyond));
        }
        EXPECT_EQ(asked.empty(), c.installer_path.size() < 260 || c.installer_path == u"\\\\?\\" + at_limit);
    }
}

TEST(InstallerPackagePath, NetworkPathsAreTold) {
    EXPECT_TRUE(is_network_path(u"\\\\?\\UNC\\server\\share\\update.msi"));
    EXPECT_TRUE(is_network_path(u"\\\\server\\share\\update.msi"));
    EXPECT_FALSE(is_network_path(u"\\\\?\\C:\\dl\\update.msi"));
    EXPECT_FALSE(is_network_path(u"\\\\?\\Z:\\tmp\\update.msi"));
}

}  // namespace
}  // namespace vostrane
