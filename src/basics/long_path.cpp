#include "long_path.hpp"

#include "unicode.hpp"

namespace vostrane {
namespace {

bool is_full_drive_path(std::u16string_view path) {
    return starts_with_drive(path) && path.size() >= 3 && path[2] == u'\\';
}

constexpr std::size_t kMaxPathWithNul = 260;

}  // namespace

bool starts_with_drive(std::u16string_view path) {
    if (path.size() < 2 || path[1] != u':') return false;
    const char16_t letter = path[0];
    return (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
}

std::u16string extended_length_form(std::u16string_view full_path) {
    if (full_path.starts_with(u"\\\\?\\") || full_path.starts_with(u"\\\\.\\")) return std::u16string(full_path);
    if (full_path.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + std::u16string(full_path.substr(2));
    if (is_full_drive_path(full_path)) return u"\\\\?\\" + std::u16string(full_path);
    return std::u16string(full_path);
}

std::u16string without_extended_prefix(std::u16string_view path) {
    constexpr std::u16string_view kUnc = u"\\\\?\\UNC\\";
    constexpr std::u16string_view kExtended = u"\\\\?\\";
    if (path.starts_with(kUnc)) return u"\\\\" + std::u16string(path.substr(kUnc.size()));
    if (path.starts_with(kExtended)) return std::u16string(path.substr(kExtended.size()));
    return std::u16string(path);
}

std::u16string file_call_path(std::string_view utf8_path, const FullPathResolver& make_full) {
    return file_call_path(utf8_to_utf16(utf8_path), make_full);
}

std::u16string file_call_path(std::u16string units, const FullPathResolver& make_full) {
    if (units.size() < kLongPathThreshold) return units;
    // Made full first: the extended form turns off the system's own
    // normalisation, so it must be given a path that needs none.
    const std::optional<std::u16string> full = make_full(units);
    if (!full) return units;
    return extended_length_form(*full);
}

bool reaches_max_path(std::u16string_view path) { return path.size() >= kMaxPathWithNul; }

std::optional<std::u16string> usable_by_limited_call(const std::u16string& full_path, const TooLongForCall& too_long,
                                                     const ShortFormQuery& short_form) {
    if (!too_long(full_path)) return full_path;
    const auto answer = short_form(extended_length_form(full_path));
    if (!answer) return std::nullopt;
    std::u16string shortened = without_extended_prefix(*answer);
    if (shortened.empty() || too_long(shortened)) return std::nullopt;
    return shortened;
}

}  // namespace vostrane
