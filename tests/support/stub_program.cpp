// A stand-in for a program the helper starts (msiexec.exe, explorer.exe): it
// records how it was started and exits with a chosen code. Built for the GUI
// subsystem like the programs it stands in for, so that Windows gives it no
// console and its standard handles are exactly the ones its starter passed.
//
// Environment (all optional):
//   VOSTRANE_STUB_RECORD     path of the record file; without it nothing is written
//   VOSTRANE_STUB_STARTED    when set (any value), the record holds the start time
//   VOSTRANE_STUB_EXIT_CODE  the 32-bit exit code: decimal, signed ("-1073741819")
//                            or not ("3221225477"), or hex with 0x ("0xC0000005");
//                            default 0. A value that is none of these ends the
//                            record with "error: bad VOSTRANE_STUB_EXIT_CODE" and
//                            exits with 2.
//   VOSTRANE_STUB_STDOUT     text written (as UTF-8) to the standard output handle
//   VOSTRANE_STUB_EVENT      a handle value in decimal, an event's in the starter
//                            that the child may have inherited: the stub calls
//                            SetEvent on that value, so the starter sees its
//                            event set only if this very value names it here
//   VOSTRANE_STUB_HANDLES    when set (any value), the record counts the handles
//                            the stub holds that are marked inheritable: a
//                            program's own handles are not, inherited ones are
//   VOSTRANE_STUB_INSTALL    when set (any value) and the command line is an
//                            installer's ("/i PACKAGE" first), the stub installs
//                            PACKAGE through msi.dll with the NAME=value
//                            arguments as properties, silently, before it exits
//                            with its code: it stands in for an installer that
//                            did its work
//
// Record: one run appends one record to the file, each line ending in "\n"
// alone (a carriage return inside a value is kept as it is):
//   command-line: <GetCommandLineW as UTF-8>
//   current-directory: <GetCurrentDirectoryW as UTF-8>
//   stdin: none|present
//   stdout: none|present
//   stderr: none|present
//   process-id: <GetCurrentProcessId as decimal>
//   event: set|failed   (only with VOSTRANE_STUB_EVENT; whether SetEvent succeeded)
//   inheritable-handles: <count as decimal>   (only with VOSTRANE_STUB_HANDLES)
//   started: <GetSystemTimePreciseAsFileTime as decimal>   (only with VOSTRANE_STUB_STARTED)
//   installed: <MsiInstallProductW's result as decimal>   (only with VOSTRANE_STUB_INSTALL and /i)
//   end
// "none" means GetStdHandle gave a null or invalid handle. The record is
// written with one WriteFile call in append mode, so records of runs that
// follow each other stay whole and in order.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shellapi.h>

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

std::optional<std::wstring> environment(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length);
    return value;
}

std::wstring current_directory() {
    const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(size, L'\0');
    directory.resize(::GetCurrentDirectoryW(size, directory.data()));
    return directory;
}

const char* presence(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    return handle == nullptr || handle == INVALID_HANDLE_VALUE ? "none" : "present";
}

// The handles marked inheritable among the values 4 to 16380. An inherited
// handle keeps the value it has in the starter, and the helper's and the
// tests' handle values are far lower.
unsigned inheritable_handles() {
    unsigned count = 0;
    for (std::uintptr_t value = 4; value < 16384; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) && (flags & HANDLE_FLAG_INHERIT) != 0) {
            ++count;
        }
    }
    return count;
}

bool all_of(const std::wstring& text, const wchar_t* digits) {
    return !text.empty() && text.find_first_not_of(digits) == std::wstring::npos;
}

// The exit code as the 32 bits that ExitProcess takes.
std::optional<std::uint32_t> parse_exit_code(const std::wstring& text) {
    if (text.size() > 2 && (text.starts_with(L"0x") || text.starts_with(L"0X"))) {
        const std::wstring digits = text.substr(2);
        if (!all_of(digits, L"0123456789abcdefABCDEF") || digits.size() > 8) return std::nullopt;
        return static_cast<std::uint32_t>(std::wcstoull(digits.c_str(), nullptr, 16));
    }
    const bool negative = text.starts_with(L"-");
    const std::wstring digits = negative ? text.substr(1) : text;
    if (!all_of(digits, L"0123456789") || digits.size() > 10) return std::nullopt;
    const long long value = std::wcstoll(digits.c_str(), nullptr, 10);
    if (negative ? value > 2147483648LL : value > 4294967295LL) return std::nullopt;
    return static_cast<std::uint32_t>(negative ? -value : value);
}

