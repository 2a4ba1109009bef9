#include "package_source_folder.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

namespace vostrane {
namespace {

constexpr std::array<std::string_view, 5> kSourceFolderProperties = {"SourceDir", "SOURCEDIR", "OriginalDatabase",
                                                                     "DATABASE", "CURRENTDIRECTORY"};

struct NameColumn {
    std::string_view table, column;
};
// Columns whose value is the bare name of a folder or property that the
// installation uses.
constexpr std::array<NameColumn, 14> kNameColumns = {{
    {"Component", "Directory_"},
    {"CreateFolder", "Directory_"},
    {"Directory", "Directory"},
    {"Directory", "Directory_Parent"},
    {"DuplicateFile", "DestFolder"},
    {"Feature", "Directory_"},
    {"IniFile", "DirProperty"},
    {"MoveFile", "SourceFolder"},
    {"MoveFile", "DestFolder"},
    {"RemoveFile", "DirProperty"},
    {"RemoveIniFile", "DirProperty"},
    {"ReserveCost", "ReserveFolder"},
    {"Shortcut", "Directory_"},
    {"Shortcut", "WkDir"},
}};

// Custom action types: the base type (the low six bits), and the source kinds
// whose Source column names a directory (34: a program's working folder) or a
// property (50: the program's path; 53, 54: a script's text).
constexpr std::uint32_t kBaseTypeMask = 0x3F;
constexpr std::uint32_t kSourceKindMask = 0x30;
constexpr std::uint32_t kSourceIsDirectory = 0x20;
constexpr std::uint32_t kSourceIsProperty = 0x30;
constexpr std::uint32_t kSetDirectory = 35;
constexpr std::uint32_t kSetProperty = 51;
constexpr std::uint32_t kNestedInstallFromSource = 23;

// Component attributes that let a component run from source.
constexpr std::uint32_t kComponentSourceOnly = 0x1;  // msidbComponentAttributesSourceOnly
constexpr std::uint32_t kComponentOptional = 0x2;    // msidbComponentAttributesOptional

// The names that stand for the folder, each with what sets it from the folder
// (empty for the folder's own properties).
using SourceNames = std::map<std::string, std::string, std::less<>>;

const DatabaseText::Table* find_table(const DatabaseText& text, std::string_view name) {
    const auto found = std::ranges::find(text.tables, name, &DatabaseText::Table::name);
    return found == text.tables.end() ? nullptr : &*found;
}

std::optional<std::size_t> column_index(const DatabaseText::Table& table, std::string_view column) {
    const auto found = std::ranges::find(table.columns, column);
    if (found == table.columns.end()) return std::nullopt;
    return static_cast<std::size_t>(found - table.columns.begin());
}

// The first folder name that `text` refers to in brackets, as "[NAME]".
std::optional<std::string> bracketed_reference(std::string_view text, const SourceNames& names) {
    for (std::size_t open = text.find('['); open != std::string_view::npos; open = text.find('[', open + 1)) {
        const std::size_t close = text.find_first_of("[]", open + 1);
        if (close == std::string_view::npos || text[close] != ']') continue;
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (names.contains(name)) return "[" + std::string(name) + "]";
    }
    return std::nullopt;
}

// The folder name a value refers to, in brackets or as the whole value.
std::optional<std::string> reference_in(std::string_view value, const SourceNames& names) {
    if (names.contains(value)) return std::string(value);
    return bracketed_reference(value, names);
}

Result<std::uint32_t> custom_action_type(std::string_view text) {
    return integer_column_value(text, "CustomAction", "Type");
}


// Calls `visit(row, column value...)` for each row of a table that has the
// columns; a table without them has nothing to visit.
template <std::size_t N, class Visit>
Status each_row(const DatabaseText& text, std::string_view table_name, const std::array<std::string_view, N>& columns,
                Visit visit) {
    const DatabaseText::Table* table = find_table(text, table_name);
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
        if (auto visited = visit(values); !visited) return visited;
    }
    return {};
}

// Components that may run from source.
Status add_run_from_source_uses(const DatabaseText& text, std::vector<SourceFolderUse>& uses) {
    return each_row<2>(text, "Component", {"Component", "Attributes"}, [&](const auto& row) -> Status {
        auto attributes = integer_column_value(row[1], "Component", "Attributes");
        if (!attributes) return failure(attributes.error());
        if ((*attributes & (kComponentSourceOnly | kComponentOptional)) != 0) {
            uses.push_back({SourceFolderUse::Kind::run_from_source, "Component", "Attributes", std::string(row[0]),
                            std::string(row[1]), ""});
        }
        return {};
    });
}

// The folder's properties and, until nothing changes, every property and
// directory set from one of those names.
Result<SourceNames> source_folder_names(const DatabaseText& text) {
    SourceNames names;
    for (std::string_view name : kSourceFolderProperties) names.emplace(name, "");
    for (bool changed = true; changed;) {
        changed = false;
        const auto add = [&](std::string_view name, std::string set_by) {
            if (!name.empty() && names.emplace(std::string(name), std::move(set_by)).second) changed = true;
        };
        auto read = each_row<2>(text, "Property", {"Property", "Value"}, [&](const auto& row) -> Status {
            if (auto from = reference_in(row[1], names)) add(row[0], "the Property table sets from " + *from);
            return {};
        });
        if (!read) return failure(read.error());
        read = each_row<4>(text, "CustomAction", {"Action", "Type", "Source", "Target"}, [&](const auto& row) -> Status {
            auto type = custom_action_type(row[1]);
            if (!type) return failure(type.error());
            const std::uint32_t base = *type & kBaseTypeMask;
            if (base != kSetProperty && base != kSetDirectory) return {};
            if (auto from = reference_in(row[3], names)) {
                add(row[2], "custom action " + std::string(row[0]) + " sets from " + *from);
            }
            return {};
        });
        if (!read) return failure(read.error());
        read = each_row<2>(text, "Directory", {"Directory", "Directory_Parent"}, [&](const auto& row) -> Status {
            if (names.contains(row[1])) add(row[0], "the Directory table places below " + std::string(row[1]));
            return {};
        });
        if (!read) return failure(read.error());
    }
    return names;
}

bool is_name_column(std::string_view table, std::string_view column) {
    return std::ranges::any_of(kNameColumns,
                               [&](const NameColumn& c) { return c.table == table && c.column == column; });
}

// Whether a custom action's Source names a folder or property that it uses:
// not the one that a type-35 or type-51 action sets.
bool source_is_used(std::uint32_t type) {
    const std::uint32_t base = type & kBaseTypeMask;
    const std::uint32_t kind = type & kSourceKindMask;
    return (kind == kSourceIsDirectory || kind == kSourceIsProperty) && base != kSetDirectory && base != kSetProperty;
}

// The use, if any, in one cell.
std::optional<SourceFolderUse> use_in_cell(const DatabaseText::Table& table, std::size_t column, const MsiRow& row,
                                           bool bare_name_used, const SourceNames& names) {
    const std::string& value = row[column];
    std::optional<std::string> reference;
    if (bare_name_used && names.contains(value)) {
        reference = value;
    } else {
        reference = bracketed_reference(value, names);
    }
    if (!reference) return std::nullopt;
    const std::string name = reference->starts_with('[') ? reference->substr(1, reference->size() - 2) : *reference;
    SourceFolderUse use;
    use.kind = table.name == "MoveFile" && table.columns[column] == "SourceFolder" ? SourceFolderUse::Kind::moved_files
                                                                                   : SourceFolderUse::Kind::reference;
    use.table = table.name;
    use.column = table.columns[column];
    use.row = row.front();
    use.refers_to = *reference;
    use.set_by = names.find(name)->second;
    return use;
}

Status add_table_uses(const DatabaseText::Table& table, const SourceNames& names, std::vector<SourceFolderUse>& uses) {
    const auto type_column = table.name == "CustomAction" ? column_index(table, "Type") : std::nullopt;
    for (const MsiRow& row : table.rows) {
        if (row.empty()) continue;
        std::uint32_t action_type = 0;
        if (type_column) {
            auto type = custom_action_type(row[*type_column]);
            if (!type) return failure(type.error());
            action_type = *type;
            if ((action_type & kBaseTypeMask) == kNestedInstallFromSource) {
                uses.push_back({SourceFolderUse::Kind::nested_install, table.name, "Type", row.front(), "", ""});
                continue;
            }
        }
        for (std::size_t column = 0; column < row.size(); ++column) {
            const bool bare_name_used = is_name_column(table.name, table.columns[column]) ||
                                        (type_column && table.columns[column] == "Source" && source_is_used(action_type));
            if (auto use = use_in_cell(table, column, row, bare_name_used, names)) {
                uses.push_back(std::move(*use));
                break;
            }
        }
    }
    return {};
}

}  // namespace

