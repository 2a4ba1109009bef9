#include "win/file_io.hpp"

#include <algorithm>
#include <cstring>
#include <vector>
#include <utility>

#include "result.hpp"
#include "windows_path.hpp"
#include "win/os_error.hpp"

namespace vostrane::win {

std::expected<std::u16string, IoError> full_path(std::u16string_view path) {
    const std::u16string relative(path);
    auto full = query_text([&relative](wchar_t* buffer, DWORD capacity) {
        return ::GetFullPathNameW(wide_c_str(relative), capacity, buffer, nullptr);
    });
    if (!full) return std::unexpected(last_os_error());
    return std::move(*full);
}

std::optional<std::u16string> short_path(const std::u16string& extended_path) {
    return query_text([&extended_path](wchar_t* buffer, DWORD capacity) {
        return ::GetShortPathNameW(wide_c_str(extended_path), buffer, capacity);
    });
}

std::optional<std::u16string> full_path_if_any(const std::u16string& path) {
    auto full = full_path(path);
    if (!full) return std::nullopt;
    return std::move(*full);
}

std::u16string file_path(std::string_view path) { return file_call_path(path, full_path_if_any); }

std::u16string file_path(std::u16string path) { return file_call_path(std::move(path), full_path_if_any); }

namespace {

struct OpenedFile {
    unique_file file;
    bool existed = false;  // OPEN_ALWAYS found the file rather than creating it
};

std::expected<OpenedFile, IoError> create_file(const std::u16string& path, DWORD access, DWORD disposition) {
    unique_file file(::CreateFileW(wide_c_str(path), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    const DWORD error = ::GetLastError();
    if (!file) return std::unexpected(IoError::os_error(error));
    return OpenedFile{std::move(file), error == ERROR_ALREADY_EXISTS};
}

}  // namespace

std::expected<unique_file, IoError> open_shared(const std::u16string& path, DWORD access, DWORD disposition) {
    auto opened = create_file(path, access, disposition);
    RETURN_IF_FAILED(opened);
    return std::move(opened->file);
}

std::expected<unique_file, IoError> open_truncated(const std::u16string& path) {
    auto opened = create_file(path, GENERIC_WRITE, OPEN_ALWAYS);
    RETURN_IF_FAILED(opened);
    // A fresh handle is at position 0, so ending the file there empties it.
    // Devices such as NUL have nothing to empty and refuse it.
    const bool disk_file = ::GetFileType(opened->file.get()) == FILE_TYPE_DISK;
    if (opened->existed && disk_file && !::SetEndOfFile(opened->file.get())) return std::unexpected(last_os_error());
    return std::move(opened->file);
}

std::expected<void, IoError> write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD offered = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), offered, &written, nullptr)) {
            return std::unexpected(last_os_error());
        }
        if (written == 0) return std::unexpected(IoError::fixed_text(std::string(kFailedToWriteWholeBuffer)));
        bytes.remove_prefix(written);
    }
    return {};
}

std::expected<std::string, IoError> read_whole_file(HANDLE file, std::uint64_t largest) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return std::unexpected(last_os_error());
    if (static_cast<std::uint64_t>(size.QuadPart) > largest) {
        return std::unexpected(IoError::os_error(ERROR_FILE_TOO_LARGE));
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, MAXDWORD));
        if (!::ReadFile(file, bytes.data() + filled, wanted, &read, nullptr)) return std::unexpected(last_os_error());
        if (read == 0) break;  // the file became shorter
        filled += read;
    }
    bytes.resize(filled);
    return bytes;
}

std::expected<std::string, IoError> read_whole_file(const std::u16string& path, std::uint64_t largest) {
    auto file = open_shared(file_path(path), GENERIC_READ, OPEN_EXISTING);
    RETURN_IF_FAILED(file);
    return read_whole_file(file->get(), largest);
}

