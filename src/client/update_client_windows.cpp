#include "update_client.hpp"

#include <windows.h>

#include <optional>

#include "helper_copy.hpp"
#include "interface_texts.hpp"
#include "process/child_process.hpp"
#include "result_document.hpp"
#include "unicode.hpp"
#include "win/file_io.hpp"
#include "win/os_error.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"
#include "win/wide_text.hpp"
#include "windows_path.hpp"

namespace vostrane::client {
namespace {

// Far more than a manifest or a result document holds: a larger file is not one.
constexpr DWORD kLargestDocument = 1 << 20;

std::string path_text(const std::u16string& path) { return utf16_to_utf8_lossy(path); }

// A step's failure: its message, then why.
std::unexpected<std::string> step_failed(std::string_view what, const IoError& error) {
    return failure(std::string(what) + win::describe_io_error(error));
}

std::unexpected<std::string> path_error(std::string_view what, const std::u16string& path, const IoError& error) {
    return failure(std::string(what) + path_text(path) + ": " + win::describe_io_error(error));
}

bool is_missing(const IoError& error) {
    return error.is_os_error() && (error.os_code() == ERROR_FILE_NOT_FOUND || error.os_code() == ERROR_PATH_NOT_FOUND);
}

// The whole file, or the error of opening or reading it.
std::expected<std::string, IoError> read_small_file(const std::u16string& path) {
    return win::read_whole_file(path, kLargestDocument);
}

Result<std::string> read_document(const std::u16string& path) {
    auto bytes = read_small_file(path);
    if (!bytes) return path_error(kCannotRead, path, bytes.error());
    return std::move(*bytes);
}

std::expected<void, IoError> write_small_file(const std::u16string& path, std::string_view bytes) {
    auto file = win::open_truncated(win::file_path(path));
    RETURN_IF_FAILED(file);
    return win::write_all(file->get(), bytes);
}

Status delete_if_present(const std::u16string& path) {
    if (::DeleteFileW(win::wide_c_str(win::file_path(path)))) return {};
    const IoError error = win::last_os_error();
    if (is_missing(error)) return {};
    return path_error(kCannotDelete, path, error);
}

// A folder that did not exist before: one planted beforehand (a link to
// elsewhere among them) is never used.
std::expected<std::u16string, IoError> make_new_folder(const UpdateFolder& folder) {
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    const std::uint64_t seed = (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 40) ^
                               static_cast<std::uint64_t>(counter.QuadPart);
    IoError last = IoError::os_error(ERROR_ALREADY_EXISTS);
    for (std::uint64_t attempt = 0; attempt < 64; ++attempt) {
        std::u16string path = folder.helper_copy_folder(seed + attempt * 0x9E3779B97F4A7C15ull);
        if (::CreateDirectoryW(win::wide_c_str(win::file_path(path)), nullptr)) return path;
        last = win::last_os_error();
        if (!last.is_os_error() || last.os_code() != ERROR_ALREADY_EXISTS) break;
    }
    return std::unexpected(last);
}

// Every helper copy in the update folder that is not in use; a running
// helper's stays until a later call.
void remove_helper_copies(const UpdateFolder& folder) {
    for (const auto& name : folder_names_in(folder.path())) {
        if (is_helper_copy_folder_name(name)) remove_helper_copy(join_windows_path(folder.path(), name));
    }
}

// The path as the file system knows it, or as given when it cannot tell.
std::u16string canonical_or_given(const std::u16string& path) { return win::canonical_path(path).value_or(path); }

// Whether the recorded helper still runs: the process of that id is alive
// and runs the recorded copy (a process id alone may have been reused). Both
// paths are made canonical: the same file may be spelled with '/', a short
// name or a link.
bool is_running(const StartedHelper& helper) {
    if (helper.process_id == 0) return false;
    const win::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, helper.process_id));
    if (!process.valid() || ::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return false;
    const auto image = process_image_path(process.get());
    return image && same_path(canonical_or_given(*image), canonical_or_given(helper.helper_copy));
}

Status record_started(const UpdateFolder& folder, const StartedHelper& helper) {
    if (auto written = write_small_file(folder.started_record_path(), started_record(helper)); !written) {
        return step_failed(kHelperNotStarted, written.error());
    }
    return {};
}

// Starts the held copy, and lets it run only once it is seen to run that
// very file. Its process id, or why it did not start.
Result<std::uint32_t> start_held_copy(const ChildCommand& command, const HeldHelperCopy& copy) {
    auto child = start_suspended(command);
    if (!child) return step_failed(kHelperNotStarted, child.error());
    const auto end_it = [&](std::string message) {
        ::TerminateProcess(child->process.get(), 1);
        ::WaitForSingleObject(child->process.get(), INFINITE);
        return failure(std::move(message));
    };
    if (auto same = copy.check_image_of(child->process.get()); !same) return end_it(same.error());
    if (::ResumeThread(child->thread.get()) == static_cast<DWORD>(-1)) {
        return end_it(std::string(kHelperNotStarted) + win::describe_last_error());
    }
    return static_cast<std::uint32_t>(::GetProcessId(child->process.get()));
}

}  // namespace

