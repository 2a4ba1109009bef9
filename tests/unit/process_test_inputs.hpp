#pragma once
// What the tests of the installer step and of the relaunch give the code: a
// fake file system, options with paths, and UTF-16 shown as UTF-8.
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "options.hpp"
#include "process/child_command.hpp"
#include "unicode.hpp"

namespace vostrane::testing {

inline std::string text(std::u16string_view units) { return utf16_to_utf8_lossy(units); }

// A file system that holds exactly these files.
inline PathQuery files(std::set<std::u16string> existing) {
    return [existing = std::move(existing)](const std::u16string& path) { return existing.contains(path); };
}

inline UpdateOptions options_with_paths() {
    UpdateOptions options;
    options.msi_path = "C:\\Temp\\update.msi";
    options.install_dir = "C:\\Program Files\\App\\";
    options.msi_log_path = "C:\\Temp\\msi.log";
    options.app_path = "C:\\Program Files\\App\\app.exe";
    return options;
}

}  // namespace vostrane::testing
