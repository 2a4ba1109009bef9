#include <windows.h>

#include "reporting/result_file.hpp"
#include "unicode.hpp"
#include "win/file_io.hpp"

namespace vostrane {

namespace {

// The extended disposition class (Windows 10 1809 and later). The headers
// declare it only for newer _WIN32_WINNT targets; older systems refuse the
// call, and the fallback below takes over.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

bool mark_for_deletion_ignoring_read_only(HANDLE file) {
    DWORD flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
    return ::SetFileInformationByHandle(file, kFileDispositionInfoEx, &flags, sizeof(flags));
}

// For systems without the extended disposition class: drop the read-only
// attribute, mark the file, and put the attribute back if marking fails.
bool clear_read_only_and_mark_for_deletion(HANDLE file) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic))) return false;
    const DWORD original_attributes = basic.FileAttributes;
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic))) return false;

    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition))) return true;
    basic.FileAttributes = original_attributes;
    ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
    return false;
}

win::unique_file open_for_deletion(const std::u16string& path, DWORD extra_access) {
    // The reparse-point flag makes a link itself go, as DeleteFileW would; and
    // without backup semantics a directory cannot be opened, so it stays.
    return win::unique_file(::CreateFileW(win::wide_c_str(path), DELETE | extra_access, win::kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// DeleteFileW refuses read-only files with access denied.
void delete_read_only_file(const std::u16string& path) {
    if (win::unique_file file = open_for_deletion(path, 0)) {
        if (mark_for_deletion_ignoring_read_only(file.get())) return;
    }
    if (win::unique_file file = open_for_deletion(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES)) {
        clear_read_only_and_mark_for_deletion(file.get());
    }
}

}  // namespace

void clear_result_file(const std::u16string& path) {
    const std::u16string file = win::file_path(path);
    if (::DeleteFileW(win::wide_c_str(file))) return;
    // Anything else, usually that there is no such file, is no concern here.
    if (::GetLastError() == ERROR_ACCESS_DENIED) delete_read_only_file(file);
}

namespace {

// Beside the result, so that the rename stays on one volume; named for this
// process, so that two runs never share one.
std::u16string temporary_path(const std::u16string& result_path) {
    return result_path + u"." + utf8_to_utf16(std::to_string(::GetCurrentProcessId())) + u".tmp";
}

enum class Replacement { done, refused, failed };

// Writes the document to a temporary file, flushes it to disk and puts it in
// place in one step, so a reader finds the whole old document or the whole new
// one, never a part. No temporary file is left behind on any path. "refused":
// the temporary file could not be made or put in place; "failed": the bytes
// could not be written (a full disk), where a direct write would only leave
// a part of the document.
Replacement replace_through_temporary_file(const std::u16string& path, std::string_view document) {
    const std::u16string temporary = temporary_path(path);
    win::unique_file file(::CreateFileW(win::wide_c_str(temporary), GENERIC_WRITE, win::kShareAll, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Replacement::refused;  // nothing was created
    const bool written = win::write_all(file.get(), document) && ::FlushFileBuffers(file.get());
    file.reset();
    if (written &&
        ::MoveFileExW(win::wide_c_str(temporary), win::wide_c_str(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Replacement::done;
    }
    ::DeleteFileW(win::wide_c_str(temporary));
    return written ? Replacement::refused : Replacement::failed;
}

}  // namespace

void write_result_file(const std::u16string& path, const UpdateOutcome& outcome) {
    const std::string document = result_document(outcome);
    const std::u16string file_path = win::file_path(path);
    if (replace_through_temporary_file(file_path, document) != Replacement::refused) return;
    // Refused (a reader that does not share deletion, a device, no rights to
    // create files there): the direct write. Best effort: a document that
    // cannot be written is dropped.
    if (auto file = win::open_truncated(file_path)) {
        (void)win::write_all(file->get(), document);
    }
}

}  // namespace vostrane
