// A stand-in for the application in the helper's end-to-end tests: it sleeps
// for the number of milliseconds given as its first argument (none: 0) and
// exits with 0, so a test can start it, hand its process id to the helper as
// the parent to wait for, or let the helper relaunch it. An argument that is
// not a decimal number of milliseconds exits with 2 at once. Built for the GUI
// subsystem like the application, so Windows gives it no console.
#include <windows.h>

#include <cwchar>
#include <string_view>

int wmain(int argc, wchar_t** argv) {
    DWORD milliseconds = 0;
    if (argc > 1) {
        const std::wstring_view text = argv[1];
        if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != std::wstring_view::npos) {
            return 2;
        }
        milliseconds = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    }
    ::Sleep(milliseconds);
    return 0;
}
