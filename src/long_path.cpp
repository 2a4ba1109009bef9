#include "long_path.hpp"

namespace vostrane {
namespace {

bool is_full_drive_path(std::u16string_view path) {
    if (path.size() < 3 || path[1] != u':' || path[2] != u'\\') return false;
    const char16_t letter = path[0];
    return (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
}

}  // namespace

std::u16string extended_length_form(std::u16string_view full_path) {
    if (full_path.starts_with(u"\\\\?\\") || full_path.starts_with(u"\\\\.\\")) return std::u16string(full_path);
    if (full_path.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + std::u16string(full_path.substr(2));
    if (is_full_drive_path(full_path)) return u"\\\\?\\" + std::u16string(full_path);
    return std::u16string(full_path);
}

}  // namespace vostrane
