#include "package_inspection.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

#include "installed_product.hpp"
#include "unicode.hpp"

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
        if (!listed) return failure(listed.error());
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
        if (!rows) return failure(rows.error());
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
    if (!word_count) return failure(word_count.error());
    facts.word_count = *word_count;

    static constexpr std::array<std::string_view, 2> kMedia = {"DiskId", "Cabinet"};
    auto media = tables.rows("Media", kMedia);
    if (!media) return failure(media.error());
    for (auto& row : *media) facts.media.push_back({std::move(row[0]), std::move(row[1])});

    static constexpr std::array<std::string_view, 2> kFile = {"File", "Attributes"};
    auto files = tables.rows("File", kFile);
    if (!files) return failure(files.error());
    for (auto& row : *files) {
        auto attributes = integer_column_value(row[1], "File", "Attributes");
        if (!attributes) return failure(attributes.error());
        facts.files.push_back({std::move(row[0]), *attributes});
    }
    return {};
}

// A condition or value names the property when the name stands there as a
// whole word: not as part of a longer property name.
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

Status read_directories_and_properties(const Tables& tables, PackageFacts& facts) {
    static constexpr std::array<std::string_view, 1> kDirectory = {"Directory"};
    auto directories = tables.rows("Directory", kDirectory);
    if (!directories) return failure(directories.error());
    for (auto& row : *directories) facts.directories.push_back(std::move(row[0]));

    static constexpr std::array<std::string_view, 2> kProperty = {"Property", "Value"};
    auto properties = tables.rows("Property", kProperty);
    if (!properties) return failure(properties.error());
    for (auto& row : *properties) facts.properties.emplace_back(std::move(row[0]), std::move(row[1]));
    return {};
}

Status read_upgrade_rules(const Tables& tables, PackageFacts& facts) {
    static constexpr std::array<std::string_view, 4> kUpgrade = {"UpgradeCode", "VersionMin", "Attributes",
                                                                 "ActionProperty"};
    auto upgrades = tables.rows("Upgrade", kUpgrade);
    if (!upgrades) return failure(upgrades.error());
    for (auto& row : *upgrades) {
        auto attributes = integer_column_value(row[2], "Upgrade", "Attributes");
        if (!attributes) return failure(attributes.error());
        facts.upgrades.push_back({std::move(row[0]), std::move(row[1]), std::move(row[3]), *attributes});
    }

    static constexpr std::array<std::string_view, 1> kCondition = {"Condition"};
    auto launch_conditions = tables.rows("LaunchCondition", kCondition);
    if (!launch_conditions) return failure(launch_conditions.error());
    for (auto& row : *launch_conditions) facts.launch_conditions.push_back(std::move(row[0]));

    static constexpr std::array<std::string_view, 2> kCustomAction = {"Action", "Type"};
    auto actions = tables.rows("CustomAction", kCustomAction);
    if (!actions) return failure(actions.error());
    std::set<std::string, std::less<>> error_actions;
    for (auto& row : *actions) {
        auto type = integer_column_value(row[1], "CustomAction", "Type");
        if (!type) return failure(type.error());
        if ((*type & kCustomActionBaseTypeMask) == kErrorCustomAction) error_actions.insert(std::move(row[0]));
    }
    static constexpr std::array<std::string_view, 2> kSequence = {"Action", "Condition"};
    for (std::string_view sequence : kInstallSequences) {
        auto steps = tables.rows(sequence, kSequence);
        if (!steps) return failure(steps.error());
        for (auto& row : *steps) {
            if (error_actions.contains(row[0])) facts.error_action_conditions.push_back(std::move(row[1]));
        }
    }
    return {};
}

