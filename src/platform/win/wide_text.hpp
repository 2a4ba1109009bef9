#pragma once
// The one form in which the helper hands text to the W functions.
#include <string>

namespace vostrane::win {

// UTF-16 text as the W functions take it (wchar_t is 16 bits on Windows).
inline const wchar_t* wide_c_str(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace vostrane::win
