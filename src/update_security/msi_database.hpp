#pragma once
// Reading an MSI package's database: the few queries the package inspection
// makes, behind one small interface. The Windows build reads through Windows
// Installer's own msi.dll, the Linux signing tool through libmsi; tests read
// tables held in memory.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace vostrane {

// The values of one row, in the order the columns were asked for: a string as
// it is, an integer in decimal, a null value as empty text.
using MsiRow = std::vector<std::string>;

class MsiDatabaseReader {
public:
    virtual ~MsiDatabaseReader() = default;

    // Every row of `table` with these columns. A table or column the database
    // does not have is an error; the system table "_Tables" lists the tables.
    virtual Result<std::vector<MsiRow>> rows(std::string_view table, std::span<const std::string_view> columns) = 0;

    // An integer property of the summary information stream (a PID such as
    // 15, Word Count), or nothing when the summary does not hold it.
    virtual Result<std::optional<std::int32_t>> summary_integer(std::uint32_t property_id) = 0;

    // A text property of the summary information stream (a PID such as 9,
    // the package code), or nothing when the summary does not hold it.
    virtual Result<std::optional<std::string>> summary_text(std::uint32_t property_id) = 0;
};

// The query both readers run for MsiDatabaseReader::rows, names quoted:
// SELECT `a`, `b` FROM `table`.
std::string select_query(std::string_view table, std::span<const std::string_view> columns);
// What a failed read of the table is called in its message.
std::string table_read_operation(std::string_view table);

// An integer column's value as MsiRow holds it (decimal, a signed 32-bit
// number, taken as its bits); null (empty) is 0. Anything else is an error
// that names the table and column.
Result<std::uint32_t> integer_column_value(std::string_view text, std::string_view table, std::string_view column);

// Opens the package at `path` (UTF-8) for reading only.
Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(const std::string& path);

#ifdef _WIN32
// The same, for a path in the UTF-16 form the W functions take.
Result<std::unique_ptr<MsiDatabaseReader>> open_msi_database(const std::u16string& path);
#endif

}  // namespace vostrane
