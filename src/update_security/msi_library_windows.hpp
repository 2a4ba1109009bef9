#pragma once
// Windows Installer's own msi.dll, loaded at run time from the system
// directory only, so the helper imports nothing more and no msi.dll beside it
// is ever taken. Loading it costs more than everything the helper then asks of
// it, so one loading serves a whole run: the package's reading before the
// installer and the questions on what the installer registered after it.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstddef>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "msi_database.hpp"
#include "result.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {

// The msi.dll functions the helper calls, and the loaded library they live in.
class MsiLibrary {
public:
    static Result<std::shared_ptr<const MsiLibrary>> load();
    // How often this process has loaded it so far, failed loads included:
    // what tells how many loadings a run made.
    static std::size_t loads_so_far();

    decltype(&::MsiOpenDatabaseW) open_database = nullptr;
    decltype(&::MsiDatabaseOpenViewW) open_view = nullptr;
    decltype(&::MsiViewExecute) execute = nullptr;
    decltype(&::MsiViewFetch) fetch = nullptr;
    decltype(&::MsiRecordGetStringW) record_string = nullptr;
    decltype(&::MsiGetSummaryInformationW) summary_information = nullptr;
    decltype(&::MsiSummaryInfoGetPropertyW) summary_property = nullptr;
    decltype(&::MsiCloseHandle) close_handle = nullptr;
    decltype(&::MsiGetProductInfoExW) product_info = nullptr;

private:
    explicit MsiLibrary(win::unique_module module) : module_(std::move(module)) {}

    template <class Function>
    bool find(Function& function, const char* name) {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_.get(), name)));
        return function != nullptr;
    }
    bool find_functions();

    win::unique_module module_;
};

// msi.dll for as long as its owner lives: loaded at the first use (again
// after a load that failed), never before, so a run that ends early does not
// pay for it. The run holds one and hands it to all that ask Windows Installer.
class SharedMsiLibrary {
public:
    Result<std::shared_ptr<const MsiLibrary>> get();

private:
    std::shared_ptr<const MsiLibrary> loaded_;
};

// Opens the package at `path` for reading only, through that library.
Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(SharedMsiLibrary& msi, const std::u16string& path);

// What a failed msi.dll call is called in a message: the operation, the
// system's text and the code.
std::string describe_msi_error(std::string_view operation, UINT code);

// Calls an msi.dll text getter, `get(buffer, &length)`, with a growing buffer:
// they answer ERROR_MORE_DATA with the length they need, NUL not counted.
template <class Getter>
std::expected<std::u16string, UINT> msi_text(Getter get) {
    std::u16string text(64, u'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(text.size());
        const UINT result = get(reinterpret_cast<wchar_t*>(text.data()), &length);
        if (result == ERROR_MORE_DATA) {
            text.resize(length + 1);
            continue;
        }
        if (result != ERROR_SUCCESS) return std::unexpected(result);
        text.resize(length);
        return text;
    }
}

}  // namespace vostrane