Status read_lock_references(const Tables& tables, PackageFacts& facts) {
    for (const auto& [table, columns] : lock_reference_tables()) {
        auto rows = tables.rows(table, columns);
        if (!rows) return failure(rows.error());
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
    if (!columns) return failure(columns.error());
    std::map<std::string, std::map<std::uint32_t, std::string>, std::less<>> by_table;
    for (auto& row : *columns) {
        if (row.size() != kColumns.size()) return failure("The _Columns table's rows are short.");
        auto number = integer_column_value(row[1], "_Columns", "Number");
        if (!number) return failure(number.error());
        auto type = integer_column_value(row[3], "_Columns", "Type");
        if (!type) return failure(type.error());
        if (tables.has(row[0]) && !is_binary_column(*type)) by_table[row[0]][*number] = std::move(row[2]);
    }
    DatabaseText text;
    for (auto& [name, numbered] : by_table) {
        DatabaseText::Table table{name, {}, {}};
        for (auto& [number, column] : numbered) table.columns.push_back(std::move(column));
        const std::vector<std::string_view> selected(table.columns.begin(), table.columns.end());
        auto rows = tables.rows(name, selected);
        if (!rows) return failure(rows.error());
        table.rows = std::move(*rows);
        text.tables.push_back(std::move(table));
    }
    return text;
}

InstallScope package_install_scope(const PackageFacts& facts) {
    return install_scope(facts.property("ALLUSERS"), facts.property("MSIINSTALLPERUSER"));
}

// Needs the properties read: what a package installed per machine may run
// depends on it.
Status read_source_folder_uses(MsiDatabaseReader& reader, const Tables& tables, PackageFacts& facts) {
    auto text = read_database_text(reader, tables);
    if (!text) return failure(text.error());
    auto uses = source_folder_uses(*text, package_install_scope(facts));
    if (!uses) return failure(uses.error());
    facts.source_folder_uses = std::move(*uses);
    return {};
}

// The stream an Authenticode signature of the file is kept in.
Status read_authenticode_signature(MsiDatabaseReader& reader, PackageFacts& facts) {
    static constexpr std::array<std::string_view, 1> kName = {"Name"};
    auto streams = reader.rows("_Streams", kName);
    if (!streams) return failure(streams.error());
    facts.authenticode_signed = std::ranges::any_of(
        *streams, [](const MsiRow& row) { return !row.empty() && row.front() == kDigitalSignatureStream; });
    return {};
}

std::vector<PackageFinding> layout_findings(const PackageFacts& facts) {
    std::vector<PackageFinding> findings;
    for (const auto& media : facts.media) {
        if (media.cabinet.empty() || media.cabinet.starts_with('#')) continue;
        findings.push_back({FindingLevel::error, FindingKind::external_cabinet,
                            "Media " + media.disk_id + " uses the cabinet " + media.cabinet +
                                " from outside the package, where the signature does not reach. Embed it: WiX "
                                "<MediaTemplate EmbedCab=\"yes\"/> or <Media EmbedCab=\"yes\">."});
    }
    // A file is read from the package's folder unless it is compressed: by
    // its own attribute, or by the package's default when it does not opt out.
    const bool compressed_by_default = facts.word_count && (*facts.word_count & kWordCountCompressed) != 0;
    std::size_t uncompressed = 0;
    const PackageFacts::File* first = nullptr;
    for (const auto& file : facts.files) {
        const bool compressed = (file.attributes & kFileNoncompressed) == 0 &&
                                (compressed_by_default || (file.attributes & kFileCompressed) != 0);
        if (compressed) continue;
        if (uncompressed++ == 0) first = &file;
    }
    if (uncompressed > 0) {
        findings.push_back(
            {FindingLevel::error, FindingKind::uncompressed_files,
             std::to_string(uncompressed) + " of " + std::to_string(facts.files.size()) +
                 " files are not compressed (the first is " + first->name +
                 "): Windows Installer would read them from the package's folder, where the signature does not "
                 "reach. Compress them into an embedded cabinet: WiX <Package Compressed=\"yes\"/> with "
                 "<MediaTemplate EmbedCab=\"yes\"/>, and no Compressed=\"no\" on a <File>."});
    }
    for (const auto& use : facts.source_folder_uses) {
        findings.push_back({FindingLevel::error, FindingKind::source_folder, source_folder_use_text(use)});
    }
    return findings;
}

// An Upgrade row that detects the package's own product in a newer version,
// and a launch condition or an error action that refuses the installation
// when it does. The conditions are not evaluated: naming the row's property
// is taken as acting on it.
bool refuses_newer_versions(const PackageFacts& facts, std::string_view upgrade_code) {
    return std::ranges::any_of(facts.upgrades, [&](const PackageFacts::Upgrade& row) {
        if (!ascii_iequals(row.upgrade_code, upgrade_code) || row.version_min.empty() ||
            (row.attributes & kUpgradeOnlyDetect) == 0 || row.action_property.empty()) {
            return false;
        }
        const auto names_detected = [&](const std::string& condition) {
            return names_property(condition, row.action_property);
        };
        return std::ranges::any_of(facts.launch_conditions, names_detected) ||
               std::ranges::any_of(facts.error_action_conditions, names_detected);
    });
}

std::string install_scope_text(const PackageFacts& facts) {
    const std::string all_users = facts.property("ALLUSERS").value_or("");
    std::string text;
    if (all_users.empty()) {
        text = "Installs per user (no ALLUSERS property)";
    } else if (all_users == "2") {
        text = facts.property("MSIINSTALLPERUSER") == "1"
                   ? "Installs per user (ALLUSERS=2, MSIINSTALLPERUSER=1)"
                   : "Installs per machine for a user with administrator rights, else per user (ALLUSERS=2)";
    } else {
        text = "Installs per machine (ALLUSERS=" + all_users + ")";
    }
    const bool no_elevation = facts.word_count && (*facts.word_count & kWordCountNoElevation) != 0;
    return text + (no_elevation ? "; elevated privileges are not required (summary Word Count bit 3)."
                                : "; elevated privileges may be required (summary Word Count bit 3 not set).");
}

std::string install_dir_lock_text(const PackageFacts& facts) {
    if (facts.tables_naming_lock.empty()) {
        const std::string lock(kInstallDirLockName);
        return "The package does not refer to " + lock + ": the " + lock +
               "=1 that the update helper passes changes nothing in it.";
    }
    std::string tables;
    for (const auto& table : facts.tables_naming_lock) tables += (tables.empty() ? "" : ", ") + table;
    return "The package refers to " + std::string(kInstallDirLockName) + " (in " + tables + ").";
}

// Two versions are an error, since the helper refuses the package then; text
// that is not a version is the publisher's own scheme, only warned about.
PackageFinding version_finding(const std::string& product_version, std::string_view signed_version) {
    const std::string differs = "ProductVersion " + product_version + " is not the version being signed, " +
                                std::string(signed_version) +
                                " (Windows Installer compares the first three fields, as numbers)";
    if (!contradicts_signed_version(product_version, signed_version)) {
        return {FindingLevel::warning, FindingKind::version_differs, differs + "."};
    }
    return {FindingLevel::error, FindingKind::version_differs,
            differs + ": the update helper refuses it. Set the package's ProductVersion to " +
                std::string(signed_version) + " (WiX <Product Version=\"" + std::string(signed_version) +
                "\">), or sign the version the package carries, " + product_version + "."};
}

}  // namespace

