#include "package_facts.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "interface_texts.hpp"

namespace vostrane {
namespace {

// The tables and columns where a reference to the lock property would stand:
// property values, conditions, custom actions and searches.
struct ScannedTable {
    std::string_view table;
    std::vector<std::string_view> columns;
};
const std::vector<ScannedTable>& lock_reference_tables() {
    static const std::vector<ScannedTable> tables = {
        {"Property", {"Property", "Value"}},
        {"LaunchCondition", {"Condition"}},
        {"Condition", {"Condition"}},
        {"ControlCondition", {"Condition"}},
        {"ControlEvent", {"Argument", "Condition"}},
        {"CustomAction", {"Source", "Target"}},
        {"InstallExecuteSequence", {"Condition"}},
        {"InstallUISequence", {"Condition"}},
        {"AppSearch", {"Property"}},
    };
    return tables;
}

// The sequences whose error actions can refuse an installation.
constexpr std::array<std::string_view, 2> kInstallSequences = {"InstallExecuteSequence", "InstallUISequence"};

// Custom action type 19: show an error and end the installation.
constexpr std::uint32_t kCustomActionBaseTypeMask = 0x3F;
constexpr std::uint32_t kErrorCustomAction = 19;

// The database's tables as the inspection asks for them: a table the package
// does not have simply has no rows.
class Tables {
public:
    static Result<Tables> of(MsiDatabaseReader& reader) {
        static constexpr std::array<std::string_view, 1> kName = {"Name"};
        auto listed = reader.rows("_Tables", kName);
        RETURN_IF_FAILED(listed);
        Tables tables(reader);
        for (auto& row : *listed) {
            if (!row.empty()) tables.names_.insert(std::move(row.front()));
        }
        return tables;
    }

    [[nodiscard]] bool has(std::string_view table) const { return names_.contains(table); }

