// Starts a program as the application starts the helper, waits for it, and
// prints what the application can observe: the full 32-bit exit code, which
// Wine does not pass on to Linux, and standard error (through a file in the
// temporary folder, not a pipe, which the relaunched shell would hold open).
//
// With --application MILLISECONDS first, it plays the application too: it
// starts stand-in-application.exe (beside this program), which runs that long,
// and passes its process id as the value of --parent-process-id.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "helper_process.hpp"

namespace {

// Starts the stand-in application for `milliseconds`; its process id, or 0.
DWORD start_application(const std::wstring& milliseconds) {
    wchar_t own_path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    const std::wstring program =
        (std::filesystem::path(own_path).parent_path() / L"stand-in-application.exe").wstring();
    std::wstring command_line = L"stand-in-application.exe " + milliseconds;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return 0;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return process.dwProcessId;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 2 && arguments[0] == L"--application") {
        const DWORD application = start_application(arguments[1]);
        if (application == 0) {
            std::fputs("run-as-application: cannot start stand-in-application.exe\n", stderr);
            return 2;
        }
        std::printf("application: stand-in-application.exe, process id %lu, exits after %ls ms\n",
                    static_cast<unsigned long>(application), arguments[1].c_str());
        arguments.erase(arguments.begin(), arguments.begin() + 2);
        for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
            if (arguments[i] == L"--parent-process-id") arguments[i + 1] = std::to_wstring(application);
        }
    }
    if (arguments.empty()) {
        std::fputs("usage: run-as-application [--application MILLISECONDS] PROGRAM [ARGUMENT ...]\n", stderr);
        return 2;
    }
    const std::vector<std::wstring> program_arguments(arguments.begin() + 1, arguments.end());
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    const auto error_file =
        std::filesystem::path(temp) / (L"run-as-application-" + std::to_wstring(::GetCurrentProcessId()) + L".txt");
    const auto run = vostrane::testing::StartedProgram(arguments[0],
                                                       vostrane::testing::join_arguments(program_arguments),
                                                       error_file)
                         .wait();
    ::DeleteFileW(error_file.c_str());
    std::printf("exit code: %lu\n", static_cast<unsigned long>(run.exit_code));
    std::printf("standard error:%s\n", run.standard_error.empty() ? " (empty)" : "");
    if (!run.standard_error.empty()) std::printf("  %s", run.standard_error.c_str());
    return 0;
}
