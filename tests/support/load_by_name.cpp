// Loads the DLL named on its command line by its bare name, as a program that
// does not restrict its DLL search would: exits 0 when it loaded, 1 when not.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    return ::LoadLibraryW(argv[1]) != nullptr ? 0 : 1;
}
