// The MSI name rule: the extension.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

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

}  // namespace
}  // namespace vostrane
