#include "win/file_io.hpp"

#include <algorithm>

#include "unicode.hpp"
#include "win/os_error.hpp"

namespace vostrane::win {

std::wstring wide_path(std::string_view path) {
    const std::u16string units = utf8_to_utf16(path);
    return std::wstring(units.begin(), units.end());
}

std::expected<unique_file, IoError> open_shared(const std::wstring& path, DWORD access, DWORD disposition) {
    unique_file file(::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file) return std::unexpected(last_os_error());
    return file;
}

std::expected<unique_file, IoError> open_truncated(const std::wstring& path) {
    auto file = open_shared(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (!file) return file;
    // OPEN_ALWAYS reports an existing file this way; its position is 0, so
    // ending the file there empties it.
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !::SetEndOfFile(file->get())) {
        return std::unexpected(last_os_error());
    }
    return file;
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

bool is_directory(const std::wstring& path) {
    // Backup semantics let CreateFileW open directories; without the
    // reparse-point flag it follows links to their target.
    unique_file file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !::GetFileInformationByHandle(file.get(), &information)) return false;
    return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace vostrane::win