Status start_update(const std::u16string& helper_path, const UpdateFolder& given_folder, const UpdateOptions& options) {
    // The folders are compared, and the copy recorded, as the file system
    // knows them, so that another spelling of either is no other folder.
    auto folder_path = win::canonical_path(given_folder.path());
    if (!folder_path) return step_failed(kUpdateFolderNotMade, folder_path.error());
    const UpdateFolder folder(std::move(*folder_path));
    // Windows Installer owns the installation folder: a helper run from there
    // is a file it must replace while it runs.
    if (lies_within(folder.path(), canonical_or_given(options.install_dir))) {
        return failure(std::string(kUpdateFolderInInstallation));
    }
    if (auto made = win::create_directories(folder.path()); !made) {
        return step_failed(kUpdateFolderNotMade, made.error());
    }
    auto copy_folder = make_new_folder(folder);
    if (!copy_folder) return step_failed(kUpdateFolderNotMade, copy_folder.error());
    const std::u16string copy = join_windows_path(*copy_folder, final_path_component(helper_path));
    std::optional<HeldHelperCopy> held;
    // Nothing is left behind when the helper does not start.
    const auto give_up = [&](std::string message) {
        held.reset();
        remove_helper_copy(*copy_folder);
        return failure(std::move(message));
    };
    auto command = helper_command(copy, options);
    if (!command) return give_up(command.error());
    auto made_copy = HeldHelperCopy::make(helper_path, copy);
    if (!made_copy) return give_up(made_copy.error());
    held.emplace(std::move(*made_copy));
    // A document left by an earlier update must not be read as this one's
    // outcome, so it goes before this run is recorded: the folder's, which a
    // finish reads, and the one this helper is told to write, which the
    // application may read itself.
    for (const std::u16string& result : {folder.result_path(), options.result_path}) {
        if (result.empty()) continue;
        if (auto cleared = delete_if_present(result); !cleared) return give_up(cleared.error());
    }
    // Recorded before the start, so that a helper that starts is never unknown.
    if (auto recorded = record_started(folder, {0, copy}); !recorded) return give_up(recorded.error());
    const auto process_id = start_held_copy(*command, *held);
    if (!process_id) {
        ::DeleteFileW(win::wide_c_str(win::file_path(folder.started_record_path())));
        return give_up(process_id.error());
    }
    // Without its id the record still says a helper ran; only whether it
    // still runs cannot be told, so a failure here is not the start's.
    (void)record_started(folder, {*process_id, copy});
    return {};
}

Result<FeedManifest> load_feed_manifest(const std::u16string& path) {
    auto text = read_document(path);
    RETURN_IF_FAILED(text);
    return read_feed_manifest(*text);
}

Status start_pending_update(const FeedManifest& manifest, const PendingUpdate& update, const UpdateFolder& folder) {
    WIN32_FILE_ATTRIBUTE_DATA package{};
    if (!::GetFileAttributesExW(win::wide_c_str(win::file_path(update.package_path)), GetFileExInfoStandard,
                                &package)) {
        return path_error(kCannotRead, update.package_path, win::last_os_error());
    }
    const std::uint64_t size = (static_cast<std::uint64_t>(package.nFileSizeHigh) << 32) | package.nFileSizeLow;
    if (size != manifest.size) return failure(std::string(kPackageSizeDiffers));
    return start_update(update.helper_path, folder,
                        pending_update_options(manifest, update, folder, ::GetCurrentProcessId()));
}

Result<UpdateOutcome> load_update_result(const std::u16string& path) {
    auto text = read_document(path);
    RETURN_IF_FAILED(text);
    return read_result_document(*text);
}

LastUpdateReport finish_update(const UpdateFolder& folder, const PendingFiles& pending) {
    const auto record = read_small_file(folder.started_record_path());
    if (!record) {
        remove_helper_copies(folder);
        if (is_missing(record.error())) return {LastUpdate::none, failure("")};
        return {LastUpdate::ended, path_error(kCannotRead, folder.started_record_path(), record.error())};
    }
    const auto helper = read_started_record(*record);
    const bool running = helper && is_running(*helper);
    std::optional<std::string> result_text;
    if (auto result = read_small_file(folder.result_path())) {
        result_text = std::move(*result);
    } else if (!is_missing(result.error())) {
        return {LastUpdate::ended, path_error(kCannotRead, folder.result_path(), result.error())};
    }
    LastUpdateReport report = judge_last_update(true, running, result_text, folder);
    if (report.state != LastUpdate::ended) return report;
    // An installed update's files go first: if they stay, the record stays
    // too, and the next start finishes the update again instead of starting it.
    if (report.outcome && is_installed(*report.outcome)) {
        if (auto discarded = discard_pending_update(pending); !discarded) {
            return {LastUpdate::ended, failure(discarded.error())};
        }
    }
    if (auto forgotten = delete_if_present(folder.started_record_path()); !forgotten) {
        return {LastUpdate::ended, failure(forgotten.error())};
    }
    remove_helper_copies(folder);
    return report;
}

Status discard_pending_update(const PendingFiles& pending) {
    RETURN_IF_FAILED(delete_if_present(pending.package_path));
    return delete_if_present(pending.manifest_path);
}

}  // namespace vostrane::client
