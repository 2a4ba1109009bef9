#include "helper_copy.hpp"

#include <cstdint>
#include <optional>
#include <vector>

#include "interface_texts.hpp"
#include "win/os_error.hpp"
#include "win/system_message.hpp"
#include "win/wide_text.hpp"
#include "windows_path.hpp"

namespace vostrane::client {
namespace {

// Far larger than the helper: anything larger is not it.
constexpr std::uint64_t kLargestHelper = 64u << 20;

std::unexpected<std::string> not_copied(const IoError& error) {
    return failure(std::string(kHelperNotCopied) + win::describe_io_error(error));
}

// Opens the path itself: a link is opened as the link, never followed.
win::unique_file open_not_following(const std::u16string& path, DWORD access, DWORD share) {
    return win::unique_file(::CreateFileW(win::wide_c_str(win::file_path(path)), access, share, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool delete_through(HANDLE opened) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(opened, FileDispositionInfo, &disposition, sizeof disposition);
}

// One entry of a folder as its handle lists it.
struct ListedEntry {
    std::u16string name;
    std::uint64_t file_index = 0;
    bool is_folder = false;
};

// The entries of the open folder, "." and ".." left out.
std::vector<ListedEntry> list_entries(HANDLE folder) {
    std::vector<ListedEntry> entries;
    std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));  // aligned as the records need
    const auto buffer_bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    while (::GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.data(), buffer_bytes)) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
        while (true) {
            const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            std::u16string name(reinterpret_cast<const char16_t*>(record->FileName),
                                record->FileNameLength / sizeof(wchar_t));
            if (name != u"." && name != u"..") {
                entries.push_back({std::move(name), static_cast<std::uint64_t>(record->FileId.QuadPart),
                                   (record->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
            }
            if (record->NextEntryOffset == 0) break;
            bytes += record->NextEntryOffset;
        }
    }
    return entries;
}

std::optional<BY_HANDLE_FILE_INFORMATION> information_of(HANDLE opened) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(opened, &information)) return std::nullopt;
    return information;
}

std::uint64_t file_index_of(const BY_HANDLE_FILE_INFORMATION& information) {
    return (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
}

std::optional<std::u16string> final_path_of(HANDLE opened) {
    auto path = win::final_path(opened);
    if (!path) return std::nullopt;
    return without_extended_prefix(*path);
}

// Whether the open folder is where its path says, in its parent as the parent
// resolves: not a link that leads elsewhere (one Windows reports as a plain
// folder, as Wine does for a Linux link).
bool is_where_named(HANDLE opened, const std::u16string& folder) {
    const auto parent = win::canonical_path(parent_directory(folder));
    const auto final = final_path_of(opened);
    return parent && final && same_path(join_windows_path(*parent, final_path_component(folder)), *final);
}

// Deletes the folder's file of that name if it is the file listed: opened as
// itself, on the folder's volume, with the listed index.
void delete_if_listed(const std::u16string& folder, const ListedEntry& entry, DWORD volume_serial) {
    const win::unique_file file = open_not_following(join_windows_path(folder, entry.name),
                                                     DELETE | FILE_READ_ATTRIBUTES, win::kShareAll);
    const auto information = file ? information_of(file.get()) : std::nullopt;
    if (!information || information->dwVolumeSerialNumber != volume_serial ||
        file_index_of(*information) != entry.file_index ||
        (information->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return;
    }
    delete_through(file.get());
}

}  // namespace

Result<HeldHelperCopy> HeldHelperCopy::make(const std::u16string& helper, const std::u16string& copy) {
    const auto bytes = win::read_whole_file(helper, kLargestHelper);
    if (!bytes) return not_copied(bytes.error());
    std::optional<win::FileIdentity> written_identity;
    {
        // Written through a handle that lets others read, never write or delete.
        const win::unique_file written(::CreateFileW(win::wide_c_str(win::file_path(copy)),
                                                     GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!written) return not_copied(win::last_os_error());
        if (auto done = win::write_all(written.get(), *bytes); !done) return not_copied(done.error());
        written_identity = win::file_identity(written.get());
        if (!written_identity) return not_copied(win::last_os_error());
    }
    // Windows starts no image that is open for writing, so the copy is opened
    // again, for reading alone and denying writes and deletion to others, and
    // what it holds is checked: whatever was done to it in between shows here.
    win::unique_file held = open_not_following(copy, GENERIC_READ, FILE_SHARE_READ);
    if (!held) return not_copied(win::last_os_error());
    const auto identity = win::file_identity(held.get());
    const auto held_bytes = win::read_whole_file(held.get(), kLargestHelper);
    if (!identity || *identity != *written_identity || !held_bytes || *held_bytes != *bytes) {
        return failure(std::string(kHelperCopyChanged));
    }
    return HeldHelperCopy(std::move(held), *identity, copy);
}

Status HeldHelperCopy::check_image_of(HANDLE process) const {
    const auto image = process_image_path(process);
    if (!image) return failure(std::string(kHelperImageNotCopy));
    const auto opened = win::open_shared(win::file_path(*image), FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    const auto identity = opened ? win::file_identity(opened->get()) : std::nullopt;
    if (!identity || *identity != identity_) return failure(std::string(kHelperImageNotCopy));
    return {};
}

std::optional<std::u16string> process_image_path(HANDLE process) {
    std::u16string image(32768, u'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process, 0, reinterpret_cast<wchar_t*>(image.data()), &length)) {
        return std::nullopt;
    }
    image.resize(length);
    return image;
}

void remove_helper_copy(const std::u16string& folder, const std::function<void()>& after_listing) {
    const win::unique_file opened =
        open_not_following(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE, win::kShareAll);
    const auto information = opened ? information_of(opened.get()) : std::nullopt;
    if (!information) return;
    // A junction or link planted under the name: removed itself, nothing it
    // leads to is looked into.
    if ((information->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        delete_through(opened.get());
        return;
    }
    if ((information->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || !is_where_named(opened.get(), folder)) {
        return;
    }
    const std::vector<ListedEntry> entries = list_entries(opened.get());
    if (after_listing) after_listing();
    for (const auto& entry : entries) {
        if (!entry.is_folder) delete_if_listed(folder, entry, information->dwVolumeSerialNumber);
    }
    // Goes once its handle closes, when it is empty by then.
    delete_through(opened.get());
}

std::vector<std::u16string> folder_names_in(const std::u16string& folder) {
    const win::unique_file opened(::CreateFileW(win::wide_c_str(win::file_path(folder)),
                                                FILE_LIST_DIRECTORY | SYNCHRONIZE, win::kShareAll, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::vector<std::u16string> names;
    if (!opened) return names;
    for (auto& entry : list_entries(opened.get())) {
        if (entry.is_folder) names.push_back(std::move(entry.name));
    }
    return names;
}

}  // namespace vostrane::client
