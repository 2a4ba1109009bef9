#pragma once
// What the helper knows of Windows paths, in one place: their parts, the
// length limits of the calls that take them, and the extended-length and
// short forms that get a path past those limits.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vostrane {

// ---- Length limits
// MAX_PATH counts the terminating NUL: a plain path holds at most 259 characters.
inline constexpr std::size_t kMaxPath = 260;
// Paths at least this long are handed to file calls in the extended form;
// CreateDirectoryW stops 12 characters short of MAX_PATH.
inline constexpr std::size_t kLongPathThreshold = 248;
// CreateProcessW takes a current directory of fewer than MAX_PATH - 1
// characters, with the final backslash that the child's current directory
// gets: a directory of this many characters or more, a final backslash not
// counted, is too long for it.
inline constexpr std::size_t kWorkingDirectoryLimit = 258;

// ---- Parts
// '\' or '/'.
bool is_path_separator(char16_t c);

// Whether the path begins with a drive: an ASCII letter and a colon ("C:").
bool starts_with_drive(std::u16string_view path);

// The Windows path without its last component and the separators before it.
// Empty for a bare file name and for a root (a drive, share or device with
// nothing after it).
std::u16string_view parent_directory(std::u16string_view path);

// The last component of a path: what follows the last separator, or the
// drive's colon ("C:setup.msi" names setup.msi in drive C's current directory).
std::u16string_view final_path_component(std::u16string_view path);

// `base` and `component` with one '\' between them; none is added when `base`
// is empty, already ends in a separator, or is a drive alone ("C:").
std::u16string join_windows_path(std::u16string_view base, std::u16string_view component);

// Whether the path is full: a drive with its root ("C:\", "C:/") or a share
// ("\\server\share\..."), also in the extended-length form. A path relative
// to a current directory ("app", "C:app", "\app") is not, nor is a device.
bool is_full_path(std::u16string_view path);

// ---- Comparison
// Paths compared as Windows compares names: '/' taken as '\', ASCII letters
// without case, separators at the end ignored. Nothing is resolved (links,
// short names, "..."): give both paths in the same form, canonical ones where
// it matters (win::canonical_path).
std::u16string comparable_path(std::u16string_view path);
bool same_path(std::u16string_view a, std::u16string_view b);
// Whether `path` is `folder` or lies below it.
bool lies_within(std::u16string_view path, std::u16string_view folder);

// ---- Forms

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

// Whether CreateProcessW would refuse the (full) directory as a child's
// current directory.
bool working_directory_too_long(std::u16string_view directory);

// A full path in a form that a call limited in length takes: the path itself
// when it is short enough; otherwise its short form, asked of its
// extended-length form (the plain form is itself limited to MAX_PATH unless
// long paths are enabled system-wide) and taken out of that form again.
// Nothing when that is not short enough either, or there is none.
std::optional<std::u16string> usable_by_limited_call(const std::u16string& full_path, const TooLongForCall& too_long,
                                                     const ShortFormQuery& short_form);

}  // namespace vostrane
