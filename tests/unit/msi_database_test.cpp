// The platform's package reader (libmsi natively, Windows Installer's msi.dll
// under Wine) against msitools' export of the same package: every table and
// the summary's Word Count read alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "update_security/installed_product.hpp"
#include "update_security/msi_database.hpp"
#include "update_security/package_inspection.hpp"

namespace vostrane {
namespace {

const std::string kPackages = VOSTRANE_BUILD_DIR "/packages/";

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> split(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + separator.size());
    }
}

// One exported table: its column names, column types and rows.
struct ExportedTable {
    std::vector<std::string> columns, types;
    std::vector<MsiRow> rows;
};

// An .idt file as msiinfo writes it: names, types, the table's own line, then
// one line per row, tab-separated, each line ended by CR LF.
ExportedTable parse_idt(const std::string& text) {
    std::vector<std::string> lines = split(text, "\r\n");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    ExportedTable table;
    if (lines.size() < 3) {
        ADD_FAILURE() << "not an exported table: " << text;
        return table;
    }
    table.columns = split(lines[0], "\t");
    table.types = split(lines[1], "\t");
    for (std::size_t i = 3; i < lines.size(); ++i) table.rows.push_back(split(lines[i], "\t"));
    return table;
}

std::map<std::string, ExportedTable> exported_tables() {
    std::map<std::string, ExportedTable> tables;
    for (const auto& entry : std::filesystem::directory_iterator(kPackages + "sample-app-2-tables")) {
        if (entry.path().extension() != ".idt") continue;
        tables[entry.path().stem().string()] = parse_idt(read_text(entry.path()));
    }
    return tables;
}

std::unique_ptr<MsiDatabaseReader> open_package(const std::string& name) {
    auto database = open_msi_database(kPackages + name);
    EXPECT_TRUE(database) << database.error();
    return database ? std::move(*database) : nullptr;
}

// The identity as the helper's lock takes it: from the facts it reads once.
Result<PackageIdentity> read_identity(MsiDatabaseReader& database) {
    const auto facts = read_installation_facts(database);
    RETURN_IF_FAILED(facts);
    return package_identity(*facts, database);
}

TEST(MsiDatabase, ReadsEveryTableAndTheWordCountAsMsitoolsExportsThem) {
    const auto exported = exported_tables();
    ASSERT_TRUE(exported.contains("Media") && exported.contains("_SummaryInformation")) << "the export is missing";
    const auto database = open_package("sample-app-2.msi");
    ASSERT_TRUE(database);

    // The export has the real tables, and two of the summary and code page.
    std::vector<std::string> expected_names;
    for (const auto& [name, table] : exported) {
        if (!name.starts_with('_')) expected_names.push_back(name);
    }
    static constexpr std::array<std::string_view, 1> kName = {"Name"};
    auto listed = database->rows("_Tables", kName);
    ASSERT_TRUE(listed) << listed.error();
    std::vector<std::string> names;
    for (const auto& row : *listed) names.push_back(row.at(0));
    std::ranges::sort(names);
    EXPECT_EQ(names, expected_names);

    std::size_t rows_compared = 0;
    for (const auto& [name, table] : exported) {
        if (name.starts_with('_')) continue;
        SCOPED_TRACE(name);
        // Stream columns hold bytes, which the inspection never reads.
        if (std::ranges::any_of(table.types, [](const std::string& type) { return type.starts_with('v'); })) continue;
        const std::vector<std::string_view> columns(table.columns.begin(), table.columns.end());
        auto rows = database->rows(name, columns);
        ASSERT_TRUE(rows) << rows.error();
        std::ranges::sort(*rows);
        std::vector<MsiRow> expected = table.rows;
        std::ranges::sort(expected);
        EXPECT_EQ(*rows, expected);
        rows_compared += expected.size();
    }
    EXPECT_GT(rows_compared, 40u) << "the sample's tables hold rows";

    std::string word_count, package_code;
    for (const auto& row : exported.at("_SummaryInformation").rows) {
        if (row.at(0) == "15") word_count = row.at(1);
        if (row.at(0) == "9") package_code = row.at(1);
    }
    const auto read = database->summary_integer(kSummaryWordCount);
    ASSERT_TRUE(read) << read.error();
    ASSERT_TRUE(read->has_value());
    EXPECT_EQ(std::to_string(**read), word_count);
    // Title (PID 2) is text, not an integer.
    const auto title = database->summary_integer(2);
    ASSERT_TRUE(title) << title.error();
    EXPECT_FALSE(title->has_value());

    // The package code is text; Word Count is no text.
    const auto read_code = database->summary_text(kSummaryPackageCode);
    ASSERT_TRUE(read_code) << read_code.error();
    ASSERT_TRUE(read_code->has_value());
    EXPECT_EQ(**read_code, package_code);
    EXPECT_EQ(package_code.size(), 38u) << "a braced GUID: " << package_code;
    const auto word_count_text = database->summary_text(kSummaryWordCount);
    ASSERT_TRUE(word_count_text) << word_count_text.error();
    EXPECT_FALSE(word_count_text->has_value());

    std::string product_code;
    for (const auto& row : exported.at("Property").rows) {
        if (row.at(0) == "ProductCode") product_code = row.at(1);
    }
    const auto identity = read_identity(*database);
    ASSERT_TRUE(identity) << identity.error();
    EXPECT_EQ(identity->product_code, product_code);
    EXPECT_EQ(identity->product_code, "{5B0C7E21-9A43-4D1F-8E62-3C7F1A2B9D02}");
    EXPECT_EQ(identity->package_code, package_code);
    EXPECT_EQ(identity->product_version, "2.0.0");
}

