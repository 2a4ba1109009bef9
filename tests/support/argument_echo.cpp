// Writes how it read its own command line to the file named by the
// environment variable VOSTRANE_ECHO_RECORD, so a test can compare both
// Windows readings with the arguments it meant to pass. One line each, the
// argument's UTF-16 units in hex (so any character survives the trip):
//   crt <hex>     each argument as the C runtime split it (argv[1...])
//   shell <hex>   each argument as CommandLineToArgvW split it (after the program)
// An empty argument is the prefix with nothing after the space.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::string hex_units(const wchar_t* text) {
    std::string out;
    char unit[5];
    for (; *text != L'\0'; ++text) {
        std::snprintf(unit, sizeof unit, "%04x", static_cast<unsigned>(*text));
        out += unit;
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t record[32768];
    if (::GetEnvironmentVariableW(L"VOSTRANE_ECHO_RECORD", record, 32768) == 0) return 2;
    std::string lines;
    for (int i = 1; i < argc; ++i) lines += "crt " + hex_units(argv[i]) + "\n";
    int count = 0;
    wchar_t** shell = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (shell == nullptr) return 3;
    for (int i = 1; i < count; ++i) lines += "shell " + hex_units(shell[i]) + "\n";
    ::LocalFree(shell);

    FILE* out = _wfopen(record, L"wb");
    if (out == nullptr) return 4;
    std::fwrite(lines.data(), 1, lines.size(), out);
    std::fclose(out);
    return 0;
}