void append(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

// The command line's arguments after the program name.
std::vector<std::wstring> arguments() {
    int count = 0;
    wchar_t** split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> result;
    for (int i = 1; split != nullptr && i < count; ++i) result.emplace_back(split[i]);
    ::LocalFree(split);
    return result;
}

// Windows Installer's own msiexec takes paths of any length; msi.dll under
// Wine overruns a buffer on those of MAX_PATH or more, so the stand-in hands
// it their short form (asked of the extended-length form).
std::wstring short_enough_for_msi(const std::wstring& path) {
    if (path.size() < MAX_PATH) return path;
    const std::wstring extended = L"\\\\?\\" + path;
    std::wstring shortened(32768, L'\0');
    shortened.resize(::GetShortPathNameW(extended.c_str(), shortened.data(), 32768));
    if (shortened.starts_with(L"\\\\?\\")) shortened.erase(0, 4);
    return shortened.empty() ? path : shortened;
}

// A text of the package's database: its Property table's value, or the
// summary's package code (PID 9); empty when it cannot be read.
std::wstring package_property(MSIHANDLE database, const wchar_t* name) {
    std::wstring query = L"SELECT `Value` FROM `Property` WHERE `Property`='" + std::wstring(name) + L"'";
    MSIHANDLE view = 0, record = 0;
    std::wstring value(64, L'\0');
    DWORD length = static_cast<DWORD>(value.size());
    if (::MsiDatabaseOpenViewW(database, query.c_str(), &view) != ERROR_SUCCESS) return {};
    if (::MsiViewExecute(view, 0) == ERROR_SUCCESS && ::MsiViewFetch(view, &record) == ERROR_SUCCESS &&
        ::MsiRecordGetStringW(record, 1, value.data(), &length) == ERROR_SUCCESS) {
        value.resize(length);
    } else {
        value.clear();
    }
    if (record != 0) ::MsiCloseHandle(record);
    ::MsiCloseHandle(view);
    return value;
}

std::wstring package_code(MSIHANDLE database) {
    MSIHANDLE summary = 0;
    if (::MsiGetSummaryInformationW(database, nullptr, 0, &summary) != ERROR_SUCCESS) return {};
    UINT type = 0;
    INT integer = 0;
    FILETIME time{};
    std::wstring code(64, L'\0');
    DWORD length = static_cast<DWORD>(code.size());
    const UINT read = ::MsiSummaryInfoGetPropertyW(summary, 9, &type, &integer, &time, code.data(), &length);
    ::MsiCloseHandle(summary);
    if (read != ERROR_SUCCESS) return {};
    code.resize(length);
    return code;
}

// Each build of a test package carries a package code of its own. Windows
// Installer refuses a package of an installed product under another package
// code (1638), so an installation left in the prefix by an earlier build of
// the same package is removed first, as its own uninstallation would.
void remove_other_build_of_product(const std::wstring& package) {
    MSIHANDLE database = 0;
    if (::MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return;
    const std::wstring product = package_property(database, L"ProductCode");
    const std::wstring code = package_code(database);
    ::MsiCloseHandle(database);
    if (product.empty() || ::MsiQueryProductStateW(product.c_str()) != INSTALLSTATE_DEFAULT) return;
    std::wstring installed(64, L'\0');
    DWORD length = static_cast<DWORD>(installed.size());
    if (::MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_PACKAGECODE, installed.data(), &length) !=
        ERROR_SUCCESS) {
        return;
    }
    installed.resize(length);
    if (::CompareStringOrdinal(installed.c_str(), -1, code.c_str(), -1, TRUE) == CSTR_EQUAL) return;
    ::MsiConfigureProductW(product.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

// "/i PACKAGE ... NAME=value ...": installs PACKAGE with those properties, each
// value quoted as Windows Installer reads property values. Nothing when the
// command line is not an installation's.
std::optional<UINT> install_as_told(const std::vector<std::wstring>& arguments) {
    if (arguments.size() < 2 || ::CompareStringOrdinal(arguments[0].c_str(), -1, L"/i", -1, TRUE) != CSTR_EQUAL) {
        return std::nullopt;
    }
    std::wstring properties;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const std::size_t equals = argument.find(L'=');
        if (argument.starts_with(L"/") || equals == std::wstring::npos) continue;
        std::wstring value;
        for (wchar_t c : short_enough_for_msi(argument.substr(equals + 1))) {
            value += c == L'"' ? std::wstring(L"\"\"") : std::wstring(1, c);
        }
        properties += (properties.empty() ? L"" : L" ") + argument.substr(0, equals + 1) + L'"' + value + L'"';
    }
    const std::wstring package = short_enough_for_msi(arguments[1]);
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    // Stand-ins in other tests may install at the same time: one at a time.
    const HANDLE one_at_a_time = ::CreateMutexW(nullptr, FALSE, L"vostrane-stand-in-installer");
    ::WaitForSingleObject(one_at_a_time, INFINITE);
    remove_other_build_of_product(package);
    const UINT installed = ::MsiInstallProductW(package.c_str(), properties.c_str());
    ::ReleaseMutex(one_at_a_time);
    ::CloseHandle(one_at_a_time);
    return installed;
}

}  // namespace

int wmain() {
    FILETIME started{};
    ::GetSystemTimePreciseAsFileTime(&started);

    std::uint32_t exit_code = 0;
    bool exit_code_valid = true;
    if (const auto text = environment(L"VOSTRANE_STUB_EXIT_CODE")) {
        const auto parsed = parse_exit_code(*text);
        exit_code_valid = parsed.has_value();
        exit_code = parsed.value_or(2);
    }

    std::optional<UINT> installed;
    if (environment(L"VOSTRANE_STUB_INSTALL")) installed = install_as_told(arguments());

    if (const auto record_path = environment(L"VOSTRANE_STUB_RECORD")) {
        std::string record;
        record += "command-line: " + utf8(::GetCommandLineW()) + "\n";
        record += "current-directory: " + utf8(current_directory()) + "\n";
        record += std::string("stdin: ") + presence(STD_INPUT_HANDLE) + "\n";
        record += std::string("stdout: ") + presence(STD_OUTPUT_HANDLE) + "\n";
        record += std::string("stderr: ") + presence(STD_ERROR_HANDLE) + "\n";
        record += "process-id: " + std::to_string(::GetCurrentProcessId()) + "\n";
        if (const auto value = environment(L"VOSTRANE_STUB_EVENT")) {
            const auto value_bits = static_cast<std::uintptr_t>(std::wcstoull(value->c_str(), nullptr, 10));
            const auto handle = reinterpret_cast<HANDLE>(value_bits);
            record += std::string("event: ") + (::SetEvent(handle) ? "set" : "failed") + "\n";
        }
        if (environment(L"VOSTRANE_STUB_HANDLES")) {
            record += "inheritable-handles: " + std::to_string(inheritable_handles()) + "\n";
        }
        if (environment(L"VOSTRANE_STUB_STARTED")) {
            const std::uint64_t ticks = (std::uint64_t{started.dwHighDateTime} << 32) | started.dwLowDateTime;
            record += "started: " + std::to_string(ticks) + "\n";
        }
        if (installed) record += "installed: " + std::to_string(*installed) + "\n";
        if (!exit_code_valid) record += "error: bad VOSTRANE_STUB_EXIT_CODE\n";
        record += "end\n";
        append(*record_path, record);
    }

    if (const auto text = environment(L"VOSTRANE_STUB_STDOUT")) {
        const std::string bytes = utf8(*text);
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD written = 0;
        if (out != nullptr && out != INVALID_HANDLE_VALUE) {
            ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
    }

    ::ExitProcess(exit_code);
}
