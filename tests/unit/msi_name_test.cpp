// The MSI name rule: the extension, and the final component of a Windows path.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "update_security/msi_name.hpp"
#include "update_security/package_check.hpp"  // has_msi_extension

namespace vostrane {
namespace {

TEST(MsiName, ExtensionRules) {
    struct Case {
        std::u16string_view name;
        bool is_msi;
    };
    const Case cases[] = {
        {u"archive.msi", true},
        {u"setup.MSI", true},
        {u"setup.Msi", true},
        {u"setup.tar.msi", true},
        {u"..msi", true},
        {u"a.msi", true},
        {u".msi", false},      // a leading dot only: no extension
        {u"msi", false},
        {u"setup", false},
        {u"setup.msi.", false},  // empty extension
        {u"setup.msi.tmp", false},
        {u"setup.msix", false},
        {u"setup.ms", false},
        {u"setup.msi ", false},
        {u"setup.\uff4d\uff53\uff49", false},  // full-width letters
        {u"setup.ms\u0130", false},
        {u"", false},
        {u"setup.ms\xd800", false},      // unpaired surrogate in the extension
        {u"\xdc00setup.msi", true},      // only the extension must be valid text
    };
    for (const Case& c : cases) {
        EXPECT_EQ(has_msi_extension(c.name), c.is_msi) << std::string(c.name.begin(), c.name.end());
    }
}

TEST(MsiName, FinalComponentOfWindowsPaths) {
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

}  // namespace
}  // namespace vostrane
