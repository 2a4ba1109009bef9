#pragma once
// Runs the built helper as the application would, and collects what a caller
// can observe: the full 32-bit exit code and standard error.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "win/unique_handle.hpp"

namespace vostrane::testing {

struct HelperRun {
    std::uint32_t exit_code = 0;
    std::string standard_error;
};

// Starts a program with this exact command-line tail (after the program name),
// standard error on a pipe, and waits for it.
HelperRun run_program(const std::wstring& program, const std::wstring& arguments_text);

// The C runtime's quoting of one argument.
std::wstring quote_argument(const std::wstring& argument);

// Quotes each argument and joins them with spaces.
std::wstring join_arguments(const std::vector<std::wstring>& arguments);

// Starts the built helper with this exact command-line tail.
HelperRun run_helper_command_line(const std::wstring& arguments_text);

// Quotes each argument by the C runtime's rules and runs the helper.
HelperRun run_helper(const std::vector<std::wstring>& arguments);

// A program started as the application starts the helper and left running,
// for tests that act while it waits. Its standard error goes to a file, so
// children that inherit it (the relaunched shell, and whatever that starts)
// cannot hold the run open as they would hold a pipe.
class StartedProgram {
public:
    // With a working directory, the program starts there instead of here.
    StartedProgram(const std::wstring& program, const std::wstring& arguments_text,
                   std::filesystem::path standard_error_file, const std::filesystem::path& working_directory = {});
    // Waits for the program to end: its exit code and standard error.
    HelperRun wait();

private:
    win::unique_handle process_;
    std::filesystem::path standard_error_file_;
};

// The built helper, started with these arguments quoted by the C runtime's rules.
StartedProgram start_helper(const std::vector<std::wstring>& arguments,
                            const std::filesystem::path& standard_error_file);

// The Linux path that Wine maps a Windows path to (the path need not exist).
std::string unix_path(const std::filesystem::path& path);

// Makes `link` a Linux symbolic link to `target`, or points an existing link
// elsewhere (ln -sfn), as a process that shares the user's files may do at any
// time. Windows programs under Wine can start Linux programs.
void point_unix_symlink(const std::filesystem::path& link, const std::filesystem::path& target);

// Removes a link made by point_unix_symlink, leaving its target alone.
void remove_unix_symlink(const std::filesystem::path& link);

// A fresh, empty directory that is removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::wstring& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct LogLine {
    std::uint64_t seconds = 0;
    std::string message;
};

// The lines of a helper log's text, or nothing when a line lacks its
// "[seconds] " prefix or the text ends mid-line.
std::optional<std::vector<LogLine>> parse_log_lines(std::string_view text);

// The same, messages only.
std::optional<std::vector<std::string>> parse_log(std::string_view text);

// "{system message} (os error {digits})" with a non-empty message.
bool is_os_error_description(std::string_view text);

// Sets an environment variable of this process (or removes it, given nothing)
// for the scope, and restores it afterwards; children started meanwhile
// inherit it.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::wstring name, const std::optional<std::wstring>& value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

// Replaces this process's three standard handles for the scope.
class ScopedStandardHandles {
public:
    explicit ScopedStandardHandles(std::array<HANDLE, 3> handles) {
        for (std::size_t i = 0; i < kWhich.size(); ++i) {
            saved_[i] = ::GetStdHandle(kWhich[i]);
            ::SetStdHandle(kWhich[i], handles[i]);
        }
    }
    ~ScopedStandardHandles() {
        for (std::size_t i = 0; i < kWhich.size(); ++i) ::SetStdHandle(kWhich[i], saved_[i]);
    }
    ScopedStandardHandles(const ScopedStandardHandles&) = delete;
    ScopedStandardHandles& operator=(const ScopedStandardHandles&) = delete;

private:
    static constexpr std::array<DWORD, 3> kWhich = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    std::array<HANDLE, 3> saved_{};
};

// A file of the Windows build tree: the helper, the test programs, the packages.
std::filesystem::path build_file(const std::wstring& relative_path);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
// Opens a file for reading and writing (made if missing) as another process
// would, sharing it as `share` (FILE_SHARE_* flags) allows.
win::unique_file open_as_other_writer(const std::filesystem::path& path, std::uint32_t share);
std::wstring wide(const std::filesystem::path& path);

// A path's text as UTF-8, the helper's own form, and as UTF-16 for its Windows steps.
std::string utf8(const std::filesystem::path& path);
std::u16string u16(const std::filesystem::path& path);

}  // namespace vostrane::testing
