#pragma once
// The command line of one vostrane-sign command: "--name value" pairs, "--name"
// flags and plain arguments.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "result.hpp"

namespace vostrane::sign_tool {

struct CommandArguments {
    std::map<std::string, std::string, std::less<>> options;  // name without the dashes -> value
    std::vector<std::string> positional;
    std::set<std::string, std::less<>> flags;  // names without the dashes
    bool help = false;

    [[nodiscard]] std::optional<std::string> option(std::string_view name) const;
    [[nodiscard]] bool flag(std::string_view name) const { return flags.contains(name); }
};

// Reads `arguments` (the words after the command name). Every option must be
// one of `known_options` (which take a value) or `known_flags` (which take
// none) and appear at most once; "--help" or "-h" sets help and stops reading.
Result<CommandArguments> parse_command_arguments(const std::vector<std::string>& arguments,
                                                 const std::set<std::string, std::less<>>& known_options,
                                                 const std::set<std::string, std::less<>>& known_flags = {});

}  // namespace vostrane::sign_tool
