#pragma once
// IoError values from the state Windows leaves after a failed call.
#include <windows.h>

#include "io_error.hpp"

namespace vostrane::win {

// The calling thread's last error (GetLastError) as an IoError.
IoError last_os_error();

}  // namespace vostrane::win
