#pragma once
// What Windows says about where things are: environment variables and the
// helper's own, the system and the Windows directories.
#include <optional>
#include <string>

#include "win/wide_text.hpp"

namespace vostrane::win {

// The variable's value, or nothing when it is not set. An empty value is set.
std::optional<std::u16string> environment_variable(const char16_t* name);

// GetModuleFileNameW of the running executable.
std::u16string own_executable_path();

// GetSystemDirectoryW and GetWindowsDirectoryW; empty when the call fails.
std::u16string system_directory();
std::u16string windows_directory();

}  // namespace vostrane::win
