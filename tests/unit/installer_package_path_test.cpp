#include <gtest/gtest.h>

#include <string>

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

TEST(InstallerPackagePath, NetworkPathsAreTold) {
    EXPECT_TRUE(is_network_path(u"\\\\?\\UNC\\server\\share\\update.msi"));
    EXPECT_TRUE(is_network_path(u"\\\\server\\share\\update.msi"));
    EXPECT_FALSE(is_network_path(u"\\\\?\\C:\\dl\\update.msi"));
    EXPECT_FALSE(is_network_path(u"\\\\?\\Z:\\tmp\\update.msi"));
}

}  // namespace
}  // namespace vostrane
