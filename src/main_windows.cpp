// The process entry: a GUI-subsystem program with no window. It runs one update
// and exits with the run's code; an early failure's message goes to standard
// error when the process has one.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "command_line.hpp"
#include "run_update.hpp"
#include "windows_update_world.hpp"

namespace {

void write_to_standard_error(const std::string& message) {
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    const std::string line = message + "\n";
    const char* data = line.data();
    DWORD remaining = static_cast<DWORD>(line.size());
    while (remaining > 0) {
        DWORD written = 0;
        if (!::WriteFile(error, data, remaining, &written, nullptr) || written == 0) return;
        data += written;
        remaining -= written;
    }
}

vostrane::RunResult run_from_command_line() {
    const auto* command_line = reinterpret_cast<const char16_t*>(::GetCommandLineW());
    const auto split = vostrane::split_command_line(command_line);
    auto arguments = vostrane::arguments_from_command_line(split);
    if (!arguments) return vostrane::RunResult::early_failure(arguments.error());
    vostrane::WindowsUpdateWorld world;
    return vostrane::run_update(*arguments, world);
}

}  // namespace

// The helper has no console to print a terminate message on. Replacing the
// C++ runtime's verbose handler keeps its demangler and the C library's
// printf engine (together some 150 KB) out of the program; std::terminate
// still ends the process at once.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The helper often runs from a folder the user can write to: DLLs that
    // Windows or OpenSSL load later come from the system directory only,
    // never from beside the helper or the current directory.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const vostrane::RunResult result = run_from_command_line();
    if (result.is_early_failure()) write_to_standard_error(result.message());
    ::ExitProcess(result.exit_code);
}
