#include "win/system_paths.hpp"

#include <windows.h>

#include <algorithm>

namespace vostrane::win {
namespace {

// Calls `query(buffer, capacity)` with a growing buffer. The query returns the
// length it wrote, or the capacity it needs when the buffer was too small.
template <class Query>
std::optional<std::u16string> query_text(Query query) {
    std::u16string text(MAX_PATH, u'\0');
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(text.size());
        const DWORD length = query(reinterpret_cast<wchar_t*>(text.data()), capacity);
        if (length == 0 && ::GetLastError() != ERROR_SUCCESS) return std::nullopt;
        if (length < capacity) {
            text.resize(length);
            return text;
        }
        text.resize(std::max<std::size_t>(length, 2 * text.size()));
    }
}

}  // namespace

std::optional<std::u16string> environment_variable(const char16_t* name) {
    const auto* wide_name = reinterpret_cast<const wchar_t*>(name);
    ::SetLastError(ERROR_SUCCESS);  // an empty value returns 0 without an error
    return query_text([wide_name](wchar_t* buffer, DWORD capacity) {
        return ::GetEnvironmentVariableW(wide_name, buffer, capacity);
    });
}

std::u16string own_executable_path() {
    // GetModuleFileNameW truncates silently and returns the capacity when the
    // buffer is too small, which query_text reads as "grow and try again".
    return query_text([](wchar_t* buffer, DWORD capacity) {
               ::SetLastError(ERROR_SUCCESS);
               return ::GetModuleFileNameW(nullptr, buffer, capacity);
           }).value_or(u"");
}

std::u16string system_directory() {
    ::SetLastError(ERROR_SUCCESS);
    return query_text([](wchar_t* buffer, DWORD capacity) { return ::GetSystemDirectoryW(buffer, capacity); })
        .value_or(u"");
}

std::u16string windows_directory() {
    ::SetLastError(ERROR_SUCCESS);
    return query_text([](wchar_t* buffer, DWORD capacity) { return ::GetWindowsDirectoryW(buffer, capacity); })
        .value_or(u"");
}

}  // namespace vostrane::win
