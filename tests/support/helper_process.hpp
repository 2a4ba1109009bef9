#pragma once
// Runs the built helper as the application would, and collects what a caller
// can observe: the full 32-bit exit code and standard error.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

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

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
std::wstring wide(const std::filesystem::path& path);

}  // namespace vostrane::testing
