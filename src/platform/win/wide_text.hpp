#pragma once
// The one form in which the helper hands text to the W functions, and the one
// way it reads text they write.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

namespace vostrane::win {

// UTF-16 text as the W functions take it (wchar_t is 16 bits on Windows).
inline const wchar_t* wide_c_str(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Calls `query(buffer, capacity)` with a growing buffer. The query returns the
// length it wrote, or the capacity it needs when the buffer was too small (or
// 0 with ERROR_MORE_DATA, as Wine answers some of them). Nothing when it fails;
// GetLastError then tells why. The last error is cleared before each call, so
// that a query that returns 0 for empty text without setting one reads as
// empty text.
template <class Query>
std::optional<std::u16string> query_text(Query query) {
    // The longest path Windows handles, with room for its terminating NUL.
    constexpr std::size_t kLongestText = 32768;
    std::u16string text(MAX_PATH, u'\0');
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(text.size());
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = query(reinterpret_cast<wchar_t*>(text.data()), capacity);
        const bool more_data = length == 0 && ::GetLastError() == ERROR_MORE_DATA;
        if (length == 0 && !more_data && ::GetLastError() != ERROR_SUCCESS) return std::nullopt;
        if (!more_data && length < capacity) {
            text.resize(length);
            return text;
        }
        if (more_data && text.size() >= kLongestText) return std::nullopt;
        text.resize(std::max<std::size_t>(length, 2 * text.size()));
    }
}

}  // namespace vostrane::win
