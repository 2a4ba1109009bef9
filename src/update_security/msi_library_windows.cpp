#include "msi_library_windows.hpp"

#include <atomic>

#include "win/system_message.hpp"

namespace vostrane {
namespace {

std::atomic<std::size_t> loads{0};

}  // namespace

Result<std::shared_ptr<const MsiLibrary>> MsiLibrary::load() {
    ++loads;
    win::unique_module module(::LoadLibraryExW(L"msi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module) return failure("msi.dll cannot be loaded: " + win::describe_last_error());
    auto library = std::shared_ptr<MsiLibrary>(new MsiLibrary(std::move(module)));
    if (!library->find_functions()) {
        return failure("msi.dll lacks a function it should have: " + win::describe_last_error());
    }
    return std::shared_ptr<const MsiLibrary>(std::move(library));
}

std::size_t MsiLibrary::loads_so_far() { return loads; }

bool MsiLibrary::find_functions() {
    return find(open_database, "MsiOpenDatabaseW") && find(open_view, "MsiDatabaseOpenViewW") &&
           find(execute, "MsiViewExecute") && find(fetch, "MsiViewFetch") &&
           find(record_string, "MsiRecordGetStringW") && find(summary_information, "MsiGetSummaryInformationW") &&
           find(summary_property, "MsiSummaryInfoGetPropertyW") && find(close_handle, "MsiCloseHandle") &&
           find(product_info, "MsiGetProductInfoExW");
}

Result<std::shared_ptr<const MsiLibrary>> SharedMsiLibrary::get() {
    if (!loaded_) {
        auto library = MsiLibrary::load();
        RETURN_IF_FAILED(library);
        loaded_ = std::move(*library);
    }
    return loaded_;
}

std::string describe_msi_error(std::string_view operation, UINT code) {
    return std::string(operation) + " failed: " + win::describe_io_error(IoError::os_error(code));
}

}  // namespace vostrane
