#include "package_source_folder.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <set>

#include "package_values.hpp"

namespace vostrane {
namespace {

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

// Custom action types: the base type is the low six bits; of those, bits 4
// and 5 say where Source points (0x20 a directory, 0x30 a property), the
// low three what runs (2 a program, 7 a nested install).
constexpr std::uint32_t kBaseTypeMask = 0x3F;
constexpr std::uint32_t kSourceKindMask = 0x30;
constexpr std::uint32_t kSourceIsDirectory = 0x20;
constexpr std::uint32_t kSourceIsProperty = 0x30;
constexpr std::uint32_t kSetDirectory = 35;
constexpr std::uint32_t kSetProperty = 51;
constexpr std::uint32_t kRunInFolder = 34;
constexpr std::uint32_t kNestedInstallFromSource = 23;
constexpr std::uint32_t kNestedInstallOfProduct = 39;
// The base types whose Target is a command line: programs from the Binary
// table, the File table, a folder and a property, and a nested install's
// property settings.
constexpr std::array<std::uint32_t, 5> kCommandLineTypes = {2, 7, 18, 34, 50};
constexpr std::uint32_t kInScript = 0x400;  // deferred, rollback and commit actions
// The chainer's Type for a program named by a property.
constexpr std::uint32_t kChainerFromProperty = 50;

// Properties WiX's quiet and silent execution actions run as a command line
// when they run immediately (deferred, they read CustomActionData).
constexpr std::array<std::string_view, 4> kWixExecCommandLines = {
    "WixQuietExecCmdLine", "WixQuietExec64CmdLine", "WixSilentExecCmdLine", "WixSilentExec64CmdLine"};

// Component attributes that let a component run from source.
constexpr std::uint32_t kComponentSourceOnly = 0x1;  // msidbComponentAttributesSourceOnly
constexpr std::uint32_t kComponentOptional = 0x2;    // msidbComponentAttributesOptional

enum class Reading { name, formatted };
struct Place {
    std::string_view column;
    Reading reading;
};
// Places that every row of a table has.
struct TablePlaces {
    std::string_view table;
    std::array<Place, 2> places;
};
constexpr std::array<TablePlaces, 4> kTablePlaces = {{
    {"MoveFile", {{{"SourceFolder", Reading::name}, {"SourceName", Reading::formatted}}}},
    {"ServiceInstall", {{{"Arguments", Reading::formatted}, {}}}},
    {"ServiceControl", {{{"Arguments", Reading::formatted}, {}}}},
    {"MsiEmbeddedChainer", {{{"CommandLine", Reading::formatted}, {}}}},
}};

Result<std::uint32_t> custom_action_type(std::string_view text) {
    return integer_column_value(text, "CustomAction", "Type");
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

bool is_allowed(Origin origin, InstallScope scope) {
    switch (origin) {
        case Origin::installed_folder:
        case Origin::package_file:
        case Origin::system_folder:
            return true;
        case Origin::per_user_folder:
            return scope == InstallScope::per_user;
        default:
            return false;
    }
}

// The first part of any alternative that comes from an origin `matches` holds for.
template <class Matches>
std::optional<Piece> first_piece(const Value& value, Matches matches) {
    for (const Alternative& alternative : value) {
        for (const Piece& piece : alternative) {
            if (piece.origin && matches(*piece.origin)) return piece;
        }
    }
    return std::nullopt;
}

class SourceFolderRule {
public:
    SourceFolderRule(const DatabaseText& text, const PackageValues& values, InstallScope scope)
        : text_(text), values_(values), scope_(scope) {}

    Status add_uses(std::vector<SourceFolderUse>& uses) {
        RETURN_IF_FAILED(read_data_handed_to_code());
        for (const auto& table : text_.tables) {
            if (table.name.starts_with('_')) continue;
            for (const MsiRow& row : table.rows) {
                if (row.empty()) continue;
                auto use = use_in_row(table, row);
                RETURN_IF_FAILED(use);
                if (*use) uses.push_back(std::move(**use));
            }
        }
        return {};
    }

private:
    // The properties read as data by the package's own code.
    Status read_data_handed_to_code() {
        for (std::string_view name : kWixExecCommandLines) handed_to_code_.emplace(name);
        return each_row<2>(text_, "CustomAction", {"Action", "Type"}, [&](const auto& row) -> Status {
            auto type = custom_action_type(row[1]);
            RETURN_IF_FAILED(type);
            if ((*type & kInScript) != 0) handed_to_code_.emplace(row[0]);
            return {};
        });
    }

    Result<std::optional<SourceFolderUse>> use_in_row(const DatabaseText::Table& table, const MsiRow& row) const {
        std::optional<std::uint32_t> action_type;
        if (table.name == "CustomAction") {
            if (const auto type_column = column_index(table, "Type")) {
                auto type = custom_action_type(row[*type_column]);
                RETURN_IF_FAILED(type);
                action_type = *type;
                if (auto nested = nested_install(row, *type)) return nested;
            }
        }
        for (std::size_t column = 0; column < row.size(); ++column) {
            const bool bare_name = is_name_column(table.name, table.columns[column]) ||
                                   (action_type && table.columns[column] == "Source" && source_is_used(*action_type));
            auto use = use_in_cell(table, column, row, bare_name ? Reading::name : Reading::formatted,
                                   [](Origin origin) { return origin == Origin::source_folder; });
            if (use) return use;
        }
        for (const Place& place : places(table, row, action_type)) {
            const auto column = column_index(table, place.column);
            if (!column) continue;
            auto use = use_in_cell(table, *column, row, place.reading,
                                   [&](Origin origin) { return !is_allowed(origin, scope_); });
            if (use) return use;
        }
        return std::optional<SourceFolderUse>();
    }

    static std::optional<SourceFolderUse> nested_install(const MsiRow& row, std::uint32_t type) {
        const std::uint32_t base = type & kBaseTypeMask;
        if (base == kNestedInstallFromSource) {
            return SourceFolderUse{SourceFolderUse::Kind::nested_install, "CustomAction", "Type", row.front(), "", ""};
        }
        if (base == kNestedInstallOfProduct) {
            return SourceFolderUse{SourceFolderUse::Kind::nested_product, "CustomAction", "Type", row.front(), "", "",
                                   Origin::machine_search};
        }
        return std::nullopt;
    }

    // Where this row makes Windows Installer copy, read or run something.
    std::vector<Place> places(const DatabaseText::Table& table, const MsiRow& row,
                              std::optional<std::uint32_t> action_type) const {
        std::vector<Place> found;
        for (const auto& [name, table_places] : kTablePlaces) {
            if (name != table.name) continue;
            for (const Place& place : table_places) {
                if (!place.column.empty()) found.push_back(place);
            }
        }
        if (table.name == "MsiEmbeddedChainer" && integer_cell(table, row, "Type") == kChainerFromProperty) {
            found.push_back({"Source", Reading::name});
        }
        if (table.name == "Property" && handed_to_code_.contains(row.front())) {
            found.push_back({"Value", Reading::formatted});
        }
        if (action_type) {
            const std::uint32_t base = *action_type & kBaseTypeMask;
            const std::uint32_t kind = *action_type & kSourceKindMask;
            if (base == kRunInFolder || (kind == kSourceIsProperty && base != kSetProperty)) {
                found.push_back({"Source", Reading::name});
            }
            const auto source = column_index(table, "Source");
            const bool sets_data = base == kSetProperty && source && handed_to_code_.contains(row[*source]);
            if (std::ranges::find(kCommandLineTypes, base) != kCommandLineTypes.end() || sets_data) {
                found.push_back({"Target", Reading::formatted});
            }
        }
        return found;
    }

    static std::optional<std::uint32_t> integer_cell(const DatabaseText::Table& table, const MsiRow& row,
                                                     std::string_view column) {
        const auto at = column_index(table, column);
        if (!at) return std::nullopt;
        auto value = integer_column_value(row[*at], table.name, column);
        return value ? std::optional<std::uint32_t>(*value) : std::nullopt;
    }

    // What a cell may resolve to: a bare name is what the name holds,
    // brought by the name itself.
    [[nodiscard]] Value cell_value(std::string_view cell, Reading reading) const {
        if (reading == Reading::formatted) return evaluate_formatted(cell, values_);
        if (cell.empty()) return {};
        Value value;
        for (Alternative alternative : values_.property(cell)) {
            for (Piece& piece : alternative) piece.text = cell;
            value.insert(std::move(alternative));
        }
        return value;
    }

    template <class Matches>
    std::optional<SourceFolderUse> use_in_cell(const DatabaseText::Table& table, std::size_t column, const MsiRow& row,
                                               Reading reading, Matches matches) const {
        const auto piece = first_piece(cell_value(row[column], reading), matches);
        if (!piece) return std::nullopt;
        const bool moved = table.name == "MoveFile" && table.columns[column] == "SourceFolder";
        return SourceFolderUse{moved ? SourceFolderUse::Kind::moved_files : SourceFolderUse::Kind::reference,
                               table.name,
                               table.columns[column],
                               row.front(),
                               piece->text,
                               piece->set_by,
                               *piece->origin};
    }

    const DatabaseText& text_;
    const PackageValues& values_;
    InstallScope scope_;
    std::set<std::string, std::less<>> handed_to_code_;
};

// Components that may run from source.
Status add_run_from_source_uses(const DatabaseText& text, std::vector<SourceFolderUse>& uses) {
    return each_row<2>(text, "Component", {"Component", "Attributes"}, [&](const auto& row) -> Status {
        auto attributes = integer_column_value(row[1], "Component", "Attributes");
        RETURN_IF_FAILED(attributes);
        if ((*attributes & (kComponentSourceOnly | kComponentOptional)) != 0) {
            uses.push_back({SourceFolderUse::Kind::run_from_source, "Component", "Attributes", std::string(row[0]),
                            std::string(row[1]), ""});
        }
        return {};
    });
}

constexpr std::string_view kOutside = "the folder the package was started from, where the signature does not reach";

// Why a value from an origin other than the source folder is refused.
std::string_view origin_text(Origin origin) {
    switch (origin) {
        case Origin::per_user_folder:
            return "a folder of the user's profile, which every program of the user can write, in a package "
                   "installed per machine";
        case Origin::environment:
            return "an environment variable, which every program of the user can set";
        case Origin::machine_search:
            return "what Windows Installer finds on the machine, which the signature does not cover";
        default:
            break;
    }
    return "a value the package does not pin down (set on the command line, by code, or in a folder every user "
           "can write), which the signature does not cover";
}

std::string outside_package_text(const SourceFolderUse& use, const std::string& origin) {
    const std::string fix =
        use.table == "MoveFile"
            ? "Carry the files in the package: a <File> of a component, not a <CopyFile> from beside it."
            : "Ship the program in the package and run it with a type 18 or type 2 custom action, or refer to "
              "[#FileKey].";
    return "The " + use.table + " table's " + use.column + " of row " + use.row + " refers to " + use.refers_to +
           origin + ": " + std::string(origin_text(use.origin)) +
           "; Windows Installer would copy or run what it names. " + fix;
}

}  // namespace

Result<std::vector<SourceFolderUse>> source_folder_uses(const DatabaseText& text, InstallScope scope) {
    auto values = PackageValues::of(text);
    RETURN_IF_FAILED(values);
    std::vector<SourceFolderUse> uses;
    RETURN_IF_FAILED(SourceFolderRule(text, *values, scope).add_uses(uses));
    RETURN_IF_FAILED(add_run_from_source_uses(text, uses));
    return uses;
}

std::string source_folder_use_text(const SourceFolderUse& use) {
    const std::string origin = use.set_by.empty() ? "" : ", which " + use.set_by;
    switch (use.kind) {
        case SourceFolderUse::Kind::nested_install:
            return "The CustomAction table's row " + use.row + " (type 23) installs another package from " +
                   std::string(kOutside) + ". Carry what it installs in this package.";
        case SourceFolderUse::Kind::nested_product:
            return "The CustomAction table's row " + use.row +
                   " (type 39) installs a product already on the machine, from wherever that was installed from, "
                   "where the signature does not reach. Carry what it installs in this package.";
        case SourceFolderUse::Kind::moved_files:
            if (use.origin != Origin::source_folder) return outside_package_text(use, origin);
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
    if (use.origin != Origin::source_folder) return outside_package_text(use, origin);
    const std::string fix = use.table == "CustomAction"
                                ? "Run only what the package installs or carries: [#FileId], [INSTALLDIR], the Binary "
                                  "table."
                                : "Refer to what the package installs instead: [INSTALLDIR], [#FileId].";
    return "The " + use.table + " table's " + use.column + " of row " + use.row + " refers to " + use.refers_to +
           origin + ": Windows Installer would take what it names from " + std::string(kOutside) + ". " + fix;
}

}  // namespace vostrane
