#pragma once
// Splits a Windows command line into arguments by the Microsoft C runtime's rules.
#include <string>
#include <string_view>
#include <vector>

namespace vostrane {

// The whole command line as GetCommandLineW gives it; the first element of the
// result is the program name.
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

}  // namespace vostrane