std::string_view finding_level_name(FindingLevel level) {
    switch (level) {
        case FindingLevel::error:
            return "error";
        case FindingLevel::warning:
            return "warning";
        case FindingLevel::information:
            break;
    }
    return "information";
}

std::optional<std::string> PackageFacts::property(std::string_view name) const {
    for (const auto& [key, value] : properties) {
        if (key == name) return value;
    }
    return std::nullopt;
}

Result<PackageFacts> read_package_facts(MsiDatabaseReader& reader) {
    auto tables = Tables::of(reader);
    if (!tables) return failure(tables.error());
    PackageFacts facts;
    // Each reading adds its part; the first that fails ends the reading.
    const Status read = in_order([&] { return read_file_layout(reader, *tables, facts); },
                                 [&] { return read_directories_and_properties(*tables, facts); },
                                 [&] { return read_upgrade_rules(*tables, facts); },
                                 [&] { return read_lock_references(*tables, facts); },
                                 [&] { return read_source_folder_uses(reader, *tables, facts); },
                                 [&] { return read_authenticode_signature(reader, facts); });
    if (!read) return failure(read.error());
    return facts;
}

std::vector<PackageFinding> package_findings(const PackageFacts& facts,
                                             std::optional<std::string_view> signed_version) {
    std::vector<PackageFinding> findings = layout_findings(facts);
    if (std::ranges::find(facts.directories, "INSTALLDIR") == facts.directories.end()) {
        findings.push_back({FindingLevel::error, FindingKind::no_install_dir,
                            "The Directory table has no INSTALLDIR: the INSTALLDIR=<folder> that the update helper "
                            "passes would be ignored. Name the installation folder INSTALLDIR: WiX <Directory "
                            "Id=\"INSTALLDIR\" Name=\"...\">."});
    }

    if (signed_version) {
        const auto product_version = facts.property("ProductVersion");
        if (!product_version) {
            findings.push_back({FindingLevel::warning, FindingKind::version_differs,
                                "The package has no ProductVersion; the version being signed is " +
                                    std::string(*signed_version) + "."});
        } else if (!same_installer_version(*product_version, *signed_version)) {
            findings.push_back(version_finding(*product_version, *signed_version));
        }
    }
    const std::string upgrade_code = facts.property("UpgradeCode").value_or("");
    if (upgrade_code.empty()) {
        findings.push_back({FindingLevel::warning, FindingKind::no_upgrade_code,
                            "The package has no UpgradeCode: nothing refuses it when a newer version is installed, "
                            "so an older signed package can be replayed to downgrade, and a new version installs "
                            "beside the old one instead of replacing it. WiX: UpgradeCode on <Product> and "
                            "<MajorUpgrade DowngradeErrorMessage=\"...\"/>."});
    } else if (!refuses_newer_versions(facts, upgrade_code)) {
        findings.push_back({FindingLevel::warning, FindingKind::no_downgrade_refusal,
                            "Nothing refuses the package when a newer version is installed, so an older signed "
                            "package can be replayed to downgrade (and without a major upgrade, a new version installs "
                            "beside the old one). WiX: <MajorUpgrade DowngradeErrorMessage=\"...\"/>. In the tables: "
                            "no Upgrade row for the UpgradeCode " + upgrade_code +
                                " detects newer versions (VersionMin, OnlyDetect) with a launch condition or error "
                                "action on its property."});
    }

    if (package_install_scope(facts) == InstallScope::per_machine && !facts.authenticode_signed) {
        findings.push_back({FindingLevel::warning, FindingKind::no_authenticode_signature,
                            "The package installs per machine but carries no Authenticode signature, so the "
                            "elevation prompt will name no publisher. Sign the .msi with Authenticode (osslsigncode "
                            "sign) before you make the update signature over the signed file."});
    }
    findings.push_back({FindingLevel::information, FindingKind::install_scope, install_scope_text(facts)});
    findings.push_back({FindingLevel::information, FindingKind::install_dir_lock, install_dir_lock_text(facts)});
    return findings;
}

