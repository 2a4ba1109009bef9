#pragma once
// Every text and integer column of every table of a package, as the rules
// that read the whole database see them, and how they look a table up.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msi_database.hpp"
#include "result.hpp"

namespace vostrane {

struct DatabaseText {
    struct Table {
        std::string name;
        std::vector<std::string> columns;
        std::vector<MsiRow> rows;  // the first value names the row
    };
    std::vector<Table> tables;

    [[nodiscard]] const Table* find(std::string_view name) const {
        const auto found = std::ranges::find(tables, name, &Table::name);
        return found == tables.end() ? nullptr : &*found;
    }
};

inline std::optional<std::size_t> column_index(const DatabaseText::Table& table, std::string_view column) {
    const auto found = std::ranges::find(table.columns, column);
    if (found == table.columns.end()) return std::nullopt;
    return static_cast<std::size_t>(found - table.columns.begin());
}

// Calls `visit(values)` with these columns of each row of a table; a table
// without them has nothing to visit. The first failing visit ends the walk.
template <std::size_t N, class Visit>
Status each_row(const DatabaseText& text, std::string_view table_name, const std::array<std::string_view, N>& columns,
                Visit visit) {
    const DatabaseText::Table* table = text.find(table_name);
    if (table == nullptr) return {};
    std::array<std::size_t, N> at{};
    for (std::size_t i = 0; i < N; ++i) {
        const auto index = column_index(*table, columns[i]);
        if (!index) return {};
        at[i] = *index;
    }
    for (const MsiRow& row : table->rows) {
        std::array<std::string_view, N> values;
        for (std::size_t i = 0; i < N; ++i) values[i] = row.at(at[i]);
        RETURN_IF_FAILED(visit(values));
    }
    return {};
}

}  // namespace vostrane
