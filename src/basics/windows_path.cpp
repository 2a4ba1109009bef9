#include "windows_path.hpp"

#include "unicode.hpp"

namespace vostrane {
namespace {

bool is_full_drive_path(std::u16string_view path) {
    return starts_with_drive(path) && path.size() >= 3 && path[2] == u'\\';
}

// The part of a path that no directory can be made of, and which characters
// separate the components after it.
struct PathRoot {
    std::size_t length = 0;
    std::u16string_view separators;
};

constexpr std::u16string_view kAnySeparator = u"\\/";
constexpr std::u16string_view kBackslashOnly = u"\\";  // verbatim paths take no forward slashes

// The end of the component that starts at `from`, past the separator after it.
std::size_t skip_component(std::u16string_view path, std::size_t from, std::u16string_view separators) {
    const std::size_t end = path.find_first_of(separators, from);
    return end == std::u16string_view::npos ? path.size() : end + 1;
}

// A drive ("C:"), share ("\\server\share"), verbatim ("\\?\C:", "\\?\UNC\server\share")
// or device ("\\.\name") prefix, with the root separator that follows it.
PathRoot path_root(std::u16string_view path) {
    if (path.starts_with(u"\\\\?\\UNC\\")) {
        const std::size_t server_end = skip_component(path, 8, kBackslashOnly);
        return {skip_component(path, server_end, kBackslashOnly), kBackslashOnly};
    }
    if (path.starts_with(u"\\\\?\\")) return {skip_component(path, 4, kBackslashOnly), kBackslashOnly};
    if (path.starts_with(u"\\\\.\\")) return {skip_component(path, 4, kAnySeparator), kAnySeparator};
    if (path.size() >= 2 && kAnySeparator.find(path[0]) != std::u16string_view::npos &&
        kAnySeparator.find(path[1]) != std::u16string_view::npos) {
        const std::size_t server_end = skip_component(path, 2, kAnySeparator);
        return {skip_component(path, server_end, kAnySeparator), kAnySeparator};
    }
    std::size_t length = (path.size() >= 2 && path[1] == u':') ? 2 : 0;
    if (length < path.size() && kAnySeparator.find(path[length]) != std::u16string_view::npos) ++length;
    return {length, kAnySeparator};
}

std::u16string_view without_trailing(std::u16string_view text, std::u16string_view characters) {
    const std::size_t last_kept = text.find_last_not_of(characters);
    return last_kept == std::u16string_view::npos ? std::u16string_view{} : text.substr(0, last_kept + 1);
}

// "server\share", followed by nothing or a separator: both named.
bool names_server_and_share(std::u16string_view rest) {
    const std::size_t server_end = rest.find_first_of(kAnySeparator);
    if (server_end == std::u16string_view::npos || server_end == 0) return false;
    const std::u16string_view share = rest.substr(server_end + 1);
    return !share.empty() && !is_path_separator(share.front());
}

bool is_drive_alone(std::u16string_view text) { return text.size() == 2 && starts_with_drive(text); }

}  // namespace

bool is_path_separator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string_view parent_directory(std::u16string_view path) {
    const PathRoot root = path_root(path);
    const std::u16string_view components = without_trailing(path.substr(root.length), root.separators);
    if (components.empty()) return {};

    const std::size_t last_separator = components.find_last_of(root.separators);
    if (last_separator == std::u16string_view::npos) return path.substr(0, root.length);
    const std::u16string_view parent = without_trailing(components.substr(0, last_separator), root.separators);
    return path.substr(0, root.length + parent.size());
}

std::u16string_view final_path_component(std::u16string_view path) {
    auto separator = path.find_last_of(kAnySeparator);
    if (separator != std::u16string_view::npos) return path.substr(separator + 1);
    return starts_with_drive(path) ? path.substr(2) : path;
}

std::u16string join_windows_path(std::u16string_view base, std::u16string_view component) {
    std::u16string joined(base);
    if (!base.empty() && !is_path_separator(base.back()) && !is_drive_alone(base)) joined += u'\\';
    joined += component;
    return joined;
}

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

bool is_full_path(std::u16string_view path) {
    if (path.starts_with(u"\\\\?\\UNC\\")) return names_server_and_share(path.substr(8));
    if (path.starts_with(u"\\\\?\\")) return is_full_drive_path(path.substr(4));
    if (starts_with_drive(path)) return path.size() >= 3 && is_path_separator(path[2]);
    if (path.size() < 2 || !is_path_separator(path[0]) || !is_path_separator(path[1])) return false;
    // "\\.\" is a device, "\\?\" a verbatim form of another kind.
    const std::u16string_view rest = path.substr(2);
    return !rest.starts_with(u'?') && !rest.starts_with(u'.') && names_server_and_share(rest);
}

std::u16string comparable_path(std::u16string_view path) {
    std::u16string comparable;
    comparable.reserve(path.size());
    for (const char16_t c : path) {
        comparable += is_path_separator(c) ? u'\\' : (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    }
    while (!comparable.empty() && comparable.back() == u'\\') comparable.pop_back();
    return comparable;
}

bool same_path(std::u16string_view a, std::u16string_view b) { return comparable_path(a) == comparable_path(b); }

bool lies_within(std::u16string_view path, std::u16string_view folder) {
    const std::u16string inner = comparable_path(path);
    const std::u16string outer = comparable_path(folder);
    return inner == outer || (inner.size() > outer.size() && inner.starts_with(outer) && inner[outer.size()] == u'\\');
}

bool reaches_max_path(std::u16string_view path) { return path.size() >= kMaxPath; }

bool working_directory_too_long(std::u16string_view directory) {
    if (directory.ends_with(u'\\')) directory.remove_suffix(1);
    return directory.size() >= kWorkingDirectoryLimit;
}

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
