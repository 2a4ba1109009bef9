#include "process/child_process.hpp"

#include <windows.h>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>

#include "result.hpp"
#include "windows_path.hpp"
#include "process/child_command.hpp"
#include "win/file_io.hpp"
#include "win/os_error.hpp"
#include "win/system_paths.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

bool file_exists(const std::u16string& path) {
    return ::GetFileAttributesW(win::wide_c_str(path)) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::u16string> program_search_directories() {
    std::vector<std::u16string> directories = {std::u16string(parent_directory(win::own_executable_path())), win::system_directory(),
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

// The handles a child inherits, and no others: a PROC_THREAD_ATTRIBUTE_HANDLE_LIST
// for STARTUPINFOEXW. It keeps its own copy of the handle values, which the
// list points to, so it neither moves nor copies.
class InheritedHandleList {
public:
    InheritedHandleList() = default;
    ~InheritedHandleList() {
        if (initialized_) ::DeleteProcThreadAttributeList(list());
    }
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;

    // Lists up to three open, inheritable handles; at least one (an empty list is invalid).
    std::expected<void, LaunchError> set(const std::array<HANDLE, 3>& handles, std::size_t count) {
        handles_ = handles;
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);  // fails, giving the size
        if (size == 0) return std::unexpected(win::last_os_error());
        storage_ = std::make_unique<std::byte[]>(size);
        if (!::InitializeProcThreadAttributeList(list(), 1, 0, &size)) return std::unexpected(win::last_os_error());
        initialized_ = true;
        if (!::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                         count * sizeof(HANDLE), nullptr, nullptr)) {
            return std::unexpected(win::last_os_error());
        }
        return {};
    }

    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST list() const {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
    }

private:
    std::array<HANDLE, 3> handles_{};
    std::unique_ptr<std::byte[]> storage_;
    bool initialized_ = false;
};

// The path made full, as CreateProcessW makes a current directory full before
// it measures it; the path itself when that fails.
std::u16string full_directory(const std::u16string& path) { return win::full_path(path).value_or(path); }

std::expected<StartedChild, LaunchError> create_child(const ChildCommand& command, DWORD extra_creation_flags = 0) {
    auto application_name = resolve_application_name(command.program, kWindowsLookup);
    RETURN_IF_FAILED(application_name);
    auto command_line = build_command_line(command);
    RETURN_IF_FAILED(command_line);
    RETURN_IF_FAILED(check_working_directory(command));
    std::optional<std::u16string> working_directory;
    if (command.working_directory) {
        auto usable = usable_working_directory(full_directory(*command.working_directory), win::short_path);
        RETURN_IF_FAILED(usable);
        working_directory = std::move(*usable);
    }

    const ExclusiveLock lock(inheritable_handles_lock);
    auto standard_handles = command.inherits_standard_handles
                                ? duplicate_standard_handles()
                                : std::expected<StandardHandleDuplicates, LaunchError>(StandardHandleDuplicates{});
    RETURN_IF_FAILED(standard_handles);

    // The child's standard handles are the duplicates, null where the helper
    // has none, and it inherits them and nothing else. With none at all there
    // is no list (an empty one is invalid) and no inheritance. The handles are
    // given even then: without them, a process that inherits nothing gets its
    // starter's standard handle values duplicated instead (Wine does so), and
    // INVALID_HANDLE_VALUE duplicated is a handle to the helper itself.
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = standard_handles->handles[0].get();
    startup.StartupInfo.hStdOutput = standard_handles->handles[1].get();
    startup.StartupInfo.hStdError = standard_handles->handles[2].get();
    std::array<HANDLE, 3> inherited{};
    std::size_t inherited_count = 0;
    for (const auto& handle : standard_handles->handles) {
        if (handle.valid()) inherited[inherited_count++] = handle.get();
    }
    InheritedHandleList handle_list;
    DWORD creation_flags = CREATE_UNICODE_ENVIRONMENT | extra_creation_flags;
    if (inherited_count > 0) {
        RETURN_IF_FAILED(handle_list.set(inherited, inherited_count));
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = handle_list.list();
        creation_flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION created{};
    const bool ok = ::CreateProcessW(win::wide_c_str(*application_name),
                                     reinterpret_cast<wchar_t*>(command_line->data()), nullptr, nullptr,
                                     inherited_count > 0 ? TRUE : FALSE, creation_flags, nullptr,
                                     working_directory ? win::wide_c_str(*working_directory) : nullptr,
                                     &startup.StartupInfo, &created);
    const LaunchError error = win::last_os_error();
    // The duplicates are closed (when standard_handles ends) before the lock is released.
    if (!ok) return std::unexpected(error);
    return StartedChild{win::unique_handle(created.hProcess), win::unique_handle(created.hThread)};
}

}  // namespace

std::expected<std::uint32_t, LaunchError> run_to_exit(const ChildCommand& command) {
    auto child = create_child(command);
    RETURN_IF_FAILED(child);
    child->thread.reset();
    if (::WaitForSingleObject(child->process.get(), INFINITE) != WAIT_OBJECT_0) {
        return std::unexpected(win::last_os_error());
    }
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(child->process.get(), &exit_code)) return std::unexpected(win::last_os_error());
    return exit_code;
}

std::expected<StartedChild, LaunchError> start_suspended(const ChildCommand& command) {
    return create_child(command, CREATE_SUSPENDED);
}

std::expected<std::uint32_t, LaunchError> start(const ChildCommand& command) {
    auto child = create_child(command);
    RETURN_IF_FAILED(child);
    const DWORD process_id = ::GetProcessId(child->process.get());
    if (process_id == 0) return std::unexpected(win::last_os_error());
    return process_id;
}

}  // namespace vostrane
