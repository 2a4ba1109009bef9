#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace vostrane {

// The twelve command-line options, trimmed; built once and read-only afterwards.
// The six paths are held in UTF-16, the form the Windows calls take, so that
// each is converted once, here, however many calls use it.
struct UpdateOptions {
    std::uint32_t parent_process_id = 0;
    std::u16string msi_path;
    std::u16string install_dir;
    std::u16string app_path;
    std::u16string msi_log_path;
    std::u16string helper_log_path;
    std::u16string result_path;
    std::string expected_sha256;
    std::string expected_version;
    std::string signature;
    std::string key_id;
    std::string signature_algorithm;

    friend bool operator==(const UpdateOptions&, const UpdateOptions&) = default;
};

// Option name (without leading dashes) to raw value; names compared byte by byte.
using OptionMap = std::map<std::string, std::string, std::less<>>;

// Takes the arguments without the program name.
Result<UpdateOptions> parse_options(std::span<const std::string> arguments);

// The arguments that parse_options reads back as these options: each name
// with its two dashes, then its value, in the order the options are read.
std::vector<std::u16string> option_arguments(const UpdateOptions& options);

// Reads the arguments as name/value pairs into the map; the last value of a
// name wins and unknown names are kept (and never read).
Result<OptionMap> scan_option_pairs(std::span<const std::string> arguments);

// The trimmed value of a required option, or "--{name} is required." when it
// is absent, empty or only white space. `name` is without dashes.
Result<std::string> required_text(const OptionMap& options, std::string_view name);
// required_text, in UTF-16.
Result<std::u16string> required_path(const OptionMap& options, std::string_view name);

// Whether a path may be written into a child's command line: '"' and the
// control characters U+0000 to U+001F cannot occur in a Windows path, yet each
// could end an argument early under some program's own reading of quotes
// (msiexec doubles them and takes backslashes literally) and so add others.
bool is_child_argument_safe(std::u16string_view path);

// An unsigned 32-bit decimal number, one leading '+' allowed; nothing else.
std::optional<std::uint32_t> parse_process_id(std::string_view text);

}  // namespace vostrane
