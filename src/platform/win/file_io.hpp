#pragma once
// File operations shared by the helper log and the result file. Every file is
// opened with sharing for reading, writing and deleting, so the helper never
// locks the application (or anyone else) out of its files.
#include <windows.h>

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "io_error.hpp"
#include "win/unique_handle.hpp"
#include "win/wide_text.hpp"

namespace vostrane::win {

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// UTF-8 path to the UTF-16 text the W file functions take (through
// wide_c_str): as given, or, when it is long, in its full extended-length form.
std::u16string file_path(std::string_view path);
// The same for a path already in UTF-16, so that it is converted only once.
std::u16string file_path(std::u16string path);

// CreateFileW with sharing for everyone and no special flags.
std::expected<unique_file, IoError> open_shared(const std::u16string& path, DWORD access, DWORD disposition);

// Opens for writing, creating the file or emptying an existing one. Unlike
// CREATE_ALWAYS this also empties hidden and system files.
std::expected<unique_file, IoError> open_truncated(const std::u16string& path);

// Writes every byte at the handle's position, continuing after short writes; a
// write that takes nothing fails with "failed to write whole buffer".
std::expected<void, IoError> write_all(HANDLE file, std::string_view bytes);

// Every byte of the open file from its position on; an error when it holds
// more than `largest` bytes.
std::expected<std::string, IoError> read_whole_file(HANDLE file, std::uint64_t largest);
// The same for the file at `path`, opened for reading with full sharing.
std::expected<std::string, IoError> read_whole_file(const std::u16string& path, std::uint64_t largest);

// Creates the directory and every missing one above it; an existing one is fine.
std::expected<void, IoError> create_directories(std::u16string_view directory);

// Whether the path names a directory, following links; false when it cannot tell.
bool is_directory(const std::u16string& path);

// Whether the open handle is a disk file that is not a directory (pipes,
// consoles and devices are not).
bool is_regular_file(HANDLE file);

// Whether the path names a regular file, following links; false when it
// cannot be queried. Only metadata is read, so a file that another process
// holds without sharing still answers.
bool names_regular_file(const std::u16string& path);

// What tells one file from another however it is named: the volume's serial
// number and the file's id on that volume. Where the file system answers
// FileIdInfo (NTFS and ReFS) these are its 64-bit serial and 128-bit id: ReFS
// ids do not fit the 64-bit file index. Elsewhere they are the 32-bit serial
// and the 64-bit index, widened.
struct FileIdentity {
    std::uint64_t volume_serial = 0;
    std::array<std::uint8_t, 16> file_id{};
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the open file; nothing when it cannot be queried.
std::optional<FileIdentity> file_identity(HANDLE file);

// The open file's normalised final path with its DOS volume name, links and
// short names resolved ("\\?\C:\..." or "\\?\UNC\server\share\...").
std::expected<std::u16string, IoError> final_path(HANDLE file);

// A full path as the file system knows it: made full ('/' and ".." resolved),
// then the longest part of it that exists replaced by its final path (links
// and short names resolved, plain form); the part that does not exist yet
// follows as given. Compare such paths with same_path or lies_within.
std::expected<std::u16string, IoError> canonical_path(std::u16string_view path);

// The open file's path below its volume's root ("\\dir\\file"), links resolved.
std::expected<std::u16string, IoError> volume_relative_path(HANDLE file);

// GetFullPathNameW: the path made full against the current directory.
std::expected<std::u16string, IoError> full_path(std::u16string_view path);
// The same, or nothing when it fails (a FullPathResolver).
std::optional<std::u16string> full_path_if_any(const std::u16string& path);

// GetShortPathNameW for a full path in its extended-length form (which it
// takes at any length): the 8.3 form, in that form; nothing when there is none.
std::optional<std::u16string> short_path(const std::u16string& extended_path);

}  // namespace vostrane::win