std::vector<PackageFinding> inspect_package(MsiDatabaseReader& reader, std::optional<std::string_view> signed_version) {
    auto facts = read_package_facts(reader);
    if (!facts) return {unreadable_database_finding(facts.error())};
    return package_findings(*facts, signed_version);
}

PackageFinding unreadable_database_finding(std::string_view reason) {
    if (reason.ends_with('.')) reason.remove_suffix(1);
    return {FindingLevel::error, FindingKind::unreadable_database,
            "The package cannot be read as an MSI database (" + std::string(reason) +
                "). Sign the .msi file that the authoring tool (WiX) built."};
}

Status check_package_is_self_contained(MsiDatabaseReader& reader) {
    auto tables = Tables::of(reader);
    if (!tables) return failure(std::string(kNotAnMsiPackage));
    PackageFacts facts;
    if (!read_file_layout(reader, *tables, facts) || !read_directories_and_properties(*tables, facts) ||
        !read_source_folder_uses(reader, *tables, facts)) {
        return failure(std::string(kNotAnMsiPackage));
    }
    if (!layout_findings(facts).empty()) return failure(std::string(kPackageRefersToOutsideFiles));
    return {};
}

std::optional<InstallerVersion> parse_installer_version(std::string_view text) {
    constexpr std::size_t kMostFields = 4;
    constexpr std::uint32_t kLargestField = 65535;
    InstallerVersion version{};
    std::size_t field = 0;
    for (;;) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        std::uint32_t value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || error != std::errc{} || end != part.data() + part.size() || value > kLargestField ||
            field == kMostFields) {
            return std::nullopt;
        }
        if (field < version.size()) version[field] = value;
        ++field;
        if (dot == std::string_view::npos) return version;
        text.remove_prefix(dot + 1);
    }
}

bool same_installer_version(std::string_view a, std::string_view b) {
    const auto first = parse_installer_version(a);
    const auto second = parse_installer_version(b);
    return first && second && *first == *second;
}

bool contradicts_signed_version(std::string_view product_version, std::string_view signed_version) {
    return parse_installer_version(product_version) && parse_installer_version(signed_version) &&
           !same_installer_version(product_version, signed_version);
}

}  // namespace vostrane
