// A stand-in for the application in relaunch tests: it leaves a marker file
// beside itself ("<its own path>.started") and exits, so a test sees that the
// shell really started it. The shell passes no arguments, so the marker's
// place comes from the program's own path.
#include <windows.h>

#include <string>

int wmain() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    if (path.empty()) return 1;
    // The extended-length form, so that a long path is taken on Windows too.
    const bool long_drive_path = path.size() >= MAX_PATH - 8 && path.size() > 2 && path[1] == L':';
    const std::wstring marker_path = (long_drive_path ? L"\\\\?\\" : L"") + path + L".started";
    HANDLE marker =
        ::CreateFileW(marker_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(marker);
    return 0;
}
