// The floor of the helper's own time around the installer: a Windows program
// that only loads msi.dll from the system directory, as the helper does, opens
// the package given and reads its Property table, and exits. Whatever the
// helper spends beyond this (and the shell's start after the installer) is its
// own. Exits with 0 when the table was read.
//
// Its last act asks for the environment variable MSI_FLOOR_DONE, so that a
// Wine trace of the process channel (WINEDEBUG=+process) marks its end.
//
// Usage: msi-floor PACKAGE
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HMODULE msi = ::LoadLibraryExW(L"msi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (msi == nullptr) return 3;
    const auto find = [msi](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(msi, name)); };
    const auto open_database = reinterpret_cast<decltype(&::MsiOpenDatabaseW)>(find("MsiOpenDatabaseW"));
    const auto open_view = reinterpret_cast<decltype(&::MsiDatabaseOpenViewW)>(find("MsiDatabaseOpenViewW"));
    const auto execute = reinterpret_cast<decltype(&::MsiViewExecute)>(find("MsiViewExecute"));
    const auto fetch = reinterpret_cast<decltype(&::MsiViewFetch)>(find("MsiViewFetch"));
    const auto close = reinterpret_cast<decltype(&::MsiCloseHandle)>(find("MsiCloseHandle"));
    if (!open_database || !open_view || !execute || !fetch || !close) return 4;
    MSIHANDLE database = 0, view = 0, record = 0;
    if (open_database(argv[1], MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return 5;
    if (open_view(database, L"SELECT `Property`, `Value` FROM `Property`", &view) != ERROR_SUCCESS ||
        execute(view, 0) != ERROR_SUCCESS) {
        return 6;
    }
    int rows = 0;
    while (fetch(view, &record) == ERROR_SUCCESS) {
        close(record);
        ++rows;
    }
    close(view);
    close(database);
    ::FreeLibrary(msi);
    wchar_t unused[1];
    ::GetEnvironmentVariableW(L"MSI_FLOOR_DONE", unused, 1);
    return rows > 0 ? 0 : 7;
}
