#include "win/system_message.hpp"

#include <windows.h>

#include <string_view>

namespace vostrane::win {

namespace {

// Error codes with this bit set carry an NT status, whose text lives in
// ntdll's message table rather than the system's.
constexpr std::uint32_t kNtStatusInErrorCode = 0x10000000;
constexpr DWORD kMessageBufferUnits = 2048;

}  // namespace

std::string system_message(std::uint32_t code) {
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    LPCVOID source = nullptr;
    DWORD looked_up_code = code;
    if ((code & kNtStatusInErrorCode) != 0) {
        if (const HMODULE ntdll = ::GetModuleHandleW(L"NTDLL.DLL")) {
            looked_up_code &= ~kNtStatusInErrorCode;
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
            source = ntdll;
        }
    }

    wchar_t buffer[kMessageBufferUnits];
    const DWORD length = ::FormatMessageW(flags, source, looked_up_code, 0, buffer, kMessageBufferUnits, nullptr);
    if (length == 0) return system_message_lookup_failed(looked_up_code, ::GetLastError());
    return system_message_from_units(looked_up_code,
                                     std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
}

std::string describe_last_error() {
    const DWORD code = ::GetLastError();
    return describe_io_error(IoError::os_error(code));
}

}  // namespace vostrane::win
