// Reading a package's database with libmsi, for the signing tool on Linux.
#include <libmsi.h>

#include <memory>

#include "msi_database.hpp"

namespace vostrane {
namespace {

struct ObjectUnref {
    void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
template <class T>
using unique_object = std::unique_ptr<T, ObjectUnref>;

struct TextFree {
    void operator()(gchar* text) const noexcept { g_free(text); }
};

// Collects the GError of one call; its message, once the call has failed.
class CallError {
public:
    CallError() = default;
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;
    ~CallError() {
        if (error_ != nullptr) g_error_free(error_);
    }
    GError** out() { return &error_; }
    [[nodiscard]] bool set() const { return error_ != nullptr; }
    // libmsi sets no error for some failures, such as a file that is no database.
    [[nodiscard]] std::string message(std::string_view operation,
                                      std::string_view unexplained = "no reason given") const {
        return std::string(operation) + " failed: " + (error_ != nullptr ? error_->message : std::string(unexplained));
    }

private:
    GError* error_ = nullptr;
};

class LibmsiReader final : public MsiDatabaseReader {
public:
    explicit LibmsiReader(unique_object<LibmsiDatabase> database) : database_(std::move(database)) {}

    Result<std::vector<MsiRow>> rows(std::string_view table, std::span<const std::string_view> columns) override {
        const std::string query = select_query(table, columns);
        const std::string operation = table_read_operation(table);

        CallError opened;
        unique_object<LibmsiQuery> view(libmsi_query_new(database_.get(), query.c_str(), opened.out()));
        if (!view) return failure(opened.message(operation));
        CallError executed;
        if (!libmsi_query_execute(view.get(), nullptr, executed.out())) return failure(executed.message(operation));
        std::vector<MsiRow> rows;
        for (;;) {
            CallError fetched;
            unique_object<LibmsiRecord> record(libmsi_query_fetch(view.get(), fetched.out()));
            if (!record) {
                // After the last row a fetch returns nothing and sets no error.
                if (fetched.set()) return failure(fetched.message(operation));
                return rows;
            }
            MsiRow row;
            for (guint field = 1; field <= columns.size(); ++field) {
                std::unique_ptr<gchar, TextFree> text(libmsi_record_get_string(record.get(), field));
                row.emplace_back(text ? text.get() : "");
            }
            rows.push_back(std::move(row));
        }
    }

    Result<std::optional<std::int32_t>> summary_integer(std::uint32_t property_id) override {
        auto summary = summary_property(property_id);
        RETURN_IF_FAILED(summary);
        if (summary->type != LIBMSI_PROPERTY_TYPE_INT) return std::optional<std::int32_t>();
        CallError read;
        const gint value = libmsi_summary_info_get_int(summary->info.get(), summary->property, read.out());
        if (read.set()) return failure(read.message(kReadingSummary));
        return std::optional<std::int32_t>(value);
    }

    Result<std::optional<std::string>> summary_text(std::uint32_t property_id) override {
        auto summary = summary_property(property_id);
        RETURN_IF_FAILED(summary);
        if (summary->type != LIBMSI_PROPERTY_TYPE_STRING) return std::optional<std::string>();
        CallError read;
        // The text belongs to the summary information object.
        const gchar* value = libmsi_summary_info_get_string(summary->info.get(), summary->property, read.out());
        if (read.set() || value == nullptr) return failure(read.message(kReadingSummary));
        return std::optional<std::string>(value);
    }

private:
    static constexpr std::string_view kReadingSummary = "Reading the summary information";

    // The summary information, and the type of one of its properties there.
    struct SummaryProperty {
        unique_object<LibmsiSummaryInfo> info;
        LibmsiProperty property;
        LibmsiPropertyType type;
    };
    Result<SummaryProperty> summary_property(std::uint32_t property_id) {
        CallError opened;
        unique_object<LibmsiSummaryInfo> info(libmsi_summary_info_new(database_.get(), 0, opened.out()));
        if (!info) return failure(opened.message(kReadingSummary));
        const auto property = static_cast<LibmsiProperty>(property_id);
        CallError typed;
        const LibmsiPropertyType type = libmsi_summary_info_get_property_type(info.get(), property, typed.out());
        if (typed.set()) return failure(typed.message(kReadingSummary));
        return SummaryProperty{std::move(info), property, type};
    }

    unique_object<LibmsiDatabase> database_;
};

}  // namespace

Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(const std::string& path) {
    CallError opened;
    unique_object<LibmsiDatabase> database(
        libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, opened.out()));
    if (!database) return failure(opened.message("Opening the database", "not a Windows Installer database"));
    return std::make_unique<LibmsiReader>(std::move(database));
}

}  // namespace vostrane
