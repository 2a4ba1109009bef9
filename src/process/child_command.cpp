#include "process/child_command.hpp"

#include <algorithm>

#include "result.hpp"
#include "windows_path.hpp"

namespace vostrane {
namespace {

bool has_nul(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }

std::unexpected<LaunchError> fixed_error(std::string_view text) {
    return std::unexpected(IoError::fixed_text(std::string(text)));
}

bool ends_with_exe(std::u16string_view text) {
    if (text.size() < 4) return false;
    const std::u16string_view tail = text.substr(text.size() - 4);
    return std::ranges::equal(tail, std::u16string_view(u".exe"), [](char16_t a, char16_t b) {
        const char16_t lower = a >= u'A' && a <= u'Z' ? static_cast<char16_t>(a - u'A' + u'a') : a;
        return lower == b;
    });
}

// A bare name in each search directory in turn; ".exe" is added to names without a dot.
std::expected<std::u16string, LaunchError> search_bare_name(const std::u16string& name, const ProgramLookup& lookup) {
    const bool add_exe = name.find(u'.') == std::u16string::npos;
    for (const std::u16string& directory : lookup.search_directories()) {
        std::u16string candidate = join_windows_path(directory, name);
        if (add_exe) candidate += u".exe";
        if (lookup.exists(candidate)) return candidate;
    }
    return fixed_error(kProgramNotFound);
}

}  // namespace

std::vector<std::u16string> split_search_path(std::u16string_view path_variable) {
    std::vector<std::u16string> entries;
    std::u16string entry;
    bool quoted = false;
    const auto finish_entry = [&] {
        if (!entry.empty()) entries.push_back(std::move(entry));
        entry.clear();
    };
    for (char16_t c : path_variable) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (c == u';' && !quoted) {
            finish_entry();
        } else {
            entry += c;
        }
    }
    finish_entry();
    return entries;
}

std::expected<std::u16string, LaunchError> resolve_application_name(const std::u16string& program,
                                                                    const ProgramLookup& lookup) {
    if (program.empty() || is_path_separator(program.back())) return fixed_error(kProgramPathHasNoFileName);
    if (has_nul(program)) return fixed_error(kNulByteInData);
    const bool is_path = std::ranges::any_of(program, is_path_separator);
    if (!is_path) return search_bare_name(program, lookup);
    if (ends_with_exe(program)) return program;  // whether it exists is CreateProcessW's to say
    const std::u16string with_exe = program + u".exe";
    return lookup.exists(with_exe) ? with_exe : program;
}

std::expected<std::u16string, LaunchError> quote_argument(std::u16string_view argument) {
    if (has_nul(argument)) return fixed_error(kNulByteInData);
    const bool enclose = argument.empty() || argument.find_first_of(u" \t") != std::u16string_view::npos;
    std::u16string out;
    if (enclose) out += u'"';
    std::size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes mean themselves unless a quote follows them.
        out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        out += c;
        backslashes = 0;
    }
    if (enclose) {
        out.append(2 * backslashes, u'\\');
        out += u'"';
    } else {
        out.append(backslashes, u'\\');
    }
    return out;
}

std::expected<std::u16string, LaunchError> build_command_line(const ChildCommand& command) {
    if (has_nul(command.program)) return fixed_error(kNulByteInData);
    std::u16string line = u"\"" + command.program + u"\"";
    for (const std::u16string& argument : command.arguments) {
        auto quoted = quote_argument(argument);
        RETURN_IF_FAILED(quoted);
        line += u' ';
        line += *quoted;
    }
    return line;
}

std::expected<void, LaunchError> check_working_directory(const ChildCommand& command) {
    if (command.working_directory && has_nul(*command.working_directory)) return fixed_error(kNulByteInData);
    return {};
}

std::expected<std::u16string, LaunchError> usable_working_directory(const std::u16string& directory,
                                                                    const ShortFormQuery& short_form) {
    auto usable = usable_by_limited_call(directory, working_directory_too_long, short_form);
    if (!usable) return fixed_error(kWorkingDirectoryTooLong);
    return std::move(*usable);
}

}  // namespace vostrane
