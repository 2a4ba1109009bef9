#include "update_client.hpp"

#include <windows.h>

#include <optional>

#include "interface_texts.hpp"
#include "process/child_process.hpp"
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

std::unexpected<std::string> path_error(std::string_view what, const std::u16string& path, const IoError& error) {
    return failure(std::string(what) + path_text(path) + ": " + win::describe_io_error(error));
}

bool is_missing(const IoError& error) {
    return error.is_os_error() && (error.os_code() == ERROR_FILE_NOT_FOUND || error.os_code() == ERROR_PATH_NOT_FOUND);
}

// The whole file, or the error of opening or reading it.
std::expected<std::string, IoError> read_small_file(const std::u16string& path) {
    auto file = win::open_shared(win::file_path(path), GENERIC_READ, OPEN_EXISTING);
    if (!file) return std::unexpected(file.error());
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file->get(), &size)) return std::unexpected(win::last_os_error());
    if (size.QuadPart > kLargestDocument) return std::unexpected(IoError::os_error(ERROR_FILE_TOO_LARGE));
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !::ReadFile(file->get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        return std::unexpected(win::last_os_error());
    }
    bytes.resize(read);
    return bytes;
}

Result<std::string> read_document(const std::u16string& path) {
    auto bytes = read_small_file(path);
    if (!bytes) return path_error(kCannotRead, path, bytes.error());
    return std::move(*bytes);
}

std::expected<void, IoError> write_small_file(const std::u16string& path, std::string_view bytes) {
    auto file = win::open_truncated(win::file_path(path));
    if (!file) return std::unexpected(file.error());
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

// The final path of a folder, links resolved; nothing when it cannot be opened.
std::optional<std::u16string> final_folder_path(const std::u16string& folder) {
    const win::unique_file opened(::CreateFileW(win::wide_c_str(win::file_path(folder)), FILE_READ_ATTRIBUTES,
                                                win::kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                nullptr));
    if (!opened.valid()) return std::nullopt;
    auto path = win::final_path(opened.get());
    if (!path) return std::nullopt;
    return std::move(*path);
}

// Whether the folder is a folder of its own in `parent`, not a link that
// leads elsewhere (a junction, or a link Windows reports as a plain folder).
bool is_own_folder_in(const std::u16string& folder, const std::u16string& parent) {
    const auto final = final_folder_path(folder);
    const auto final_parent = final_folder_path(parent);
    return final && final_parent &&
           join_windows_path(*final_parent, final_path_component(folder)) == *final;
}

// Removes a helper copy's folder: its files, then the folder. A link is
// removed as a link: nothing it leads to is deleted.
void remove_helper_copy(const std::u16string& folder) {
    if (is_own_folder_in(folder, std::u16string(parent_directory(folder)))) {
        WIN32_FIND_DATAW entry{};
        const std::u16string pattern = join_windows_path(folder, u"*");
        const HANDLE search = ::FindFirstFileW(win::wide_c_str(win::file_path(pattern)), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
                const std::u16string name(reinterpret_cast<const char16_t*>(entry.cFileName));
                ::DeleteFileW(win::wide_c_str(win::file_path(join_windows_path(folder, name))));
            } while (::FindNextFileW(search, &entry));
            ::FindClose(search);
        }
    }
    ::RemoveDirectoryW(win::wide_c_str(win::file_path(folder)));
}

// Every helper copy in the update folder that is not in use; a running
// helper's stays until a later call.
void remove_helper_copies(const UpdateFolder& folder) {
    WIN32_FIND_DATAW entry{};
    const std::u16string pattern = join_windows_path(folder.path(), u"helper-*");
    const HANDLE search = ::FindFirstFileW(win::wide_c_str(win::file_path(pattern)), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::u16string> copies;
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(entry.cFileName));
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && is_helper_copy_folder_name(name)) {
            copies.push_back(join_windows_path(folder.path(), name));
        }
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    for (const auto& copy : copies) remove_helper_copy(copy);
}

// Whether the recorded helper still runs: the process of that id is alive
// and runs the recorded copy (a process id alone may have been reused).
bool is_running(const StartedHelper& helper) {
    if (helper.process_id == 0) return false;
    const win::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, helper.process_id));
    if (!process.valid() || ::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return false;
    std::u16string image(32768, u'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, reinterpret_cast<wchar_t*>(image.data()), &length)) {
        return false;
    }
    image.resize(length);
    return ::CompareStringOrdinal(win::wide_c_str(image), -1, win::wide_c_str(helper.helper_copy), -1, TRUE) ==
           CSTR_EQUAL;
}

Status record_started(const UpdateFolder& folder, const StartedHelper& helper) {
    if (auto written = write_small_file(folder.started_record_path(), started_record(helper)); !written) {
        return failure(std::string(kHelperNotStarted) + win::describe_io_error(written.error()));
    }
    return {};
}

}  // namespace

Status start_update(const std::u16string& helper_path, const UpdateFolder& folder, const UpdateOptions& options) {
    // Windows Installer owns the installation folder: a helper run from there
    // is a file it must replace while it runs.
    if (lies_within(folder.path(), options.install_dir)) return failure(std::string(kUpdateFolderInInstallation));
    if (auto made = win::create_directories(folder.path()); !made) {
        return failure(std::string(kUpdateFolderNotMade) + win::describe_io_error(made.error()));
    }
    auto copy_folder = make_new_folder(folder);
    if (!copy_folder) return failure(std::string(kUpdateFolderNotMade) + win::describe_io_error(copy_folder.error()));
    const std::u16string copy = join_windows_path(*copy_folder, final_path_component(helper_path));
    auto command = helper_command(copy, options);
    // Nothing is left behind when the helper does not start.
    const auto give_up = [&](std::string message) {
        remove_helper_copy(*copy_folder);
        return failure(std::move(message));
    };
    if (!command) return give_up(command.error());
    if (!::CopyFileW(win::wide_c_str(win::file_path(helper_path)), win::wide_c_str(win::file_path(copy)), TRUE)) {
        return give_up(std::string(kHelperNotCopied) + win::describe_last_error());
    }
    // Recorded before the start, so that a helper that starts is never unknown.
    if (auto recorded = record_started(folder, {0, copy}); !recorded) return give_up(recorded.error());
    const auto process_id = start(*command);
    if (!process_id) {
        ::DeleteFileW(win::wide_c_str(win::file_path(folder.started_record_path())));
        return give_up(std::string(kHelperNotStarted) + win::describe_io_error(process_id.error()));
    }
    // Without its id the record still says a helper ran; only whether it
    // still runs cannot be told, so a failure here is not the start's.
    (void)record_started(folder, {*process_id, copy});
    return {};
}

Result<FeedManifest> load_feed_manifest(const std::u16string& path) {
    auto text = read_document(path);
    if (!text) return failure(text.error());
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
    if (!text) return failure(text.error());
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
    return in_order([&] { return delete_if_present(pending.package_path); },
                    [&] { return delete_if_present(pending.manifest_path); });
}

}  // namespace vostrane::client
