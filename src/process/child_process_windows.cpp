#include "process/child_process.hpp"

#include <windows.h>

#include <array>
#include <optional>

#include "long_path.hpp"
#include "process/child_command.hpp"
#include "win/os_error.hpp"
#include "win/system_paths.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

bool file_exists(const std::u16string& path) {
    return ::GetFileAttributesW(win::wide_c_str(path)) != INVALID_FILE_ATTRIBUTES;
}

std::u16string directory_of(std::u16string path) {
    const auto last_separator = path.find_last_of(u"\\/");
    path.erase(last_separator == std::u16string::npos ? 0 : last_separator);
    return path;
}

std::vector<std::u16string> program_search_directories() {
    std::vector<std::u16string> directories = {directory_of(win::own_executable_path()), win::system_directory(),
                                               win::windows_directory()};
    if (const auto path_variable = win::environment_variable(u"PATH")) {
        for (auto& entry : split_search_path(*path_variable)) directories.push_back(std::move(entry));
    }
    return directories;
}

const ProgramLookup kWindowsLookup{file_exists, program_search_directories};

// Held from the preparation of inheritable handles until they are closed
// again, so that a child started at the same moment cannot inherit them.
SRWLOCK inheritable_handles_lock = SRWLOCK_INIT;

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// Inheritable duplicates of the helper's standard input, output and error; a
// missing one stays null. They are closed when this goes out of scope.
struct StandardHandleDuplicates {
    std::array<win::unique_handle, 3> handles;

    [[nodiscard]] bool any() const {
        return handles[0].valid() || handles[1].valid() || handles[2].valid();
    }
};

std::expected<StandardHandleDuplicates, LaunchError> duplicate_standard_handles() {
    StandardHandleDuplicates duplicates;
    const std::array<DWORD, 3> which = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (std::size_t i = 0; i < which.size(); ++i) {
        const HANDLE original = ::GetStdHandle(which[i]);
        if (original == nullptr || original == INVALID_HANDLE_VALUE) continue;
        HANDLE duplicate = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), original, ::GetCurrentProcess(), &duplicate, 0, TRUE,
                               DUPLICATE_SAME_ACCESS)) {
            return std::unexpected(win::last_os_error());
        }
        duplicates.handles[i].reset(duplicate);
    }
    return duplicates;
}

// The path made full, as CreateProcessW makes a current directory full before
// it measures it; the path itself when that fails.
std::u16string full_path(const std::u16string& path) {
    const DWORD needed = ::GetFullPathNameW(win::wide_c_str(path), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::u16string full(needed, u'\0');
    const DWORD length =
        ::GetFullPathNameW(win::wide_c_str(path), needed, reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

// GetShortPathNameW's answer for the full directory's extended-length form,
// which it takes at any length.
std::optional<std::u16string> short_form(const std::u16string& full_directory) {
    const std::u16string extended = extended_length_form(full_directory);
    const DWORD needed = ::GetShortPathNameW(win::wide_c_str(extended), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::u16string answer(needed, u'\0');
    const DWORD length =
        ::GetShortPathNameW(win::wide_c_str(extended), reinterpret_cast<wchar_t*>(answer.data()), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    answer.resize(length);
    return answer;
}

struct ChildProcess {
    win::unique_handle process;
    win::unique_handle thread;
};

std::expected<ChildProcess, LaunchError> create_child(const ChildCommand& command) {
    auto application_name = resolve_application_name(command.program, kWindowsLookup);
    if (!application_name) return std::unexpected(application_name.error());
    auto command_line = build_command_line(command);
    if (!command_line) return std::unexpected(command_line.error());
    if (auto checked = check_working_directory(command); !checked) return std::unexpected(checked.error());
    std::optional<std::u16string> working_directory;
    if (command.working_directory) {
        auto usable = usable_working_directory(full_path(*command.working_directory), short_form);
        if (!usable) return std::unexpected(usable.error());
        working_directory = std::move(*usable);
    }

    const ExclusiveLock lock(inheritable_handles_lock);
    auto standard_handles = duplicate_standard_handles();
    if (!standard_handles) return std::unexpected(standard_handles.error());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (standard_handles->any()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = standard_handles->handles[0].get();
        startup.hStdOutput = standard_handles->handles[1].get();
        startup.hStdError = standard_handles->handles[2].get();
    }
    PROCESS_INFORMATION created{};
    const bool ok = ::CreateProcessW(win::wide_c_str(*application_name),
                                     reinterpret_cast<wchar_t*>(command_line->data()), nullptr, nullptr, TRUE,
                                     CREATE_UNICODE_ENVIRONMENT, nullptr,
                                     working_directory ? win::wide_c_str(*working_directory) : nullptr, &startup,
                                     &created);
    const LaunchError error = win::last_os_error();
    // The duplicates are closed (when standard_handles ends) before the lock is released.
    if (!ok) return std::unexpected(error);
    return ChildProcess{win::unique_handle(created.hProcess), win::unique_handle(created.hThread)};
}

}  // namespace

std::expected<std::uint32_t, LaunchError> run_to_exit(const ChildCommand& command) {
    auto child = create_child(command);
    if (!child) return std::unexpected(child.error());
    child->thread.reset();
    if (::WaitForSingleObject(child->process.get(), INFINITE) != WAIT_OBJECT_0) {
        return std::unexpected(win::last_os_error());
    }
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(child->process.get(), &exit_code)) return std::unexpected(win::last_os_error());
    return exit_code;
}

std::expected<std::uint32_t, LaunchError> start(const ChildCommand& command) {
    auto child = create_child(command);
    if (!child) return std::unexpected(child.error());
    const DWORD process_id = ::GetProcessId(child->process.get());
    if (process_id == 0) return std::unexpected(win::last_os_error());
    return process_id;
}

}  // namespace vostrane