    Result<std::vector<MsiRow>> rows(std::string_view table, std::span<const std::string_view> columns) const {
        if (!names_.contains(table)) return std::vector<MsiRow>{};
        auto rows = reader_->rows(table, columns);
        RETURN_IF_FAILED(rows);
        for (const auto& row : *rows) {
            if (row.size() != columns.size()) return failure("The " + std::string(table) + " table's rows are short.");
        }
        return rows;
    }

private:
    explicit Tables(MsiDatabaseReader& reader) : reader_(&reader) {}
    MsiDatabaseReader* reader_;
    std::set<std::string, std::less<>> names_;
};

// What decides where the files come from: the summary's Word Count, the
// Media table's cabinets and the File table's attributes.
Status read_file_layout(MsiDatabaseReader& reader, const Tables& tables, PackageFacts& facts) {
    auto word_count = reader.summary_integer(kSummaryWordCount);
    RETURN_IF_FAILED(word_count);
    facts.word_count = *word_count;

    static constexpr std::array<std::string_view, 2> kMedia = {"DiskId", "Cabinet"};
    auto media = tables.rows("Media", kMedia);
    RETURN_IF_FAILED(media);
    for (auto& row : *media) facts.media.push_back({std::move(row[0]), std::move(row[1])});

    static constexpr std::array<std::string_view, 2> kFile = {"File", "Attributes"};
    auto files = tables.rows("File", kFile);
    RETURN_IF_FAILED(files);
    for (auto& row : *files) {
        auto attributes = integer_column_value(row[1], "File", "Attributes");
        RETURN_IF_FAILED(attributes);
        facts.files.push_back({std::move(row[0]), *attributes});
    }
    return {};
}

Status read_directories_and_properties(const Tables& tables, PackageFacts& facts) {
    static constexpr std::array<std::string_view, 1> kDirectory = {"Directory"};
    auto directories = tables.rows("Directory", kDirectory);
    RETURN_IF_FAILED(directories);
    for (auto& row : *directories) facts.directories.push_back(std::move(row[0]));

    static constexpr std::array<std::string_view, 2> kProperty = {"Property", "Value"};
    auto properties = tables.rows("Property", kProperty);
    RETURN_IF_FAILED(properties);
    for (auto& row : *properties) facts.properties.emplace_back(std::move(row[0]), std::move(row[1]));
    return {};
}

Status read_upgrade_rules(const Tables& tables, PackageFacts& facts) {
    static constexpr std::array<std::string_view, 4> kUpgrade = {"UpgradeCode", "VersionMin", "Attributes",
                                                                 "ActionProperty"};
    auto upgrades = tables.rows("Upgrade", kUpgrade);
    RETURN_IF_FAILED(upgrades);
    for (auto& row : *upgrades) {
        auto attributes = integer_column_value(row[2], "Upgrade", "Attributes");
        RETURN_IF_FAILED(attributes);
        facts.upgrades.push_back({std::move(row[0]), std::move(row[1]), std::move(row[3]), *attributes});
    }

    static constexpr std::array<std::string_view, 1> kCondition = {"Condition"};
    auto launch_conditions = tables.rows("LaunchCondition", kCondition);
    RETURN_IF_FAILED(launch_conditions);
    for (auto& row : *launch_conditions) facts.launch_conditions.push_back(std::move(row[0]));

    static constexpr std::array<std::string_view, 2> kCustomAction = {"Action", "Type"};
    auto actions = tables.rows("CustomAction", kCustomAction);
    RETURN_IF_FAILED(actions);
    std::set<std::string, std::less<>> error_actions;
    for (auto& row : *actions) {
        auto type = integer_column_value(row[1], "CustomAction", "Type");
        RETURN_IF_FAILED(type);
        if ((*type & kCustomActionBaseTypeMask) == kErrorCustomAction) error_actions.insert(std::move(row[0]));
    }
    static constexpr std::array<std::string_view, 2> kSequence = {"Action", "Condition"};
    for (std::string_view sequence : kInstallSequences) {
        auto steps = tables.rows(sequence, kSequence);
        RETURN_IF_FAILED(steps);
        for (auto& row : *steps) {
            if (error_actions.contains(row[0])) facts.error_action_conditions.push_back(std::move(row[1]));
        }
    }
    return {};
}

Status read_lock_references(const Tables& tables, PackageFacts& facts) {
    for (const auto& [table, columns] : lock_reference_tables()) {
        auto rows = tables.rows(table, columns);
        RETURN_IF_FAILED(rows);
        const bool names_lock = std::ranges::any_of(*rows, [](const MsiRow& row) {
            return std::ranges::any_of(row, [](const std::string& value) {
                return names_property(value, kInstallDirLockName);
            });
        });
        if (names_lock) facts.tables_naming_lock.emplace_back(table);
    }
    return {};
}

// _Columns' Type: a string column (MSITYPE_STRING), and a binary one, which
// is a string column of no other kind than valid and nullable.
constexpr std::uint32_t kColumnString = 0x0800;
constexpr std::uint32_t kColumnValid = 0x0100;
constexpr std::uint32_t kColumnNullable = 0x1000;
bool is_binary_column(std::uint32_t type) { return (type & ~kColumnNullable) == (kColumnString | kColumnValid); }

// Every column of every table but the binary ones (streams), in column order.
Result<DatabaseText> read_database_text(MsiDatabaseReader& reader, const Tables& tables) {
    static constexpr std::array<std::string_view, 4> kColumns = {"Table", "Number", "Name", "Type"};
    auto columns = reader.rows("_Columns", kColumns);
    RETURN_IF_FAILED(columns);
    std::map<std::string, std::map<std::uint32_t, std::string>, std::less<>> by_table;
    for (auto& row : *columns) {
        if (row.size() != kColumns.size()) return failure("The _Columns table's rows are short.");
        auto number = integer_column_value(row[1], "_Columns", "Number");
        RETURN_IF_FAILED(number);
        auto type = integer_column_value(row[3], "_Columns", "Type");
        RETURN_IF_FAILED(type);
        if (tables.has(row[0]) && !is_binary_column(*type)) by_table[row[0]][*number] = std::move(row[2]);
    }
    DatabaseText text;
    for (auto& [name, numbered] : by_table) {
        DatabaseText::Table table{name, {}, {}};
        for (auto& [number, column] : numbered) table.columns.push_back(std::move(column));
        const std::vector<std::string_view> selected(table.columns.begin(), table.columns.end());
        auto rows = tables.rows(name, selected);
        RETURN_IF_FAILED(rows);
        table.rows = std::move(*rows);
        text.tables.push_back(std::move(table));
    }
    return text;
}

// Needs the properties read: what a package installed per machine may run
// depends on it.
Status read_source_folder_uses(MsiDatabaseReader& reader, const Tables& tables, PackageFacts& facts) {
    auto text = read_database_text(reader, tables);
    RETURN_IF_FAILED(text);
    auto uses = source_folder_uses(*text, facts.install_scope());
    RETURN_IF_FAILED(uses);
    facts.source_folder_uses = std::move(*uses);
    return {};
}

// The stream an Authenticode signature of the file is kept in.
Status read_authenticode_signature(MsiDatabaseReader& reader, PackageFacts& facts) {
    static constexpr std::array<std::string_view, 1> kName = {"Name"};
    auto streams = reader.rows("_Streams", kName);
    RETURN_IF_FAILED(streams);
    facts.authenticode_signed = std::ranges::any_of(
        *streams, [](const MsiRow& row) { return !row.empty() && row.front() == kDigitalSignatureStream; });
    return {};
}

}  // namespace

bool names_property(std::string_view text, std::string_view name) {
    const auto is_name_character = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
    };
    for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if ((at == 0 || !is_name_character(text[at - 1])) && (end == text.size() || !is_name_character(text[end]))) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> PackageFacts::property(std::string_view name) const {
    for (const auto& [key, value] : properties) {
        if (key == name) return value;
    }
    return std::nullopt;
}

InstallScope PackageFacts::install_scope() const {
    return vostrane::install_scope(property("ALLUSERS"), property("MSIINSTALLPERUSER"));
}

Result<PackageFacts> read_package_facts(MsiDatabaseReader& reader) {
    auto tables = Tables::of(reader);
    RETURN_IF_FAILED(tables);
    PackageFacts facts;
    // Each reading adds its part; the first that fails ends the reading.
    RETURN_IF_FAILED(read_file_layout(reader, *tables, facts));
    RETURN_IF_FAILED(read_directories_and_properties(*tables, facts));
    RETURN_IF_FAILED(read_upgrade_rules(*tables, facts));
    RETURN_IF_FAILED(read_lock_references(*tables, facts));
    RETURN_IF_FAILED(read_source_folder_uses(reader, *tables, facts));
    RETURN_IF_FAILED(read_authenticode_signature(reader, facts));
    return facts;
}

Result<PackageFacts> read_installation_facts(MsiDatabaseReader& reader) {
    auto tables = Tables::of(reader);
    RETURN_IF_FAILED(tables);
    PackageFacts facts;
    RETURN_IF_FAILED(read_file_layout(reader, *tables, facts));
    // The properties before the source folder uses: what a package installed
    // per machine may run depends on them.
    RETURN_IF_FAILED(read_directories_and_properties(*tables, facts));
    RETURN_IF_FAILED(read_source_folder_uses(reader, *tables, facts));
    return facts;
}

}  // namespace vostrane
