#pragma once
// The package held open from its digest until Windows Installer has read it,
// so that the bytes that were checked are the bytes that get installed.
#include <expected>
#include <string>

#include "result.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {

// Opens the package for reading, sharing it for reading only: while the handle
// lives no process can write to, truncate, delete or rename the file, yet
// Windows Installer can still open and read it. The handle is not inheritable.
// Fails with the I/O error's description.
Result<win::unique_file> open_package_locked(const std::string& path);

// SHA-256 of the bytes read through the handle from its current position to
// the end, as 64 lower-case hex digits, or the failed read's description.
Result<std::string> compute_package_digest(HANDLE package);

}  // namespace vostrane
