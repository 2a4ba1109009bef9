// Starts a program as the application starts the helper (standard error on a
// pipe), waits for it, and prints what the application can observe: the full
// 32-bit exit code, which Wine does not pass on to Linux, and standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "helper_process.hpp"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: run-as-application PROGRAM [ARGUMENT ...]\n", stderr);
        return 2;
    }
    const std::vector<std::wstring> arguments(argv + 2, argv + argc);
    const auto run = vostrane::testing::run_program(argv[1], vostrane::testing::join_arguments(arguments));
    std::printf("exit code: %lu\n", static_cast<unsigned long>(run.exit_code));
    std::printf("standard error:%s\n", run.standard_error.empty() ? " (empty)" : "");
    if (!run.standard_error.empty()) std::printf("  %s", run.standard_error.c_str());
    return 0;
}
