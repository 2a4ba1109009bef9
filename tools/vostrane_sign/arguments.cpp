#include "arguments.hpp"

namespace vostrane::sign_tool {

std::optional<std::string> CommandArguments::option(std::string_view name) const {
    auto found = options.find(name);
    if (found == options.end()) return std::nullopt;
    return found->second;
}

Result<CommandArguments> parse_command_arguments(const std::vector<std::string>& arguments,
                                                 const std::set<std::string, std::less<>>& known_options,
                                                 const std::set<std::string, std::less<>>& known_flags) {
    CommandArguments parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--help" || word == "-h") {
            parsed.help = true;
            return parsed;
        }
        if (!word.starts_with("--")) {
            parsed.positional.push_back(word);
            continue;
        }
        std::string name = word.substr(2);
        if (known_flags.contains(name)) {
            if (!parsed.flags.insert(std::move(name)).second) return failure("Option " + word + " is given twice.");
            continue;
        }
        if (!known_options.contains(name)) return failure("Unknown option " + word + ".");
        if (i + 1 == arguments.size()) return failure("Option " + word + " needs a value.");
        if (!parsed.options.emplace(name, arguments[++i]).second) return failure("Option " + word + " is given twice.");
    }
    return parsed;
}

}  // namespace vostrane::sign_tool
