#include "helper_process.hpp"

#include <windows.h>

#include <atomic>
#include <charconv>
#include <cwchar>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "unicode.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::testing {
namespace {

std::wstring helper_path() { return build_file(L"vostrane-updater.exe").wstring(); }

// What the process writes to the pipe until it has ended. The end of the pipe
// is not awaited: under Wine, a program that loads user32 (the helper does,
// through msi.dll) may start Wine's desktop process, which inherits the write
// end and keeps it open long after the program has ended.
std::string read_until_exit(HANDLE pipe, HANDLE process) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const DWORD waited = ::WaitForSingleObject(process, 10);
        if (waited == WAIT_FAILED) throw std::runtime_error("waiting for a started program failed");
        // Once it has ended, what it wrote is all in the pipe.
        for (DWORD available = 0; ::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0;) {
            DWORD read = 0;
            if (!::ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) || read == 0) return text;
            text.append(buffer, read);
        }
        if (waited == WAIT_OBJECT_0) return text;
    }
}

}  // namespace

// Backslashes double only before a quote or the end.
std::wstring quote_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring join_arguments(const std::vector<std::wstring>& arguments) {
    std::wstring text;
    for (const auto& argument : arguments) {
        if (!text.empty()) text += L' ';
        text += quote_argument(argument);
    }
    return text;
}

HelperRun run_helper_command_line(const std::wstring& arguments_text) {
    return run_program(helper_path(), arguments_text);
}

HelperRun run_program(const std::wstring& program, const std::wstring& arguments_text) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) throw std::runtime_error("CreatePipe failed");
    win::unique_handle reader(read_end);
    win::unique_handle writer(write_end);
    ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = nullptr;
    startup.hStdError = writer.get();

    std::wstring command_line = quote_argument(program) + L" " + arguments_text;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process)) {
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
    }
    win::unique_handle process_handle(process.hProcess);
    win::unique_handle thread_handle(process.hThread);
    writer.reset();
    // Wine gives none for a Linux program: its end and exit code cannot be had.
    if (!process_handle) throw std::runtime_error("CreateProcessW gave no process handle for " + utf8(program));

    HelperRun run;
    run.standard_error = read_until_exit(reader.get(), process_handle.get());
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(process_handle.get(), &exit_code)) throw std::runtime_error("GetExitCodeProcess failed");
    run.exit_code = exit_code;
    return run;
}

StartedProgram::StartedProgram(const std::wstring& program, const std::wstring& arguments_text,
                               std::filesystem::path standard_error_file,
                               const std::filesystem::path& working_directory)
    : standard_error_file_(std::move(standard_error_file)) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    win::unique_file error_file(::CreateFileW(standard_error_file_.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!error_file) throw std::runtime_error("cannot create the standard error file");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = error_file.get();
    std::wstring command_line = quote_argument(program) + L" " + arguments_text;
    PROCESS_INFORMATION process{};
    const wchar_t* directory = working_directory.empty() ? nullptr : working_directory.c_str();
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, directory,
                          &startup, &process)) {
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
    }
    process_.reset(process.hProcess);
    ::CloseHandle(process.hThread);
}

HelperRun StartedProgram::wait() {
    ::WaitForSingleObject(process_.get(), INFINITE);
    DWORD exit_code = 0;
    ::GetExitCodeProcess(process_.get(), &exit_code);
    return {exit_code, read_file(standard_error_file_)};
}

StartedProgram start_helper(const std::vector<std::wstring>& arguments,
                            const std::filesystem::path& standard_error_file) {
    return StartedProgram(helper_path(), join_arguments(arguments), standard_error_file);
}

HelperRun run_helper(const std::vector<std::wstring>& arguments) {
    return run_helper_command_line(join_arguments(arguments));
}

