#pragma once
// The extended-length form of Windows paths, which file calls accept beyond
// the classic MAX_PATH limit whatever the system's long-path setting.
#include <string>
#include <string_view>

namespace vostrane {

// Paths at least this long are handed to file calls in the extended form;
// CreateDirectoryW stops 12 characters short of MAX_PATH.
inline constexpr std::size_t kLongPathThreshold = 248;

// "\\?\C:\..." for a full drive path, "\\?\UNC\server\share\..." for a
// share; paths already in a device or extended form, and anything that is not
// a full path, unchanged. `full_path` must be normalised (as GetFullPathNameW
// gives it): the extended form turns off the system's own normalisation.
std::u16string extended_length_form(std::u16string_view full_path);

}  // namespace vostrane
