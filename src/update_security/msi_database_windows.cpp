// Reading a package's database through Windows Installer's own msi.dll.
#include <wtypes.h>

#include <memory>
#include <utility>

#include "msi_database.hpp"
#include "msi_library_windows.hpp"
#include "unicode.hpp"
#include "win/wide_text.hpp"

namespace vostrane {
namespace {

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
        RETURN_IF_FAILED(open_summary(summary));
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
        RETURN_IF_FAILED(open_summary(summary));
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
        RETURN_IF_FAILED(text);
        return utf16_to_utf8_lossy(*text);
    }

    std::shared_ptr<const MsiLibrary> library_;
    std::unique_ptr<MsiHandle> database_;
};

}  // namespace

Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(SharedMsiLibrary& msi, const std::u16string& path) {
    auto library = msi.get();
    RETURN_IF_FAILED(library);
    auto database = std::make_unique<MsiHandle>(*library);
    if (UINT result = (*library)->open_database(win::wide_c_str(path), MSIDBOPEN_READONLY, database->out());
        result != ERROR_SUCCESS) {
        return failure(describe_msi_error("MsiOpenDatabase", result));
    }
    return std::make_unique<WindowsMsiReader>(std::move(*library), std::move(database));
}

// A reading of its own loads msi.dll for as long as the reader lives.
Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(const std::u16string& path) {
    SharedMsiLibrary msi;
    return open_msi_database(msi, path);
}

Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(const std::string& path) {
    return open_msi_database(utf8_to_utf16(path));
}

}  // namespace vostrane