namespace {

// Removes what the extended-length path names, with everything below it,
// read-only files too; never throws. The extended form reaches paths of any
// length, and a link is removed as itself, never followed.
void remove_extended(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL | (attributes & FILE_ATTRIBUTE_DIRECTORY));
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileW(path.c_str());
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        WIN32_FIND_DATAW found;
        const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..") remove_extended(path + L"\\" + name);
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
    }
    ::RemoveDirectoryW(path.c_str());
}

// Removes a folder with everything in it, however deep; never throws.
void remove_tree(const std::filesystem::path& folder) { remove_extended(L"\\\\?\\" + folder.wstring()); }

}  // namespace

std::string unix_path(const std::filesystem::path& path) {
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) throw std::runtime_error("not running under Wine");
    char* name = convert(path.c_str());
    if (!name) throw std::runtime_error("no Linux path for " + utf8(path));
    std::string result(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

namespace {

std::wstring wide_of(const std::string& utf8_text) {
    const std::u16string units = utf8_to_utf16(utf8_text);
    return std::wstring(units.begin(), units.end());
}

// Starts a Linux program. Wine runs it but returns no process handle, so it
// cannot be waited for: the caller waits for its effect.
void start_linux_program(const std::wstring& program, const std::vector<std::string>& arguments) {
    std::vector<std::wstring> wide_arguments;
    for (const auto& argument : arguments) wide_arguments.push_back(wide_of(argument));
    std::wstring command_line = quote_argument(program) + L" " + join_arguments(wide_arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        throw std::runtime_error("CreateProcessW failed for " + utf8(program) + ": " + std::to_string(::GetLastError()));
    }
    win::unique_handle process_handle(process.hProcess);
    win::unique_handle thread_handle(process.hThread);
}

// Volume serial number and file index of what the path leads to, links followed.
std::optional<std::pair<DWORD, std::uint64_t>> identity_of(const std::filesystem::path& path) {
    win::unique_file file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !::GetFileInformationByHandle(file.get(), &information)) return std::nullopt;
    return std::pair{information.dwVolumeSerialNumber,
                     (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

// Waits up to 10 s until `effect_seen` holds; throws `what` when it never does.
// Whether the effect is seen within 10 s.
bool seen_within_ten_seconds(const std::function<bool()>& effect_seen) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (effect_seen()) return true;
        ::Sleep(50);
    }
    return effect_seen();
}

// Starts the Linux program until its effect is seen, up to four times: on a
// loaded machine a link was once not seen within 10 s of its ln's start (the
// program's start is not awaited, so whether it ran is not known). Its effect
// must be the same however often it runs.
void act_until(const std::wstring& program, const std::vector<std::string>& arguments,
               const std::function<bool()>& effect_seen, const std::string& what) {
    for (int start = 0; start < 4; ++start) {
        start_linux_program(program, arguments);
        if (seen_within_ten_seconds(effect_seen)) return;
    }
    throw std::runtime_error(what + " within four starts of 10 s");
}

// The link's own Linux path: its folder's, then its name, since Wine would
// answer for the link's target when asked for the link.
std::string unix_path_of_link(const std::filesystem::path& link) {
    return unix_path(link.parent_path()) + "/" + utf8(link.filename());
}

}  // namespace

void point_unix_symlink(const std::filesystem::path& link, const std::filesystem::path& target) {
    // Both seen through Z:, since Wine gives each drive letter a volume serial
    // number of its own (a link in the prefix's dosdevices names a drive).
    const auto seen_through_z = [](const std::string& unix) { return std::filesystem::path(L"Z:" + wide_of(unix)); };
    const auto target_identity = identity_of(seen_through_z(unix_path(target)));
    if (!target_identity) throw std::runtime_error("the link's target does not exist: " + utf8(target));
    act_until(L"Z:\\bin\\ln", {"-sfn", unix_path(target), unix_path_of_link(link)},
              [&] { return identity_of(seen_through_z(unix_path_of_link(link))) == target_identity; },
              utf8(link) + " did not come to lead to " + utf8(target));
}

void remove_unix_symlink(const std::filesystem::path& link) {
    act_until(L"Z:\\bin\\rm", {"-f", unix_path_of_link(link)},
              [&] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; },
              utf8(link) + " was not removed");
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, base);
    // Wine hands a freed process id to the next process at once, so the id
    // alone does not make a name unique: a random part does. A name that is
    // taken already is never reused, let alone emptied: another process may
    // be using it. The name is a valid 8.3 name ("vt" and six hex digits), so
    // that it is its own short name: Wine makes up the short name of a longer
    // one from a small hash, and with many such folders in the temporary
    // folder a short path may lead into another test's folder.
    static std::random_device random;
    for (;;) {
        wchar_t name[16];
        std::swprintf(name, std::size(name), L"vt%06x", (random() ^ (counter++ * 0x9E3779B9u)) & 0xFFFFFFu);
        path_ = std::filesystem::path(base) / name;
        if (::CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + utf8(path_));
    }
}

