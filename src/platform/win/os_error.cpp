#include "win/os_error.hpp"

namespace vostrane::win {

IoError last_os_error() { return IoError::os_error(::GetLastError()); }

}  // namespace vostrane::win
