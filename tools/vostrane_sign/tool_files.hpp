#pragma once
// The signing tool's own file access: small key files in, new key files out.
#include <optional>
#include <string>
#include <string_view>

#include "result.hpp"
#include "secret_bytes.hpp"

namespace vostrane::sign_tool {

// A small file's whole content (a key or password file), wiped from memory
// when released.
struct KeyFileContent {
    SecretBytes bytes;
    // The file's permission bits (0644) where the system keeps them (Linux);
    // nothing on Windows, whose access lists this tool does not read.
    std::optional<unsigned> mode;
};

// The content of a small file; larger files are refused.
Result<KeyFileContent> read_key_file(const std::string& path);

enum class FileAccess { owner_only, everyone_may_read };

// Creates `path` with `content`; fails, and leaves nothing behind, if the file
// exists already or cannot be written whole.
Status create_new_file(const std::string& path, std::string_view content, FileAccess access);

// Removes a file this tool has just created; failures are ignored.
void remove_created_file(const std::string& path);

// From now on, standard output passes bytes through unchanged (Windows would
// otherwise write LF as CR LF).
void use_binary_standard_output();

}  // namespace vostrane::sign_tool