namespace {

// Opens the path for its metadata alone. Backup semantics let directories
// open too, and without FILE_FLAG_OPEN_REPARSE_POINT links are followed.
unique_file open_for_metadata(const std::u16string& path, DWORD access) {
    return unique_file(::CreateFileW(wide_c_str(path), access, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
}

}  // namespace

bool is_regular_file(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    return ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool names_regular_file(const std::u16string& path) {
    const unique_file file = open_for_metadata(path, 0);
    return file && is_regular_file(file.get());
}

bool is_directory(const std::u16string& path) {
    const unique_file file = open_for_metadata(path, FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !::GetFileInformationByHandle(file.get(), &information)) return false;
    return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<FileIdentity> file_identity(HANDLE file) {
    FileIdentity identity;
    FILE_ID_INFO id{};
    if (::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        identity.volume_serial = id.VolumeSerialNumber;
        static_assert(sizeof id.FileId.Identifier == sizeof identity.file_id);
        std::memcpy(identity.file_id.data(), id.FileId.Identifier, identity.file_id.size());
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information)) return std::nullopt;
    identity.volume_serial = information.dwVolumeSerialNumber;
    const std::uint64_t index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    std::memcpy(identity.file_id.data(), &index, sizeof index);
    return identity;
}

std::expected<std::u16string, IoError> volume_relative_path(HANDLE file) {
    // FILE_NAME_INFO followed by room for the longest path.
    std::vector<std::uint32_t> buffer((sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t)) / sizeof(std::uint32_t) + 1);
    if (!::GetFileInformationByHandleEx(file, FileNameInfo, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(std::uint32_t)))) {
        return std::unexpected(last_os_error());
    }
    const auto* information = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    const auto* name = reinterpret_cast<const char16_t*>(information->FileName);
    return std::u16string(name, information->FileNameLength / sizeof(wchar_t));
}

std::expected<std::u16string, IoError> final_path(HANDLE file) {
    auto path = query_text([file](wchar_t* buffer, DWORD capacity) {
        return ::GetFinalPathNameByHandleW(file, buffer, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    if (!path) return std::unexpected(last_os_error());
    return std::move(*path);
}

std::expected<std::u16string, IoError> canonical_path(std::u16string_view path) {
    auto full = full_path(path);
    RETURN_IF_FAILED(full);
    std::u16string existing = std::move(*full);
    while (is_path_separator(existing.back()) && !parent_directory(existing).empty()) existing.pop_back();
    std::u16string missing;  // what lies below `existing`, not made yet
    while (true) {
        const unique_file opened = open_for_metadata(file_path(existing), FILE_READ_ATTRIBUTES);
        if (opened) {
            auto resolved = final_path(opened.get());
            RETURN_IF_FAILED(resolved);
            const std::u16string plain = without_extended_prefix(*resolved);
            return missing.empty() ? plain : join_windows_path(plain, missing);
        }
        const IoError error = last_os_error();
        const std::u16string_view parent = parent_directory(existing);
        const bool absent = error.os_code() == ERROR_FILE_NOT_FOUND || error.os_code() == ERROR_PATH_NOT_FOUND;
        if (!absent || parent.empty()) return std::unexpected(error);
        const std::u16string_view name = final_path_component(existing);
        missing = missing.empty() ? std::u16string(name) : join_windows_path(name, missing);
        existing.resize(parent.size());
    }
}

namespace {

enum class MakeDirectory { created_or_exists, parent_missing, failed };

struct MakeDirectoryResult {
    MakeDirectory outcome;
    IoError error = IoError::os_error(ERROR_SUCCESS);
};

MakeDirectoryResult make_directory(std::u16string_view directory) {
    const std::u16string path = win::file_path(std::u16string(directory));
    if (::CreateDirectoryW(win::wide_c_str(path), nullptr)) return {MakeDirectory::created_or_exists};
    const DWORD code = ::GetLastError();
    if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) {
        return {MakeDirectory::parent_missing, IoError::os_error(code)};
    }
    // Existing directories, and roots, which refuse creation in various ways.
    if (win::is_directory(path)) return {MakeDirectory::created_or_exists};
    return {MakeDirectory::failed, IoError::os_error(code)};
}

}  // namespace

std::expected<void, IoError> create_directories(std::u16string_view directory) {
    // Walk up until a directory exists or can be made, then create the
    // missing ones below it, top down.
    std::vector<std::u16string_view> missing;
    for (std::u16string_view current = directory; !current.empty(); current = parent_directory(current)) {
        const MakeDirectoryResult made = make_directory(current);
        if (made.outcome == MakeDirectory::created_or_exists) break;
        if (made.outcome == MakeDirectory::failed || parent_directory(current).empty()) {
            return std::unexpected(made.error);
        }
        missing.push_back(current);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const MakeDirectoryResult made = make_directory(*it);
        if (made.outcome != MakeDirectory::created_or_exists) return std::unexpected(made.error);
    }
    return {};
}

}  // namespace vostrane::win
