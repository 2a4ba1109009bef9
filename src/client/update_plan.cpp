#include "update_plan.hpp"

#include <algorithm>
#include <vector>

#include "interface_texts.hpp"
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

UpdateOptions pending_update_options(const FeedManifest& manifest, const PendingUpdate& update,
                                     const UpdateFolder& folder, std::uint32_t process_id) {
    UpdateOptions options;
    options.parent_process_id = process_id;
    options.msi_path = update.package_path;
    options.install_dir = update.install_dir;
    options.app_path = update.app_path;
    options.msi_log_path = folder.msi_log_path();
    options.helper_log_path = folder.helper_log_path();
    options.result_path = folder.result_path();
    options.expected_sha256 = manifest.sha256;
    options.expected_version = manifest.version;
    options.signature = manifest.signature;
    options.key_id = manifest.key_id;
    options.signature_algorithm = manifest.algorithm;
    return options;
}

Result<ChildCommand> helper_command(const std::u16string& helper_copy, const UpdateOptions& options) {
    auto arguments = option_arguments(options);
    std::vector<std::string> as_helper_reads_them;
    for (const auto& argument : arguments) {
        auto text = utf16_to_utf8(argument);
        if (!text) return failure(std::string(kArgumentsNotUnicode));
        as_helper_reads_them.push_back(std::move(*text));
    }
    // The options are read back as the helper reads them (trimmed, the digest
    // in lower case), so that a value it would refuse fails here, before the
    // application exits, and the command carries what it will read.
    const auto read_back = parse_options(as_helper_reads_them);
    if (!read_back) return failure(read_back.error());
    ChildCommand command;
    command.program = helper_copy;
    command.arguments = option_arguments(*read_back);
    command.working_directory = std::u16string(parent_directory(helper_copy));
    command.inherits_standard_handles = false;
    return command;
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

LastUpdateReport judge_last_update(bool started, bool helper_running, const std::optional<std::string>& result_text,
                                   const UpdateFolder& folder) {
    if (!started) return {LastUpdate::none, failure("")};
    if (result_text) {
        auto outcome = read_result_document(*result_text);
        if (outcome || !helper_running) return {LastUpdate::ended, std::move(outcome)};
        return {LastUpdate::running, failure("")};
    }
    if (helper_running) return {LastUpdate::running, failure("")};
    return {LastUpdate::ended,
            failure(std::string(kUpdateEndedWithoutResult) + utf16_to_utf8_lossy(folder.helper_log_path()) + ".")};
}

}  // namespace vostrane
