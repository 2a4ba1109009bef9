#pragma once
// The "{} (os error {})" text for an errno value, in the shape the Windows build gives.
#include <string>

namespace vostrane {

std::string describe_posix_error(int error_number);

}  // namespace vostrane
