#include "win/os_error.hpp"

namespace vostrane::win {

namespace {

using NtStatusToDosError = ULONG(WINAPI*)(LONG status);

// ntdll exports the conversion but MinGW has no import library entry we can
// rely on everywhere, so it is looked up once at run time.
NtStatusToDosError resolve_nt_status_to_dos_error() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    const FARPROC address = ::GetProcAddress(ntdll, "RtlNtStatusToDosError");
    return reinterpret_cast<NtStatusToDosError>(reinterpret_cast<void*>(address));
}

}  // namespace

IoError last_os_error() { return IoError::os_error(::GetLastError()); }

IoError io_error_from_nt_status(LONG status) {
    static const NtStatusToDosError convert = resolve_nt_status_to_dos_error();
    // What the conversion itself answers for a status it has no code for.
    if (convert == nullptr) return IoError::os_error(ERROR_MR_MID_NOT_FOUND);
    return IoError::os_error(convert(status));
}

}  // namespace vostrane::win
