#pragma once
// IoError values from the state Windows leaves after a failed call.
#include <windows.h>

#include "io_error.hpp"

namespace vostrane::win {

// The calling thread's last error (GetLastError) as an IoError.
IoError last_os_error();

// The Windows error code for an NT status that a native read or write call
// returned (RtlNtStatusToDosError); the status itself is never shown.
IoError io_error_from_nt_status(LONG status);

}  // namespace vostrane::win
