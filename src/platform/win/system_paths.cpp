#include "win/system_paths.hpp"

#include <windows.h>

namespace vostrane::win {

std::optional<std::u16string> environment_variable(const char16_t* name) {
    const auto* wide_name = reinterpret_cast<const wchar_t*>(name);
    // An empty value returns 0 without an error.
    return query_text([wide_name](wchar_t* buffer, DWORD capacity) {
        return ::GetEnvironmentVariableW(wide_name, buffer, capacity);
    });
}

std::u16string own_executable_path() {
    // GetModuleFileNameW truncates silently and returns the capacity when the
    // buffer is too small, which query_text reads as "grow and try again".
    return query_text([](wchar_t* buffer, DWORD capacity) { return ::GetModuleFileNameW(nullptr, buffer, capacity); })
        .value_or(u"");
}

std::u16string system_directory() {
    return query_text([](wchar_t* buffer, DWORD capacity) { return ::GetSystemDirectoryW(buffer, capacity); })
        .value_or(u"");
}

std::u16string windows_directory() {
    return query_text([](wchar_t* buffer, DWORD capacity) { return ::GetWindowsDirectoryW(buffer, capacity); })
        .value_or(u"");
}

}  // namespace vostrane::win
