#include "options.hpp"

#include <algorithm>
#include <limits>

#include "interface_texts.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

constexpr std::string_view kDashes = "--";

std::string_view strip_leading_dashes(std::string_view key) {
    while (key.starts_with(kDashes)) key.remove_prefix(kDashes.size());
    return key;
}

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// Each option fills one field; the tables keep the order the fields are read in,
// which decides which missing option is reported first.
struct NamedField {
    std::string_view name;
    std::string UpdateOptions::*field;
};
// The first four reach a child's command line (the installer's or the
// shell's), so they must not be able to add arguments to it.
struct PathField {
    std::string_view name;
    std::u16string UpdateOptions::*field;
    bool passed_to_child;
};
constexpr PathField kPathFields[] = {
    {"msi-path", &UpdateOptions::msi_path, true},
    {"install-dir", &UpdateOptions::install_dir, true},
    {"app-path", &UpdateOptions::app_path, true},
    {"msi-log-path", &UpdateOptions::msi_log_path, true},
    {"helper-log-path", &UpdateOptions::helper_log_path, false},
    {"result-path", &UpdateOptions::result_path, false},
};
constexpr NamedField kTextFields[] = {
    {"expected-sha256", &UpdateOptions::expected_sha256},
    {"expected-version", &UpdateOptions::expected_version},
    {"signature", &UpdateOptions::signature},
    {"key-id", &UpdateOptions::key_id},
    {"signature-algorithm", &UpdateOptions::signature_algorithm},
};

constexpr std::string_view kProcessIdName = "parent-process-id";

Result<std::uint32_t> required_process_id(const OptionMap& options) {
    const auto text = required_text(options, kProcessIdName);
    RETURN_IF_FAILED(text);
    const auto process_id = parse_process_id(*text);
    if (!process_id) return failure(std::string(kNotAProcessId));
    return *process_id;
}

}  // namespace

Result<OptionMap> scan_option_pairs(std::span<const std::string> arguments) {
    OptionMap options;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const std::string_view key = trim_white_space(arguments[i]);
        if (!key.starts_with(kDashes)) return failure(std::string(kUnexpectedArgument) + std::string(key));
        if (i + 1 == arguments.size()) return failure(std::string(kMissingValueFor) + std::string(key));
        options.insert_or_assign(std::string(strip_leading_dashes(key)), arguments[i + 1]);
    }
    return options;
}

Result<std::string> required_text(const OptionMap& options, std::string_view name) {
    const auto found = options.find(name);
    const std::string_view value = found == options.end() ? std::string_view() : trim_white_space(found->second);
    if (value.empty()) return failure("--" + std::string(name) + std::string(kIsRequired));
    return std::string(value);
}

Result<std::u16string> required_path(const OptionMap& options, std::string_view name) {
    auto text = required_text(options, name);
    RETURN_IF_FAILED(text);
    return utf8_to_utf16(*text);
}

bool is_child_argument_safe(std::u16string_view path) {
    return std::ranges::none_of(path, [](char16_t c) { return c == u'"' || c < 0x20; });
}

std::optional<std::uint32_t> parse_process_id(std::string_view text) {
    // A lone "+" leaves nothing to read; a '-' fails below as a non-digit.
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (!is_ascii_digit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

Result<UpdateOptions> parse_options(std::span<const std::string> arguments) {
    const auto map = scan_option_pairs(arguments);
    RETURN_IF_FAILED(map);

    UpdateOptions options;
    const auto process_id = required_process_id(*map);
    RETURN_IF_FAILED(process_id);
    options.parent_process_id = *process_id;

    for (const auto& [name, field, passed_to_child] : kPathFields) {
        auto value = required_path(*map, name);
        RETURN_IF_FAILED(value);
        if (passed_to_child && !is_child_argument_safe(*value)) {
            return failure("--" + std::string(name) + std::string(kMustNotAddArguments));
        }
        options.*field = std::move(*value);
    }
    for (const auto& [name, field] : kTextFields) {
        auto value = required_text(*map, name);
        RETURN_IF_FAILED(value);
        options.*field = std::move(*value);
    }
    options.expected_sha256 = ascii_lower(options.expected_sha256);
    return options;
}

std::vector<std::u16string> option_arguments(const UpdateOptions& options) {
    const auto name = [](std::string_view option) { return utf8_to_utf16("--" + std::string(option)); };
    std::vector<std::u16string> arguments = {name(kProcessIdName),
                                             utf8_to_utf16(std::to_string(options.parent_process_id))};
    for (const auto& [option, field, passed_to_child] : kPathFields) {
        arguments.push_back(name(option));
        arguments.push_back(options.*field);
    }
    for (const auto& [option, field] : kTextFields) {
        arguments.push_back(name(option));
        arguments.push_back(utf8_to_utf16(options.*field));
    }
    return arguments;
}

}  // namespace vostrane
