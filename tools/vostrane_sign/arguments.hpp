#pragma once
// The command line of one vostrane-sign command: "--name value" pairs and plain arguments.
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
    bool help = false;

    [[nodiscard]] std::optional<std::string> option(std::string_view name) const;
};

// Reads `arguments` (the words after the command name). Every option must be
// one of `known_options` and appear at most once; "--help" or "-h" sets help
// and stops reading.
Result<CommandArguments> parse_command_arguments(const std::vector<std::string>& arguments,
                                                 const std::set<std::string, std::less<>>& known_options);

}  // namespace vostrane::sign_tool
