#pragma once
// Checks of the downloaded package file: type, SHA-256 digest, digest match.
#include <string>
#include <string_view>

#include "interface_texts.hpp"
#include "result.hpp"

namespace vostrane {

// True for an existing regular file (after links) named *.msi in any ASCII case.
bool is_msi_package(const std::string& path);
#ifdef _WIN32
// The same for a path already in UTF-16, as the helper's options hold it.
bool is_msi_package(const std::u16string& path);
#endif

// The name rule alone: the final component's extension is "msi", any ASCII case.
// `file_name` is UTF-16 because a Windows name may hold unpaired surrogates.
bool has_msi_extension(std::u16string_view file_name);

// SHA-256 of the file's bytes as 64 lower-case hex digits, or the I/O error's description.
Result<std::string> compute_package_digest(const std::string& path);

bool digest_matches(std::string_view package_digest, std::string_view expected_sha256);

}  // namespace vostrane