TempDir::~TempDir() { remove_tree(path_); }

namespace {

// Decimal digits as the helper writes numbers: no sign, no leading zero.
bool is_decimal(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos &&
           (text.size() == 1 || text[0] != '0');
}

// "[seconds] " at the start of a log line: the seconds and where the message begins.
std::optional<std::pair<std::uint64_t, std::size_t>> line_prefix(std::string_view line) {
    const std::size_t close = line.find("] ");
    if (!line.starts_with('[') || close == std::string_view::npos) return std::nullopt;
    const std::string_view digits = line.substr(1, close - 1);
    std::uint64_t seconds = 0;
    if (!is_decimal(digits) ||
        std::from_chars(digits.data(), digits.data() + digits.size(), seconds).ec != std::errc{}) {
        return std::nullopt;
    }
    return std::pair{seconds, close + 2};
}

}  // namespace

std::optional<std::vector<LogLine>> parse_log_lines(std::string_view text) {
    std::vector<LogLine> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const auto prefix = line_prefix(text.substr(0, end));
        if (end == std::string_view::npos || !prefix) return std::nullopt;
        lines.push_back({prefix->first, std::string(text.substr(prefix->second, end - prefix->second))});
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<std::vector<std::string>> parse_log(std::string_view text) {
    auto lines = parse_log_lines(text);
    if (!lines) return std::nullopt;
    std::vector<std::string> messages;
    for (auto& line : *lines) messages.push_back(std::move(line.message));
    return messages;
}

bool is_os_error_description(std::string_view text) {
    constexpr std::string_view marker = " (os error ";
    const std::size_t at = text.rfind(marker);
    if (at == std::string_view::npos || at == 0 || !text.ends_with(')')) return false;
    std::string_view code = text.substr(at + marker.size());
    code.remove_suffix(1);
    if (code.starts_with('-')) code.remove_prefix(1);
    return is_decimal(code);
}

namespace {

std::optional<std::wstring> environment_value(const std::wstring& name) {
    const DWORD needed = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::wstring value(needed, L'\0');
    value.resize(::GetEnvironmentVariableW(name.c_str(), value.data(), needed));
    return value;
}

void set_environment_value(const std::wstring& name, const std::optional<std::wstring>& value) {
    ::SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

}  // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::wstring name, const std::optional<std::wstring>& value)
    : name_(std::move(name)), previous_(environment_value(name_)) {
    set_environment_value(name_, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() { set_environment_value(name_, previous_); }

std::filesystem::path build_file(const std::wstring& relative_path) {
    return (std::filesystem::path(VOSTRANE_BUILD_DIR) / relative_path).make_preferred();
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

win::unique_file open_as_other_writer(const std::filesystem::path& path, std::uint32_t share) {
    return win::unique_file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring wide(const std::filesystem::path& path) { return path.wstring(); }

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::u16string u16(const std::filesystem::path& path) {
    const std::wstring text = path.wstring();
    return std::u16string(text.begin(), text.end());
}

}  // namespace vostrane::testing