bool is_source_folder_property(std::string_view name) {
    return std::ranges::find(kSourceFolderProperties, name) != kSourceFolderProperties.end();
}

Result<std::vector<SourceFolderUse>> source_folder_uses(const DatabaseText& text) {
    auto names = source_folder_names(text);
    if (!names) return failure(names.error());
    std::vector<SourceFolderUse> uses;
    for (const auto& table : text.tables) {
        if (table.name.starts_with('_')) continue;
        if (auto added = add_table_uses(table, *names, uses); !added) return failure(added.error());
    }
    if (auto added = add_run_from_source_uses(text, uses); !added) return failure(added.error());
    return uses;
}

std::string source_folder_use_text(const SourceFolderUse& use) {
    constexpr std::string_view kOutside = "the folder the package was started from, where the signature does not reach";
    const std::string origin = use.set_by.empty() ? "" : ", which " + use.set_by;
    switch (use.kind) {
        case SourceFolderUse::Kind::nested_install:
            return "The CustomAction table's row " + use.row + " (type 23) installs another package from " +
                   std::string(kOutside) + ". Carry what it installs in this package.";
        case SourceFolderUse::Kind::moved_files:
            return "The MoveFile table's row " + use.row + " takes files from " + use.refers_to + origin +
                   ": Windows Installer would copy them from " + std::string(kOutside) +
                   ". Carry the files in the package: a <File> of a component, not a <CopyFile> from beside it.";
        case SourceFolderUse::Kind::run_from_source:
            return "The Component table's row " + use.row + " may run from source (Attributes " + use.refers_to +
                   "): Windows Installer would leave its files in " + std::string(kOutside) +
                   ", and run them from there. Install it locally: WiX <Component Location=\"local\"> (not "
                   "\"source\" or \"either\").";
        case SourceFolderUse::Kind::reference:
            break;
    }
    const std::string fix = use.table == "CustomAction"
                                ? "Run only what the package installs or carries: [#FileId], [INSTALLDIR], the Binary "
                                  "table."
                                : "Refer to what the package installs instead: [INSTALLDIR], [#FileId].";
    return "The " + use.table + " table's " + use.column + " of row " + use.row + " refers to " + use.refers_to +
           origin + ": Windows Installer would take what it names from " + std::string(kOutside) + ". " + fix;
}

}  // namespace vostrane
