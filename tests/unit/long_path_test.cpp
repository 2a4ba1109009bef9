// The extended-length form that long paths take at file calls.
#include <gtest/gtest.h>

#include "long_path.hpp"
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

}  // namespace
}  // namespace vostrane
