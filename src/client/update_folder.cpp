#include "update_folder.hpp"

#include <algorithm>

#include "options.hpp"
#include "unicode.hpp"
#include "windows_path.hpp"

namespace vostrane {
namespace {

constexpr std::u16string_view kHelperCopyPrefix = u"helper-";
constexpr std::size_t kHelperCopyDigits = 16;

bool is_lower_hex(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); }

}  // namespace

std::u16string UpdateFolder::result_path() const { return join_windows_path(path_, u"result.json"); }
std::u16string UpdateFolder::helper_log_path() const { return join_windows_path(path_, u"helper.log"); }
std::u16string UpdateFolder::msi_log_path() const { return join_windows_path(path_, u"msi.log"); }
std::u16string UpdateFolder::started_record_path() const { return join_windows_path(path_, u"helper-started.txt"); }

std::u16string UpdateFolder::helper_copy_folder(std::uint64_t unique) const {
    std::u16string name(kHelperCopyPrefix);
    for (int shift = 60; shift >= 0; shift -= 4) name += u"0123456789abcdef"[(unique >> shift) & 0xF];
    return join_windows_path(path_, name);
}

bool is_helper_copy_folder_name(std::u16string_view name) {
    if (!name.starts_with(kHelperCopyPrefix)) return false;
    name.remove_prefix(kHelperCopyPrefix.size());
    return name.size() == kHelperCopyDigits && std::ranges::all_of(name, is_lower_hex);
}

std::string started_record(const StartedHelper& helper) {
    return std::to_string(helper.process_id) + "\n" + utf16_to_utf8_lossy(helper.helper_copy);
}

std::optional<StartedHelper> read_started_record(std::string_view text) {
    const auto line_end = text.find('\n');
    if (line_end == std::string_view::npos || line_end + 1 == text.size()) return std::nullopt;
    const auto process_id = parse_process_id(text.substr(0, line_end));
    if (!process_id) return std::nullopt;
    return StartedHelper{*process_id, utf8_to_utf16(text.substr(line_end + 1))};
}

}  // namespace vostrane
