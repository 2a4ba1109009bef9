#pragma once
// The extended-length form of Windows paths, which file calls accept beyond
// the classic MAX_PATH limit whatever the system's long-path setting.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vostrane {

// Whether the path begins with a drive: an ASCII letter and a colon ("C:").
bool starts_with_drive(std::u16string_view path);

// Paths at least this long are handed to file calls in the extended form;
// CreateDirectoryW stops 12 characters short of MAX_PATH.
inline constexpr std::size_t kLongPathThreshold = 248;

// "\\?\C:\..." for a full drive path, "\\?\UNC\server\share\..." for a
// share; paths already in a device or extended form, and anything that is not
// a full path, unchanged. `full_path` must be normalised (as GetFullPathNameW
// gives it): the extended form turns off the system's own normalisation.
std::u16string extended_length_form(std::u16string_view full_path);

// The plain form of an extended-length path: "\\?\C:\..." as "C:\..." and
// "\\?\UNC\server\share\..." as "\\server\share\..."; any other path unchanged.
std::u16string without_extended_prefix(std::u16string_view path);

// Makes a path full as GetFullPathNameW does (relative parts resolved, '/'
// turned into '\\'); nothing when it cannot.
using FullPathResolver = std::function<std::optional<std::u16string>(const std::u16string& path)>;

// The UTF-16 text a W file call takes for a UTF-8 path: as given when it is
// shorter than kLongPathThreshold UTF-16 units; otherwise made full and in
// its extended-length form, or as given when it cannot be made full.
std::u16string file_call_path(std::string_view utf8_path, const FullPathResolver& make_full);
// The same for a path already in UTF-16.
std::u16string file_call_path(std::u16string path, const FullPathResolver& make_full);

// The 8.3 form of a path in its extended-length form ("\\?\C:\..." or
// "\\?\UNC\..."), as GetShortPathNameW gives it for that form, which it takes
// at any length; nothing when the volume has none.
using ShortFormQuery = std::function<std::optional<std::u16string>(const std::u16string& extended_path)>;

// Whether a call limited in length refuses a (full, plain) path.
using TooLongForCall = std::function<bool(std::u16string_view path)>;

// Whether the path has MAX_PATH characters or more, which a call limited to
// MAX_PATH refuses (MAX_PATH counts the terminating NUL).
bool reaches_max_path(std::u16string_view path);

// A full path in a form that a call limited in length takes: the path itself
// when it is short enough; otherwise its short form, asked of its
// extended-length form (the plain form is itself limited to MAX_PATH unless
// long paths are enabled system-wide) and taken out of that form again.
// Nothing when that is not short enough either, or there is none.
std::optional<std::u16string> usable_by_limited_call(const std::u16string& full_path, const TooLongForCall& too_long,
                                                     const ShortFormQuery& short_form);

}  // namespace vostrane
