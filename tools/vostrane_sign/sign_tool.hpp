#pragma once
// vostrane-sign: keys and signatures for update packages.
#include <string>
#include <vector>

namespace vostrane::sign_tool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the command ran and failed, or the package is refused
inline constexpr int kExitUsage = 2;    // the command line is wrong

// Runs the command in `arguments` (the words after the program name), writing
// results to standard output and errors to standard error; returns the exit code.
int run_sign_tool(const std::vector<std::string>& arguments);

}  // namespace vostrane::sign_tool
