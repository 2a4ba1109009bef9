#include "reporting/helper_log.hpp"

#include <string>

namespace vostrane {

namespace {
// 1970-01-01 00:00:00 UTC as a FILETIME: 100-nanosecond intervals since 1601.
constexpr std::uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;
constexpr std::uint64_t kFiletimeUnitsPerSecond = 10000000ULL;

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

}  // namespace

std::u16string_view parent_directory(std::u16string_view path) {
    const PathRoot root = path_root(path);
    const std::u16string_view components = without_trailing(path.substr(root.length), root.separators);
    if (components.empty()) return {};

    const std::size_t last_separator = components.find_last_of(root.separators);
    if (last_separator == std::u16string_view::npos) return path.substr(0, root.length);
    const std::u16string_view parent = without_trailing(components.substr(0, last_separator), root.separators);
    return path.substr(0, root.length + parent.size());
}

std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime) {
    if (filetime < kUnixEpochAsFiletime) return 0;
    return (filetime - kUnixEpochAsFiletime) / kFiletimeUnitsPerSecond;
}

std::string format_log_line(std::uint64_t unix_seconds, std::string_view message) {
    std::string line = "[";
    line += std::to_string(unix_seconds);
    line += "] ";
    line += message;
    line += '\n';
    return line;
}

}  // namespace vostrane
