#include "msi_database.hpp"

#include <charconv>
#include <climits>

namespace vostrane {

std::string select_query(std::string_view table, std::span<const std::string_view> columns) {
    std::string query = "SELECT ";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        query += (i == 0 ? "`" : ", `") + std::string(columns[i]) + "`";
    }
    query += " FROM `" + std::string(table) + "`";
    return query;
}

std::string table_read_operation(std::string_view table) { return "Reading the " + std::string(table) + " table"; }

Result<std::uint32_t> integer_column_value(std::string_view text, std::string_view table, std::string_view column) {
    if (text.empty()) return 0u;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < INT32_MIN || value > INT32_MAX) {
        return failure("The " + std::string(table) + " table's " + std::string(column) + " holds " + std::string(text) +
                       ", not an integer.");
    }
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

}  // namespace vostrane
