// Reading a package's database through Windows Installer's own msi.dll. The
// library is loaded when a package is read, from the system directory only,
// so the helper imports nothing more and no msi.dll beside it is ever taken.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <wtypes.h>

#include <memory>
#include <utility>

#include "installed_product.hpp"
#include "msi_database.hpp"
#include "unicode.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"
#include "win/wide_text.hpp"

namespace vostrane {
namespace {

std::string describe_msi_error(std::string_view operation, UINT code) {
    return std::string(operation) + " failed: " + win::describe_io_error(IoError::os_error(code));
}

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

// The msi.dll functions the reader calls, and the loaded library they live in.
class MsiLibrary {
public:
    static Result<std::shared_ptr<const MsiLibrary>> load() {
        win::unique_module module(::LoadLibraryExW(L"msi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!module) return failure("msi.dll cannot be loaded: " + win::describe_last_error());
        auto library = std::shared_ptr<MsiLibrary>(new MsiLibrary(std::move(module)));
        if (!library->find_functions()) {
            return failure("msi.dll lacks a function it should have: " + win::describe_last_error());
        }
        return std::shared_ptr<const MsiLibrary>(std::move(library));
    }

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

    bool find_functions() {
        return find(open_database, "MsiOpenDatabaseW") && find(open_view, "MsiDatabaseOpenViewW") &&
               find(execute, "MsiViewExecute") && find(fetch, "MsiViewFetch") &&
               find(record_string, "MsiRecordGetStringW") &&
               find(summary_information, "MsiGetSummaryInformationW") &&
               find(summary_property, "MsiSummaryInfoGetPropertyW") && find(close_handle, "MsiCloseHandle") &&
               find(product_info, "MsiGetProductInfoExW");
    }

    win::unique_module module_;
};

// An MSIHANDLE, closed through the library it came from, which it keeps loaded.
class MsiHandle {
public:
    explicit MsiHandle(std::shared_ptr<const MsiLibrary> library) : library_(std::move(library)) {}
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    ~MsiHandle() {
        if (handle_ != 0) library_->close_handle(handle_);
    }

    [[nodiscard]] MSIHANDLE get() const { return handle_; }
    // Where a function that opens one writes the new handle.
    MSIHANDLE* out() { return &handle_; }

private:
    std::shared_ptr<const MsiLibrary> library_;
    MSIHANDLE handle_ = 0;
};

class WindowsMsiReader final : public MsiDatabaseReader {
public:
    WindowsMsiReader(std::shared_ptr<const MsiLibrary> library, std::unique_ptr<MsiHandle> database)
        : library_(std::move(library)), database_(std::move(database)) {}

    Result<std::vector<MsiRow>> rows(std::string_view table, std::span<const std::string_view> columns) override {
        const std::string query = select_query(table, columns);
        const std::string operation = table_read_operation(table);
        MsiHandle view(library_);
        const std::u16string wide_query = utf8_to_utf16(query);
        if (UINT result = library_->open_view(database_->get(), win::wide_c_str(wide_query), view.out());
            result != ERROR_SUCCESS) {
            return failure(describe_msi_error(operation, result));
        }
        if (UINT result = library_->execute(view.get(), 0); result != ERROR_SUCCESS) {
            return failure(describe_msi_error(operation, result));
        }
        std::vector<MsiRow> rows;
        for (;;) {
            MsiHandle record(library_);
            const UINT fetched = library_->fetch(view.get(), record.out());
            if (fetched == ERROR_NO_MORE_ITEMS) return rows;
            if (fetched != ERROR_SUCCESS) return failure(describe_msi_error(operation, fetched));
            MsiRow row;
            for (UINT field = 1; field <= columns.size(); ++field) {
                auto value = record_text(record.get(), field);
                if (!value) return failure(describe_msi_error(operation, value.error()));
                row.push_back(std::move(*value));
            }
            rows.push_back(std::move(row));
        }
    }

    Result<std::optional<std::int32_t>> summary_integer(std::uint32_t property_id) override {
        MsiHandle summary(library_);
        if (auto opened = open_summary(summary); !opened) return failure(opened.error());
        UINT type = VT_EMPTY;
        INT value = 0;
        FILETIME time{};
        DWORD length = 0;
        const UINT result =
            library_->summary_property(summary.get(), property_id, &type, &value, &time, nullptr, &length);
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
            return failure(describe_msi_error("Reading the summary information", result));
        }
        if (type == VT_I2 || type == VT_I4) return std::optional<std::int32_t>(value);
        return std::optional<std::int32_t>();
    }

    Result<std::optional<std::string>> summary_text(std::uint32_t property_id) override {
        MsiHandle summary(library_);
        if (auto opened = open_summary(summary); !opened) return failure(opened.error());
        UINT type = VT_EMPTY;
        const auto text = msi_text([&](wchar_t* buffer, DWORD* length) {
            INT integer = 0;
            FILETIME time{};
            return library_->summary_property(summary.get(), property_id, &type, &integer, &time, buffer, length);
        });
        if (!text) return failure(describe_msi_error("Reading the summary information", text.error()));
        if (type != VT_LPSTR) return std::optional<std::string>();
        return std::optional<std::string>(utf16_to_utf8_lossy(*text));
    }

private:
    Status open_summary(MsiHandle& summary) const {
        if (UINT result = library_->summary_information(database_->get(), nullptr, 0, summary.out());
            result != ERROR_SUCCESS) {
            return failure(describe_msi_error("Reading the summary information", result));
        }
        return {};
    }

    // A field as text; an integer comes as its decimal digits, null as "".
    std::expected<std::string, UINT> record_text(MSIHANDLE record, UINT field) const {
        const auto text = msi_text([&](wchar_t* buffer, DWORD* length) {
            return library_->record_string(record, field, buffer, length);
        });
        if (!text) return std::unexpected(text.error());
        return utf16_to_utf8_lossy(*text);
    }

    std::shared_ptr<const MsiLibrary> library_;
    std::unique_ptr<MsiHandle> database_;
};

}  // namespace

Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(const std::u16string& path) {
    auto library = MsiLibrary::load();
    if (!library) return failure(library.error());
    auto database = std::make_unique<MsiHandle>(*library);
    if (UINT result = (*library)->open_database(win::wide_c_str(path), MSIDBOPEN_READONLY, database->out());
        result != ERROR_SUCCESS) {
        return failure(describe_msi_error("MsiOpenDatabase", result));
    }
    return std::make_unique<WindowsMsiReader>(std::move(*library), std::move(database));
}

Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(const std::string& path) {
    return open_msi_database(utf8_to_utf16(path));
}

namespace {

MSIINSTALLCONTEXT msi_context(InstallContext context) {
    switch (context) {
        case InstallContext::user_managed:
            return MSIINSTALLCONTEXT_USERMANAGED;
        case InstallContext::user_unmanaged:
            return MSIINSTALLCONTEXT_USERUNMANAGED;
        case InstallContext::machine:
            break;
    }
    return MSIINSTALLCONTEXT_MACHINE;
}

class MsiInstalledProducts final : public InstalledProducts {
public:
    Result<InstalledProduct> query(std::string_view product_code, InstallContext context) override {
        auto library = MsiLibrary::load();
        if (!library) return failure(library.error());
        const std::u16string product = utf8_to_utf16(product_code);
        // No user SID: the user running the helper, who runs the installer;
        // the machine's context takes none.
        const auto property = [&](const wchar_t* name) {
            return msi_text([&](wchar_t* buffer, DWORD* length) {
                return (*library)->product_info(win::wide_c_str(product), nullptr, msi_context(context), name,
                                                buffer, length);
            });
        };
        const auto state = property(INSTALLPROPERTY_PRODUCTSTATE);
        if (!state && state.error() == ERROR_UNKNOWN_PRODUCT) return InstalledProduct{};
        if (!state) return failure(describe_msi_error("MsiGetProductInfoEx", state.error()));
        const auto package_code = property(INSTALLPROPERTY_PACKAGECODE);
        if (!package_code && package_code.error() == ERROR_UNKNOWN_PRODUCT) return InstalledProduct{};
        if (!package_code) return failure(describe_msi_error("MsiGetProductInfoEx", package_code.error()));
        InstalledProduct found;
        found.installed = *state == u"5";  // INSTALLSTATE_DEFAULT
        if (!package_code->empty()) found.package_code = unpacked_guid(utf16_to_utf8_lossy(*package_code));
        return found;
    }
};

}  // namespace

std::shared_ptr<InstalledProducts> msi_installed_products() { return std::make_shared<MsiInstalledProducts>(); }

}  // namespace vostrane