// Where Windows Installer registers the package, read as the inspection reads it.
TEST(MsiDatabase, ThePackagesScopeComesFromItsOwnTables) {
    for (const auto& [name, scope] : {std::pair{"sample-app-2.msi", InstallScope::per_user},
                                      std::pair{"sample-app-2-per-machine.msi", InstallScope::per_machine}}) {
        SCOPED_TRACE(name);
        const auto database = open_package(name);
        ASSERT_TRUE(database);
        const auto identity = read_identity(*database);
        ASSERT_TRUE(identity) << identity.error();
        EXPECT_EQ(identity->scope, scope);
    }
}

TEST(MsiDatabase, AMissingTableOrColumnIsAnError) {
    const auto database = open_package("sample-app-2.msi");
    ASSERT_TRUE(database);
    static constexpr std::array<std::string_view, 1> kMissingTable = {"Name"};
    EXPECT_FALSE(database->rows("NoSuchTable", kMissingTable));
    static constexpr std::array<std::string_view, 2> kMissingColumn = {"DiskId", "NoSuchColumn"};
    EXPECT_FALSE(database->rows("Media", kMissingColumn));
}

TEST(MsiDatabase, AFileThatIsNoDatabaseDoesNotOpen) {
    const std::string not_a_database = kPackages + "not-a-database.msi";
    std::ofstream(not_a_database, std::ios::binary) << "plain text, not a compound document";
    for (const std::string& path : {not_a_database, kPackages + "missing.msi"}) {
        SCOPED_TRACE(path);
        const auto database = open_msi_database(path);
        ASSERT_FALSE(database);
#ifdef _WIN32
        EXPECT_TRUE(database.error().starts_with("MsiOpenDatabase failed: ")) << database.error();
        EXPECT_TRUE(database.error().ends_with(")")) << "the system's text and code: " << database.error();
#else
        EXPECT_TRUE(database.error().starts_with("Opening the database failed: ")) << database.error();
#endif
    }
    std::filesystem::remove(not_a_database);
}

// The packages the build makes, inspected through the platform's reader.
TEST(MsiDatabase, TheHelpersCheckRefusesTheBuiltPackagesWithFilesOutside) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"sample-app-2.msi", ""},
        {"sample-app-2-per-machine.msi", ""},
        {"sample-app-2-external-cabinet.msi", "The update package refers to files outside itself."},
        {"sample-app-2-uncompressed.msi", "The update package refers to files outside itself."},
    };
    for (const auto& [name, refusal] : cases) {
        SCOPED_TRACE(name);
        const auto database = open_package(name);
        ASSERT_TRUE(database);
        const auto checked = check_package_is_self_contained(*database);
        EXPECT_EQ(checked ? std::string() : checked.error(), refusal);
    }
}

}  // namespace
}  // namespace vostrane
