#pragma once
// What the helper starts (Windows Installer, the Windows shell) and the
// platform-free rules for starting it: finding the program file, building and
// quoting the command line.
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io_error.hpp"
#include "windows_path.hpp"

namespace vostrane {

// Texts are UTF-16, as Windows hands them over: a program path that comes from
// the environment may hold unpaired surrogates and must pass unchanged.
struct ChildCommand {
    std::u16string program;  // a path (holds '\' or '/') or a bare file name
    std::vector<std::u16string> arguments;
    std::optional<std::u16string> working_directory;
    // Whether the child gets this process's standard handles (and nothing
    // else); without them it inherits no handle at all, so it holds none of
    // its starter's pipes open.
    bool inherits_standard_handles = true;
};

// Why starting a child, or waiting for it, failed.
using LaunchError = IoError;

// A question put to the file system about one path.
using PathQuery = std::function<bool(const std::u16string& path)>;

// How the file system is asked while a program is looked for.
struct ProgramLookup {
    // Whether something exists at the path (GetFileAttributesW succeeds).
    PathQuery exists;
    // The directories searched for a bare name, in order: the helper's own
    // directory, the system directory, the Windows directory, then PATH.
    std::function<std::vector<std::u16string>()> search_directories;
};

// The entries of a PATH value: split at ';' outside double quotes, the quotes
// dropped, empty entries skipped.
std::vector<std::u16string> split_search_path(std::u16string_view path_variable);

// The application name CreateProcessW gets for the program text, or why there
// is none ("program path has no file name", "nul byte found in provided data",
// "program not found"). The current directory is never searched.
std::expected<std::u16string, LaunchError> resolve_application_name(const std::u16string& program,
                                                                    const ProgramLookup& lookup);

// One argument as the C runtime reads it back: enclosed in double quotes when
// empty or holding a space or tab; quotes escaped with the backslashes before
// them doubled; backslashes before the closing quote doubled.
std::expected<std::u16string, LaunchError> quote_argument(std::u16string_view argument);

// The quoted program text (exactly as the command holds it, never escaped),
// then each argument after one space.
std::expected<std::u16string, LaunchError> build_command_line(const ChildCommand& command);

// Fails with "nul byte found in provided data" when the working directory holds a NUL.
std::expected<void, LaunchError> check_working_directory(const ChildCommand& command);

// The current directory CreateProcessW gets for a full directory: the
// directory when it is short enough, otherwise its short form
// (usable_by_limited_call); when neither is short enough, "working directory
// is too long and has no short form".
std::expected<std::u16string, LaunchError> usable_working_directory(const std::u16string& directory,
                                                                    const ShortFormQuery& short_form);

}  // namespace vostrane
