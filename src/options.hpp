#pragma once
#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "result.hpp"

namespace vostrane {

// The twelve command-line options, trimmed; built once and read-only afterwards.
struct UpdateOptions {
    std::uint32_t parent_process_id = 0;
    std::string msi_path;
    std::string install_dir;
    std::string app_path;
    std::string msi_log_path;
    std::string helper_log_path;
    std::string result_path;
    std::string expected_sha256;
    std::string expected_version;
    std::string signature;
    std::string key_id;
    std::string signature_algorithm;
};

// Option name (without leading dashes) to raw value; names compared byte by byte.
using OptionMap = std::map<std::string, std::string, std::less<>>;

// Takes the arguments without the program name.
Result<UpdateOptions> parse_options(std::span<const std::string> arguments);

}  // namespace vostrane
