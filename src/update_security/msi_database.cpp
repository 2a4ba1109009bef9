#include "msi_database.hpp"

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

}  // namespace vostrane
