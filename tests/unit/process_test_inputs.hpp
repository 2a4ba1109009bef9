#pragma once
// What the tests of the installer step and of the relaunch give the code: a
// fake file system, the paths they pass, and UTF-16 shown as UTF-8.
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "process/child_command.hpp"
#include "unicode.hpp"

namespace vostrane::testing {

inline std::string text(std::u16string_view units) { return utf16_to_utf8_lossy(units); }

// A file system that holds exactly these files.
inline PathQuery files(std::set<std::u16string> existing) {
    return [existing = std::move(existing)](const std::u16string& path) { return existing.contains(path); };
}

inline constexpr char16_t kInstallDir[] = u"C:\\Program Files\\App\\";
inline constexpr char16_t kMsiLogPath[] = u"C:\\Temp\\msi.log";
inline constexpr char16_t kAppPath[] = u"C:\\Program Files\\App\\app.exe";

}  // namespace vostrane::testing
