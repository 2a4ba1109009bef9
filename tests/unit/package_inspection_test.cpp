// The package inspection's reading and findings, over tables held in memory;
// Windows Installer's version comparison.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "update_security/package_inspection.hpp"

namespace vostrane {
namespace {

struct Table {
    std::vector<std::string> columns;
    std::vector<MsiRow> rows;
};

// A database as tables in memory. Asking for a table or column it does not
// have fails, as a real query does; "_Tables" lists the tables, "_Columns"
// their columns (each a text column, or a binary one, which cannot be read as
// text), "_Streams" the streams.
class MemoryDatabase final : public MsiDatabaseReader {
public:
    std::map<std::string, Table, std::less<>> tables;
    std::optional<std::int32_t> word_count;
    std::optional<std::string> failing_table;  // every query of it fails
    std::set<std::string, std::less<>> binary_columns;  // "Table.Column"
    std::vector<std::string> streams = {"\005SummaryInformation"};

    Result<std::vector<MsiRow>> rows(std::string_view name, std::span<const std::string_view> columns) override {
        if (failing_table == name) return failure("Reading the " + std::string(name) + " table failed.");
        if (name == "_Tables") {
            std::vector<MsiRow> listed;
            for (const auto& [table, content] : tables) listed.push_back({table});
            return listed;
        }
        if (name == "_Columns") return column_rows();
        if (name == "_Streams") {
            std::vector<MsiRow> listed;
            for (const auto& stream : streams) listed.push_back({stream});
            return listed;
        }
        for (std::string_view column : columns) {
            if (binary_columns.contains(std::string(name) + "." + std::string(column))) {
                return failure("a stream is not text");
            }
        }
        const auto found = tables.find(name);
        if (found == tables.end()) return failure("no table " + std::string(name));
        std::vector<std::size_t> positions;
        for (std::string_view column : columns) {
            const auto& all = found->second.columns;
            const auto at = std::find(all.begin(), all.end(), column);
            if (at == all.end()) return failure("no column " + std::string(column));
            positions.push_back(static_cast<std::size_t>(at - all.begin()));
        }
        std::vector<MsiRow> selected;
        for (const auto& row : found->second.rows) {
            MsiRow values;
            for (std::size_t position : positions) values.push_back(row.at(position));
            selected.push_back(std::move(values));
        }
        return selected;
    }

    Result<std::optional<std::int32_t>> summary_integer(std::uint32_t property_id) override {
        if (property_id != kSummaryWordCount) return failure("unexpected summary property");
        return word_count;
    }

    Result<std::optional<std::string>> summary_text(std::uint32_t) override { return std::optional<std::string>(); }

    // Table, Number, Name, Type: a localizable text column (0x0F00), or a
    // binary one (0x0900).
    std::vector<MsiRow> column_rows() const {
        std::vector<MsiRow> listed;
        for (const auto& [table, content] : tables) {
            for (std::size_t i = 0; i < content.columns.size(); ++i) {
                const bool binary = binary_columns.contains(table + "." + content.columns[i]);
                listed.push_back({table, std::to_string(i + 1), content.columns[i], binary ? "2304" : "3840"});
            }
        }
        return listed;
    }

    void set_property(const std::string& name, const std::string& value) {
        auto& rows = tables["Property"].rows;
        std::erase_if(rows, [&](const MsiRow& row) { return row[0] == name; });
        rows.push_back({name, value});
    }
    void remove_property(const std::string& name) {
        std::erase_if(tables["Property"].rows, [&](const MsiRow& row) { return row[0] == name; });
    }
};

constexpr std::string_view kUpgradeCode = "{2D9E4B71-5C3A-4F86-B0D2-7E1A9C4F3B68}";

// The tables of the sample application as wixl builds it: a per-user,
// compressed package with an embedded cabinet and a major upgrade that refuses
// newer versions.
MemoryDatabase sample_package() {
    MemoryDatabase db;
    db.word_count = 10;
    db.tables["Media"] = {{"DiskId", "LastSequence", "DiskPrompt", "Cabinet", "VolumeLabel", "Source"},
                          {{"1", "1", "", "#sample.cab", "", ""}}};
    db.tables["File"] = {{"File", "Component_", "FileName", "FileSize", "Version", "Language", "Attributes", "Sequence"},
                         {{"VersionFile", "VersionFile", "version.txt", "5", "", "", "512", "1"}}};
    db.tables["Directory"] = {{"Directory", "Directory_Parent", "DefaultDir"},
                              {{"INSTALLDIR", "LocalAppDataFolder", "VostraneSample"},
                               {"LocalAppDataFolder", "TARGETDIR", "."},
                               {"TARGETDIR", "", "SourceDir"}}};
    db.tables["Property"] = {{"Property", "Value"},
                             {{"Manufacturer", "Vostrane Tests"},
                              {"ProductVersion", "2.0.0"},
                              {"UpgradeCode", std::string(kUpgradeCode)},
                              {"SecureCustomProperties", "WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED"}}};
    db.tables["Upgrade"] = {{"UpgradeCode", "VersionMin", "VersionMax", "Language", "Attributes", "Remove",
                             "ActionProperty"},
                            {{std::string(kUpgradeCode), "", "2.0.0", "", "1", "", "WIX_UPGRADE_DETECTED"},
                             {std::string(kUpgradeCode), "2.0.0", "", "", "2", "", "WIX_DOWNGRADE_DETECTED"}}};
    db.tables["LaunchCondition"] = {{"Condition", "Description"},
                                    {{"NOT WIX_DOWNGRADE_DETECTED", "A newer version is already installed."}}};
    db.tables["CustomAction"] = {{"Action", "Type", "Source", "Target", "ExtendedType"}, {}};
    db.tables["InstallExecuteSequence"] = {{"Action", "Condition", "Sequence"},
                                           {{"FindRelatedProducts", "", "25"}, {"LaunchConditions", "", "100"}}};
    db.tables["Component"] = {{"Component", "ComponentId", "Directory_", "Attributes", "Condition", "KeyPath"},
                              {{"VersionFile", "{8A4F2C1E-3B7D-4E95-A6C0-5D1F9B2E7C43}", "INSTALLDIR", "0", "",
                                "VersionFile"}}};
    // A stream column, which the inspection must not read as text.
    db.tables["Binary"] = {{"Name", "Data"}, {{"Icon", ""}}};
    db.binary_columns = {"Binary.Data"};
    return db;
}

const std::string kPerUser =
    "Installs per user (no ALLUSERS property); elevated privileges are not required (summary Word Count bit 3).";
const std::string kNoLock =
    "The package does not refer to VOSTRANE_INSTALLDIR_LOCK: the VOSTRANE_INSTALLDIR_LOCK=1 that the update helper "
    "passes changes nothing in it.";
const std::string kExternalCabinet =
    "Media 1 uses the cabinet sample.cab from outside the package, where the signature does not reach. Embed it: WiX "
    "<MediaTemplate EmbedCab=\"yes\"/> or <Media EmbedCab=\"yes\">.";
const std::string kNoInstallDir =
    "The Directory table has no INSTALLDIR: the INSTALLDIR=<folder> that the update helper passes would be ignored. "
    "Name the installation folder INSTALLDIR: WiX <Directory Id=\"INSTALLDIR\" Name=\"...\">.";
const std::string kNoRefusal =
    "Nothing refuses the package when a newer version is installed, so an older signed package can be replayed to "
    "downgrade (and without a major upgrade, a new version installs beside the old one). WiX: <MajorUpgrade "
    "DowngradeErrorMessage=\"...\"/>. In the tables: no Upgrade row for the UpgradeCode "
    "{2D9E4B71-5C3A-4F86-B0D2-7E1A9C4F3B68} detects newer versions (VersionMin, OnlyDetect) with a launch condition "
    "or error action on its property.";
const std::string kNoUpgradeCode =
    "The package has no UpgradeCode: nothing refuses it when a newer version is installed, so an older signed "
    "package can be replayed to downgrade, and a new version installs beside the old one instead of replacing it. "
    "WiX: UpgradeCode on <Product> and <MajorUpgrade DowngradeErrorMessage=\"...\"/>.";

std::string uncompressed_text(const std::string& counts, const std::string& first) {
    return counts + " files are not compressed (the first is " + first +
           "): Windows Installer would read them from the package's folder, where the signature does not reach. "
           "Compress them into an embedded cabinet: WiX <Package Compressed=\"yes\"/> with <MediaTemplate "
           "EmbedCab=\"yes\"/>, and no Compressed=\"no\" on a <File>.";
}

PackageFinding error(FindingKind kind, std::string text) { return {FindingLevel::error, kind, std::move(text)}; }
PackageFinding warning(FindingKind kind, std::string text) { return {FindingLevel::warning, kind, std::move(text)}; }
PackageFinding information(FindingKind kind, std::string text) {
    return {FindingLevel::information, kind, std::move(text)};
}

std::vector<PackageFinding> inspect(MemoryDatabase& db, std::optional<std::string_view> version = "2.0.0") {
    return inspect_package(db, version);
}

TEST(PackageInspection, SamplePackageHasOnlyInformation) {
    MemoryDatabase db = sample_package();
    const std::vector<PackageFinding> expected = {information(FindingKind::install_scope, kPerUser),
                                                  information(FindingKind::install_dir_lock, kNoLock)};
    EXPECT_EQ(inspect(db), expected);
    EXPECT_EQ(inspect(db, std::nullopt), expected) << "no version, no comparison";
    EXPECT_TRUE(check_package_is_self_contained(db));
}

struct LayoutCase {
    std::string name;
    std::function<void(MemoryDatabase&)> change;
    std::vector<PackageFinding> errors;
};

// Each case's errors come first, and the helper refuses the package exactly
// when there is one.
void expect_errors_the_helper_refuses(const std::vector<LayoutCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDatabase db = sample_package();
        c.change(db);
        const auto findings = inspect(db);
        const auto checked = check_package_is_self_contained(db);
        // A failed case must not hide the others.
        if (c.errors.empty()) {
            EXPECT_TRUE(checked) << checked.error();
        } else {
            EXPECT_EQ(checked ? std::string("accepted") : checked.error(),
                      "The update package refers to files outside itself.");
        }
        EXPECT_EQ(findings.size(), c.errors.size() + 2) << "the errors, then the two lines of information";
        if (findings.size() < c.errors.size()) continue;
        EXPECT_EQ(std::vector<PackageFinding>(findings.begin(), findings.begin() + c.errors.size()), c.errors);
    }
}

TEST(PackageInspection, FilesOutsideThePackageAreErrorsTheHelperRefuses) {
    const auto attributes = [](MemoryDatabase& db, std::vector<std::string> values) {
        auto& rows = db.tables["File"].rows;
        rows.clear();
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::string name = "File" + std::to_string(i + 1);
            rows.push_back({name, "C", name + ".txt", "5", "", "", values[i], std::to_string(i + 1)});
        }
    };
    const std::vector<LayoutCase> cases = {
        {"external cabinet", [](MemoryDatabase& db) { db.tables["Media"].rows[0][3] = "sample.cab"; },
         {error(FindingKind::external_cabinet, kExternalCabinet)}},
        {"one media embedded, one external",
         [](MemoryDatabase& db) { db.tables["Media"].rows.push_back({"2", "9", "", "second.cab", "", ""}); },
         {error(FindingKind::external_cabinet,
                "Media 2 uses the cabinet second.cab from outside the package, where the signature does not reach. "
                "Embed it: WiX <MediaTemplate EmbedCab=\"yes\"/> or <Media EmbedCab=\"yes\">.")}},
        {"media without a cabinet", [](MemoryDatabase& db) { db.tables["Media"].rows[0][3] = ""; }, {}},
        {"compressed by default, file opts out",
         [&](MemoryDatabase& db) { attributes(db, {"0", std::to_string(kFileNoncompressed)}); },
         {error(FindingKind::uncompressed_files, uncompressed_text("1 of 2", "File2"))}},
        {"compressed by default, file says both",
         [&](MemoryDatabase& db) { attributes(db, {std::to_string(kFileNoncompressed | kFileCompressed)}); },
         {error(FindingKind::uncompressed_files, uncompressed_text("1 of 1", "File1"))}},
        {"uncompressed by default",
         [&](MemoryDatabase& db) {
             db.word_count = 8;
             attributes(db, {"512", "", std::to_string(kFileCompressed)});
         },
         {error(FindingKind::uncompressed_files, uncompressed_text("2 of 3", "File1"))}},
        {"uncompressed by default, every file compressed",
         [&](MemoryDatabase& db) {
             db.word_count = 0;
             attributes(db, {std::to_string(kFileCompressed), std::to_string(kFileCompressed | 512)});
         },
         {}},
        {"no word count at all", [](MemoryDatabase& db) { db.word_count = std::nullopt; },
         {error(FindingKind::uncompressed_files, uncompressed_text("1 of 1", "VersionFile"))}},
        {"no files, no media",
         [](MemoryDatabase& db) {
             db.word_count = 0;
             db.tables.erase("File");
             db.tables.erase("Media");
         },
         {}},
        {"both", [](MemoryDatabase& db) {
             db.tables["Media"].rows[0][3] = "sample.cab";
             db.word_count = 0;
         },
         {error(FindingKind::external_cabinet, kExternalCabinet),
          error(FindingKind::uncompressed_files, uncompressed_text("1 of 1", "VersionFile"))}},
    };
    expect_errors_the_helper_refuses(cases);
}

// A row added to a table, made with these columns when the package lacks it.
void add_row(MemoryDatabase& db, const std::string& table, std::vector<std::string> columns, MsiRow row) {
    auto& added = db.tables[table];
    if (added.columns.empty()) added.columns = std::move(columns);
    added.rows.push_back(std::move(row));
}
void custom_action(MemoryDatabase& db, std::string action, std::string type, std::string source, std::string target) {
    db.tables["CustomAction"].rows.push_back({std::move(action), std::move(type), std::move(source), std::move(target), ""});
}
void move_file(MemoryDatabase& db, const std::string& source_folder) {
    add_row(db, "MoveFile", {"FileKey", "Component_", "SourceName", "DestName", "SourceFolder", "DestFolder", "Options"},
            {"Plant", "VersionFile", "*.dll", "", source_folder, "INSTALLDIR", "0"});
}

const std::string kFromTheSourceFolder =
    ": Windows Installer would take what it names from the folder the package was started from, where the signature "
    "does not reach. ";
const std::string kRunWhatIsCarried = "Run only what the package installs or carries: [#FileId], [INSTALLDIR], the Binary table.";
const std::string kReferToInstalled = "Refer to what the package installs instead: [INSTALLDIR], [#FileId].";

std::string moved_files_text(const std::string& from) {
    return "The MoveFile table's row Plant takes files from " + from +
           ": Windows Installer would copy them from the folder the package was started from, where the signature "
           "does not reach. Carry the files in the package: a <File> of a component, not a <CopyFile> from beside it.";
}
std::string action_text(const std::string& column, const std::string& row, const std::string& reference) {
    return "The CustomAction table's " + column + " of row " + row + " refers to " + reference + kFromTheSourceFolder +
           kRunWhatIsCarried;
}
std::string table_text(const std::string& table, const std::string& column, const std::string& row,
                       const std::string& reference) {
    return "The " + table + " table's " + column + " of row " + row + " refers to " + reference + kFromTheSourceFolder +
           kReferToInstalled;
}
PackageFinding source_folder(std::string text) { return error(FindingKind::source_folder, std::move(text)); }

// A place that copies or runs something, given a value from outside the
// package.
const std::string kFromEnvironment = ": an environment variable, which every program of the user can set";
const std::string kFromMachine = ": what Windows Installer finds on the machine, which the signature does not cover";
const std::string kFromProfile =
    ": a folder of the user's profile, which every program of the user can write, in a package installed per machine";
const std::string kNotPinnedDown =
    ": a value the package does not pin down (set on the command line, by code, or in a folder every user can write), "
    "which the signature does not cover";
std::string outside_text(const std::string& table, const std::string& column, const std::string& row,
                         const std::string& reference, const std::string& origin) {
    const std::string fix = table == "MoveFile" ? "Carry the files in the package: a <File> of a component, not a "
                                                  "<CopyFile> from beside it."
                                                : "Ship the program in the package and run it with a type 18 or type 2 "
                                                  "custom action, or refer to [#FileKey].";
    return "The " + table + " table's " + column + " of row " + row + " refers to " + reference + origin +
           "; Windows Installer would copy or run what it names. " + fix;
}
void install_per_machine(MemoryDatabase& db) {
    db.set_property("ALLUSERS", "1");
    db.streams.emplace_back(kDigitalSignatureStream);  // no warning about the elevation prompt
    db.tables["Directory"].rows[0][1] = "ProgramFilesFolder";
}

// What the package may refer to: anything but the folder it was started from
// (SourceDir, SOURCEDIR, OriginalDatabase, DATABASE, CURRENTDIRECTORY) and what
// is set from it.
std::string run_from_source_text(const std::string& component, const std::string& attributes) {
    return "The Component table's row " + component + " may run from source (Attributes " + attributes +
           "): Windows Installer would leave its files in the folder the package was started from, where the "
           "signature does not reach, and run them from there. Install it locally: WiX <Component "
           "Location=\"local\"> (not \"source\" or \"either\").";
}

TEST(PackageInspection, AnythingTakenFromTheSourceFolderIsAnErrorTheHelperRefuses) {
    const std::vector<LayoutCase> cases = {
        {"MoveFile from SourceDir", [](MemoryDatabase& db) { move_file(db, "SourceDir"); },
         {source_folder(moved_files_text("SourceDir"))}},
        {"MoveFile from SOURCEDIR", [](MemoryDatabase& db) { move_file(db, "SOURCEDIR"); },
         {source_folder(moved_files_text("SOURCEDIR"))}},
        {"MoveFile from a property a type-51 action sets from SourceDir",
         [](MemoryDatabase& db) {
             custom_action(db, "SetSource", "51", "FROM", "[SourceDir]plugins");
             move_file(db, "FROM");
         },
         {source_folder(action_text("Target", "SetSource", "[SourceDir]")),
          source_folder(moved_files_text("FROM, which custom action SetSource sets from [SourceDir]"))}},
        {"type 34 runs [SourceDir]tool.exe",
         [](MemoryDatabase& db) { custom_action(db, "Run", "34", "INSTALLDIR", "\"[SourceDir]tool.exe\" /quiet"); },
         {source_folder(action_text("Target", "Run", "[SourceDir]"))}},
        {"type 50 runs a property a type-51 action set to [SourceDir]",
         [](MemoryDatabase& db) {
             custom_action(db, "SetTool", "51", "TOOL", "[SourceDir]tool.exe");
             custom_action(db, "Run", "3122", "TOOL", "/quiet");  // 50, deferred, no impersonation
         },
         {source_folder(action_text("Target", "SetTool", "[SourceDir]")),
          source_folder(action_text("Source", "Run", "TOOL, which custom action SetTool sets from [SourceDir]"))}},
        {"type 50 runs a property whose default is [DATABASE]",
         [](MemoryDatabase& db) {
             db.set_property("TOOL", "[DATABASE]");
             custom_action(db, "Run", "50", "TOOL", "/quiet");
         },
         {source_folder(action_text("Source", "Run", "TOOL, which the Property table sets from [DATABASE]")),
          source_folder(table_text("Property", "Value", "TOOL", "[DATABASE]"))}},
        {"type 34 runs msiexec on [OriginalDatabase]",
         [](MemoryDatabase& db) {
             custom_action(db, "Run", "34", "INSTALLDIR", "msiexec.exe /i \"[OriginalDatabase]\" /quiet");
         },
         {source_folder(action_text("Target", "Run", "[OriginalDatabase]"))}},
        {"type 34 working in SourceDir", [](MemoryDatabase& db) { custom_action(db, "Run", "34", "SourceDir", "[#App]"); },
         {source_folder(action_text("Source", "Run", "SourceDir"))}},
        {"type 34 from CURRENTDIRECTORY",
         [](MemoryDatabase& db) { custom_action(db, "Run", "34", "INSTALLDIR", "[CURRENTDIRECTORY]tool.exe"); },
         {source_folder(action_text("Target", "Run", "[CURRENTDIRECTORY]"))}},
        {"type 23 nested install", [](MemoryDatabase& db) { custom_action(db, "Nested", "23", "other.msi", ""); },
         {source_folder("The CustomAction table's row Nested (type 23) installs another package from the folder the "
                        "package was started from, where the signature does not reach. Carry what it installs in this "
                        "package.")}},
        {"registry value holding [SourceDir]",
         [](MemoryDatabase& db) {
             add_row(db, "Registry", {"Registry", "Root", "Key", "Name", "Value", "Component_"},
                     {"Tool", "1", "Software", "VostraneTool", "[SourceDir]tool.exe", "VersionFile"});
         },
         {source_folder(table_text("Registry", "Value", "Tool", "[SourceDir]"))}},
        {"shortcut working in SOURCEDIR",
         [](MemoryDatabase& db) {
             add_row(db, "Shortcut", {"Shortcut", "Directory_", "Name", "Component_", "Target", "WkDir"},
                     {"App", "INSTALLDIR", "App", "VersionFile", "[#VersionFile]", "SOURCEDIR"});
         },
         {source_folder(table_text("Shortcut", "WkDir", "App", "SOURCEDIR"))}},
        {"component below a directory a type-35 action sets from [SOURCEDIR]",
         [](MemoryDatabase& db) {
             custom_action(db, "SetToolDir", "35", "TOOLDIR", "[SOURCEDIR]tools");
             db.tables["Directory"].rows.push_back({"TOOLDIR", "INSTALLDIR", "Tools"});
             db.tables["Directory"].rows.push_back({"BIN", "TOOLDIR", "bin"});
             db.tables["Component"].rows.push_back({"Tool", "", "BIN", "0", "", ""});
         },
         {source_folder(table_text("Component", "Directory_", "Tool",
                                   "BIN, which the Directory table places below TOOLDIR")),
          source_folder(action_text("Target", "SetToolDir", "[SOURCEDIR]")),
          source_folder(table_text("Directory", "Directory", "TOOLDIR",
                                   "TOOLDIR, which custom action SetToolDir sets from [SOURCEDIR]")),
          source_folder(table_text("Directory", "Directory", "BIN",
                                   "BIN, which the Directory table places below TOOLDIR"))}},
        {"a component that only runs from source",
         [](MemoryDatabase& db) { db.tables["Component"].rows[0][3] = "1"; },
         {source_folder(run_from_source_text("VersionFile", "1"))}},
        {"a component that may run from source (optional), 64-bit",
         [](MemoryDatabase& db) { db.tables["Component"].rows[0][3] = "258"; },
         {source_folder(run_from_source_text("VersionFile", "258"))}},
        {"a 64-bit component installed locally",
         [](MemoryDatabase& db) { db.tables["Component"].rows[0][3] = "256"; }, {}},
        {"ARPINSTALLLOCATION set to [INSTALLDIR]",
         [](MemoryDatabase& db) { custom_action(db, "SetArpLocation", "51", "ARPINSTALLLOCATION", "[INSTALLDIR]"); },
         {}},
        {"a program started from [INSTALLDIR] after the install",
         [](MemoryDatabase& db) {
             custom_action(db, "Run", "34", "INSTALLDIR", "\"[INSTALLDIR]app.exe\" /quiet");
             db.tables["InstallExecuteSequence"].rows.push_back({"Run", "NOT Installed", "6601"});
         },
         {}},
        {"a folder named SourceDir below INSTALLDIR",
         [](MemoryDatabase& db) { db.tables["Directory"].rows.push_back({"SUB", "INSTALLDIR", "SourceDir"}); }, {}},
        {"[sourcedir] names another property", [](MemoryDatabase& db) { db.set_property("SHOWN", "[sourcedir]"); },
         {}},
        {"text in the database's own tables",
         [](MemoryDatabase& db) {
             add_row(db, "_Validation", {"Table", "Column", "Description"}, {"MoveFile", "SourceFolder", "[SourceDir]"});
         },
         {}},
    };
    expect_errors_the_helper_refuses(cases);
}

// What formatted text resolves to is evaluated: a name built from pieces or
// escapes, a value that takes more than one pass to know, and what a place
// that copies or runs something may resolve to.
TEST(PackageInspection, WhatEachPlaceThatCopiesOrRunsSomethingMayResolveToIsThePackagesOwn) {
    const std::vector<LayoutCase> cases = {
        {"MoveFile from [[Q]], Q being [\\S]ourceDir",
         [](MemoryDatabase& db) {
             custom_action(db, "SetQ", "51", "Q", "[\\S]ourceDir");
             custom_action(db, "SetP", "51", "P", "[[Q]]");
             move_file(db, "P");
         },
         {source_folder(action_text("Target", "SetP", "[[Q]]")),
          source_folder(moved_files_text("P, which custom action SetP sets from [[Q]]"))}},
        {"type 50 (114) runs [[Q]]planted.exe",
         [](MemoryDatabase& db) {
             custom_action(db, "SetQ", "51", "Q", "[\\S]ourceDir");
             custom_action(db, "SetTool", "51", "TOOL", "[[Q]]planted.exe");
             custom_action(db, "Run", "114", "TOOL", "");
         },
         {source_folder(action_text("Target", "SetTool", "[[Q]]")),
          source_folder(action_text("Source", "Run", "TOOL, which custom action SetTool sets from [[Q]]"))}},
        {"MoveFile from [[A][B]], the Property table's A=Source, B=Dir",
         [](MemoryDatabase& db) {
             db.set_property("A", "Source");
             db.set_property("B", "Dir");
             custom_action(db, "SetP", "51", "P", "[[A][B]]");
             move_file(db, "P");
         },
         {source_folder(action_text("Target", "SetP", "[[A][B]]")),
          source_folder(moved_files_text("P, which custom action SetP sets from [[A][B]]"))}},
        {"a name from three pieces, in a type-34 command line",
         [](MemoryDatabase& db) {
             db.set_property("A", "Sou");
             db.set_property("B", "rce");
             db.set_property("C", "Dir");
             custom_action(db, "SetP", "51", "P", "[[A][B][C]]");
             custom_action(db, "Run", "34", "INSTALLDIR", "\"[P]tool.exe\"");
         },
         {source_folder(action_text("Target", "SetP", "[[A][B][C]]")),
          source_folder(action_text("Target", "Run", "[P], which custom action SetP sets from [[A][B][C]]"))}},
        {"escapes on both sides of a nested reference",
         [](MemoryDatabase& db) {
             db.set_property("MID", "rc");
             custom_action(db, "SetTool", "51", "TOOL", "[[\\S]ou[MID]eD[\\i]r]tool.exe");
             custom_action(db, "Run", "50", "TOOL", "");
         },
         {source_folder(action_text("Target", "SetTool", "[[\\S]ou[MID]eD[\\i]r]")),
          source_folder(action_text("Source", "Run",
                                    "TOOL, which custom action SetTool sets from [[\\S]ou[MID]eD[\\i]r]"))}},
        {"type 50 runs [%TEMP]\\planted.exe",
         [](MemoryDatabase& db) {
             custom_action(db, "SetTool", "51", "TOOL", "[%TEMP]\\planted.exe");
             custom_action(db, "Run", "50", "TOOL", "");
         },
         {source_folder(outside_text("CustomAction", "Source", "Run",
                                     "TOOL, which custom action SetTool sets from [%TEMP]", kFromEnvironment))}},
        {"MoveFile from [%TEMP]",
         [](MemoryDatabase& db) {
             custom_action(db, "SetP", "51", "P", "[%TEMP]");
             move_file(db, "P");
         },
         {source_folder(outside_text("MoveFile", "SourceFolder", "Plant", "P, which custom action SetP sets from [%TEMP]",
                                     kFromEnvironment))}},
        {"type 50 runs what AppSearch finds in HKEY_CURRENT_USER",
         [](MemoryDatabase& db) {
             add_row(db, "AppSearch", {"Property", "Signature_"}, {"TOOLPATH", "ToolSig"});
             add_row(db, "RegLocator", {"Signature_", "Root", "Key", "Name", "Type"},
                     {"ToolSig", "1", "Software\\Tool", "Path", "2"});
             custom_action(db, "Run", "50", "TOOLPATH", "/quiet");
         },
         {source_folder(outside_text(
             "CustomAction", "Source", "Run",
             "TOOLPATH, which AppSearch sets from what it finds on the machine (signature ToolSig)", kFromMachine))}},
        {"type 50 runs a public property nothing in the package sets",
         [](MemoryDatabase& db) { custom_action(db, "Run", "50", "TOOLPATH", "/quiet"); },
         {source_folder(outside_text("CustomAction", "Source", "Run", "TOOLPATH", kNotPinnedDown))}},
        {"a property's default refers to one a type-51 action sets later (two passes)",
         [](MemoryDatabase& db) {
             db.set_property("TOOL", "[FROM]tool.exe");
             custom_action(db, "SetFrom", "51", "FROM", "[SourceDir]");
             custom_action(db, "Run", "50", "TOOL", "");
         },
         {source_folder(action_text("Target", "SetFrom", "[SourceDir]")),
          source_folder(action_text("Source", "Run", "TOOL, which the Property table sets from [FROM]")),
          source_folder(table_text("Property", "Value", "TOOL",
                                   "[FROM], which custom action SetFrom sets from [SourceDir]"))}},
        {"type 51 + 256 sets the program from [SourceDir]",
         [](MemoryDatabase& db) {
             custom_action(db, "SetTool", "307", "TOOL", "[SourceDir]tool.exe");
             custom_action(db, "Run", "50", "TOOL", "");
         },
         {source_folder(action_text("Target", "SetTool", "[SourceDir]")),
          source_folder(action_text("Source", "Run", "TOOL, which custom action SetTool sets from [SourceDir]"))}},
        {"type 23 + 64 nested install", [](MemoryDatabase& db) { custom_action(db, "Nested", "87", "other.msi", ""); },
         {source_folder("The CustomAction table's row Nested (type 23) installs another package from the folder the "
                        "package was started from, where the signature does not reach. Carry what it installs in this "
                        "package.")}},
        {"type 39 installs a product already on the machine",
         [](MemoryDatabase& db) { custom_action(db, "Nested", "39", "{0A5B0C7E-1111-2222-3333-444455556666}", ""); },
         {source_folder("The CustomAction table's row Nested (type 39) installs a product already on the machine, "
                        "from wherever that was installed from, where the signature does not reach. Carry what it "
                        "installs in this package.")}},
        {"the second reference of a registry value",
         [](MemoryDatabase& db) {
             add_row(db, "Registry", {"Registry", "Root", "Key", "Name", "Value", "Component_"},
                     {"Tool", "1", "Software", "Tool", "[INSTALLDIR]x;[SourceDir]tool.exe", "VersionFile"});
         },
         {source_folder(table_text("Registry", "Value", "Tool", "[SourceDir]"))}},
        {"the second reference of a type-34 command line",
         [](MemoryDatabase& db) {
             custom_action(db, "Run", "34", "INSTALLDIR", "[INSTALLDIR]x;[SourceDir]tool.exe");
         },
         {source_folder(action_text("Target", "Run", "[SourceDir]"))}},
        {"a protected program handed a script from [%TEMP]",
         [](MemoryDatabase& db) {
             custom_action(db, "Run", "34", "INSTALLDIR", "\"[SystemFolder]cmd.exe\" /c \"[%TEMP]\\x.cmd\"");
         },
         {source_folder(outside_text("CustomAction", "Target", "Run", "[%TEMP]", kFromEnvironment))}},
        {"type 53 runs script text a search found",
         [](MemoryDatabase& db) {
             add_row(db, "AppSearch", {"Property", "Signature_"}, {"SCRIPT", "ScriptSig"});
             custom_action(db, "Run", "53", "SCRIPT", "Main");
         },
         {source_folder(outside_text(
             "CustomAction", "Source", "Run",
             "SCRIPT, which AppSearch sets from what it finds on the machine (signature ScriptSig)", kFromMachine))}},
        {"the package's own program (type 18) handed a script from [%TEMP]",
         [](MemoryDatabase& db) {
             custom_action(db, "Run", "18", "VersionFile", "/script \"[%TEMP]\\x.js\"");
         },
         {source_folder(outside_text("CustomAction", "Target", "Run", "[%TEMP]", kFromEnvironment))}},
        {"a service started with arguments from [%TEMP]",
         [](MemoryDatabase& db) {
             add_row(db, "ServiceInstall", {"ServiceInstall", "Name", "Arguments", "Component_"},
                     {"Service", "tool", "--config \"[%TEMP]\\x.cfg\"", "VersionFile"});
         },
         {source_folder(outside_text("ServiceInstall", "Arguments", "Service", "[%TEMP]", kFromEnvironment))}},
        {"a service started by the installation with arguments from [%TEMP]",
         [](MemoryDatabase& db) {
             add_row(db, "ServiceControl", {"ServiceControl", "Name", "Event", "Arguments", "Component_"},
                     {"StartService", "tool", "1", "--config \"[%TEMP]\\x.cfg\"", "VersionFile"});
         },
         {source_folder(outside_text("ServiceControl", "Arguments", "StartService", "[%TEMP]", kFromEnvironment))}},
        {"an embedded chainer run from a property (type 50) set from [%TEMP]",
         [](MemoryDatabase& db) {
             custom_action(db, "SetChainer", "51", "CHAINER", "[%TEMP]\\chainer.exe");
             add_row(db, "MsiEmbeddedChainer", {"MsiEmbeddedChainer", "Condition", "CommandLine", "Source", "Type"},
                     {"Chainer", "", "", "CHAINER", "50"});
         },
         {source_folder(outside_text("MsiEmbeddedChainer", "Source", "Chainer",
                                     "CHAINER, which custom action SetChainer sets from [%TEMP]", kFromEnvironment))}},
        {"a deferred action's CustomActionData from [%TEMP]",
         [](MemoryDatabase& db) {
             custom_action(db, "SetRunScript", "51", "RunScript", "[%TEMP]\\x.cmd");
             custom_action(db, "RunScript", "3073", "ScriptDll", "Run");  // type 1, deferred, no impersonation
         },
         {source_folder(outside_text("CustomAction", "Target", "SetRunScript", "[%TEMP]", kFromEnvironment))}},
        {"WiX's quiet execution command line from the Property table, a per-user folder in a per-machine package",
         [](MemoryDatabase& db) {
             install_per_machine(db);
             db.set_property("WixQuietExecCmdLine", "\"[SystemFolder]cmd.exe\" /c \"[AppDataFolder]x.cmd\"");
         },
         {source_folder(outside_text("Property", "Value", "WixQuietExecCmdLine", "[AppDataFolder]", kFromProfile))}},
        {"per machine: \"[SystemFolder]cmd.exe\" /c \"[TempFolder]x.cmd\"",
         [](MemoryDatabase& db) {
             install_per_machine(db);
             custom_action(db, "Run", "34", "INSTALLDIR", "\"[SystemFolder]cmd.exe\" /c \"[TempFolder]x.cmd\"");
         },
         {source_folder(outside_text("CustomAction", "Target", "Run", "[TempFolder]", kFromProfile))}},
        {"per user: \"[SystemFolder]cmd.exe\" /c \"[TempFolder]x.cmd\"",
         [](MemoryDatabase& db) {
             custom_action(db, "Run", "34", "INSTALLDIR", "\"[SystemFolder]cmd.exe\" /c \"[TempFolder]x.cmd\"");
         },
         {}},
        {"per machine: \"[SystemFolder]cmd.exe\" /c \"[INSTALLDIR]setup.cmd\"",
         [](MemoryDatabase& db) {
             install_per_machine(db);
             custom_action(db, "Run", "3106", "INSTALLDIR", "\"[SystemFolder]cmd.exe\" /c \"[INSTALLDIR]setup.cmd\"");
         },
         {}},
        {"[#VersionFile], and a program property set to it",
         [](MemoryDatabase& db) {
             custom_action(db, "RunFile", "34", "INSTALLDIR", "\"[#VersionFile]\" --installed");
             custom_action(db, "SetTool", "51", "TOOL", "[#VersionFile]");
             custom_action(db, "Run", "50", "TOOL", "/quiet");
         },
         {}},
        {"per user: a program property set to the package's own installed folder",
         [](MemoryDatabase& db) {
             custom_action(db, "SetTool", "51", "TOOL", "[INSTALLDIR]app.exe");
             custom_action(db, "Run", "50", "TOOL", "/quiet");
         },
         {}},
    };
    expect_errors_the_helper_refuses(cases);
}

TEST(PackageInspection, MissingInstallDirIsAnError) {
    for (const std::string name : {"APPDIR", "installdir", "INSTALLDIR2"}) {
        SCOPED_TRACE(name);
        MemoryDatabase db = sample_package();
        db.tables["Directory"].rows[0][0] = name;
        const auto findings = inspect(db);
        ASSERT_EQ(findings.size(), 3u);
        EXPECT_EQ(findings[0], error(FindingKind::no_install_dir, kNoInstallDir));
        EXPECT_TRUE(check_package_is_self_contained(db)) << "the helper refuses only files from outside";
    }
}

TEST(PackageInspection, ProductVersionIsComparedAsWindowsInstallerDoes) {
    // Two versions that differ are an error (the helper refuses the package);
    // text that is not a version only a warning.
    enum class Outcome { same, error, warning };
    struct Case {
        std::string product_version, signed_version;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"2.0.0", "2.0.0", Outcome::same},          {"2.0.0.7", "2.0.0", Outcome::same},
        {"2.0.0.7", "2.0.0.9", Outcome::same},      {"02.00.0000", "2.0.0", Outcome::same},
        {"2.0", "2.0.0", Outcome::same},            {"2.0.1", "2.0.0", Outcome::error},
        {"2.1.0", "2.0.0", Outcome::error},         {"1.0.0", "2.0.0", Outcome::error},
        {"2.0.0", "2.0.1.0", Outcome::error},       {"2.0.0", "v2.0.0", Outcome::warning},
        {"2.0.0", "2.0.0-beta", Outcome::warning},  {"", "2.0.0", Outcome::warning},
        {"2.0.0.0.0", "2.0.0", Outcome::warning},   {"65536.0.0", "0.0.0", Outcome::warning},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.product_version + " / " + c.signed_version);
        MemoryDatabase db = sample_package();
        db.set_property("ProductVersion", c.product_version);
        const auto findings = inspect(db, c.signed_version);
        EXPECT_EQ(contradicts_signed_version(c.product_version, c.signed_version), c.outcome == Outcome::error);
        if (c.outcome == Outcome::same) {
            EXPECT_EQ(findings.size(), 2u);
            continue;
        }
        ASSERT_EQ(findings.size(), 3u);
        const std::string differs = "ProductVersion " + c.product_version + " is not the version being signed, " +
                                    c.signed_version + " (Windows Installer compares the first three fields, as numbers)";
        if (c.outcome == Outcome::warning) {
            EXPECT_EQ(findings[0], warning(FindingKind::version_differs, differs + "."));
        } else {
            EXPECT_EQ(findings[0], error(FindingKind::version_differs,
                                         differs + ": the update helper refuses it. Set the package's ProductVersion "
                                                   "to " + c.signed_version + " (WiX <Product Version=\"" +
                                             c.signed_version + "\">), or sign the version the package carries, " +
                                             c.product_version + "."));
        }
    }

    MemoryDatabase db = sample_package();
    db.remove_property("ProductVersion");
    EXPECT_EQ(inspect(db).at(0),
              warning(FindingKind::version_differs, "The package has no ProductVersion; the version being signed is 2.0.0."));
    EXPECT_EQ(inspect(db, std::nullopt).size(), 2u);
}

TEST(InstallerVersion, ParsesUpToFourFieldsAndKeepsThree) {
    const std::vector<std::pair<std::string, std::optional<InstallerVersion>>> cases = {
        {"1.2.3", InstallerVersion{1, 2, 3}},
        {"1.2.3.4", InstallerVersion{1, 2, 3}},
        {"1", InstallerVersion{1, 0, 0}},
        {"1.2", InstallerVersion{1, 2, 0}},
        {"001.02.3", InstallerVersion{1, 2, 3}},
        {"255.255.65535", InstallerVersion{255, 255, 65535}},
        {"65535.65535.65535.65535", InstallerVersion{65535, 65535, 65535}},
        {"65536.0.0", std::nullopt},
        {"1.2.3.65536", std::nullopt},
        {"99999999999999999999.0.0", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"", std::nullopt},
        {".1.2", std::nullopt},
        {"1..2", std::nullopt},
        {"1.2.3.", std::nullopt},
        {" 1.2.3", std::nullopt},
        {"1.2.3 ", std::nullopt},
        {"+1.2.3", std::nullopt},
        {"-1.2.3", std::nullopt},
        {"v1.2.3", std::nullopt},
        {"1.2.3-beta", std::nullopt},
        {"1.2.x", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse_installer_version(text), expected);
    }
    EXPECT_TRUE(same_installer_version("1.2.3.4", "1.2.3.5"));
    EXPECT_FALSE(same_installer_version("1.2.3", "1.2.4"));
    EXPECT_FALSE(same_installer_version("x", "x")) << "text that is not a version equals nothing";
}

TEST(PackageInspection, DowngradeRefusalNeedsADetectionRowAndARefusalOnItsProperty) {
    struct Case {
        std::string name;
        std::function<void(MemoryDatabase&)> change;
        std::optional<std::string> warning;  // nothing: refused, no warning
    };
    const auto detection_row = [](MemoryDatabase& db) -> MsiRow& { return db.tables["Upgrade"].rows[1]; };
    const auto error_action = [](MemoryDatabase& db, std::string type, std::string sequence, std::string condition) {
        db.tables["LaunchCondition"].rows.clear();
        db.tables["CustomAction"].rows.push_back({"PreventDowngrading", type, "", "Newer version installed.", ""});
        db.tables[sequence].columns = {"Action", "Condition", "Sequence"};
        db.tables[sequence].rows.push_back({"PreventDowngrading", condition, "30"});
    };
    const std::vector<Case> cases = {
        {"the sample's major upgrade", [](MemoryDatabase&) {}, std::nullopt},
        {"upgrade code in lower case", [&](MemoryDatabase& db) { detection_row(db)[0] = "{2d9e4b71-5c3a-4f86-b0d2-7e1a9c4f3b68}"; },
         std::nullopt},
        {"no UpgradeCode property", [](MemoryDatabase& db) { db.remove_property("UpgradeCode"); }, kNoUpgradeCode},
        {"empty UpgradeCode property", [](MemoryDatabase& db) { db.set_property("UpgradeCode", ""); }, kNoUpgradeCode},
        {"no Upgrade table", [](MemoryDatabase& db) { db.tables.erase("Upgrade"); }, kNoRefusal},
        {"detection row for another product",
         [&](MemoryDatabase& db) { detection_row(db)[0] = "{00000000-0000-0000-0000-000000000000}"; }, kNoRefusal},
        {"detection row without VersionMin", [&](MemoryDatabase& db) { detection_row(db)[1] = ""; }, kNoRefusal},
        {"row that removes instead of detecting", [&](MemoryDatabase& db) { detection_row(db)[4] = "0"; }, kNoRefusal},
        {"detection with nothing refusing", [](MemoryDatabase& db) { db.tables.erase("LaunchCondition"); }, kNoRefusal},
        {"launch condition on another property",
         [](MemoryDatabase& db) { db.tables["LaunchCondition"].rows[0][0] = "NOT WIX_DOWNGRADE_DETECTED_OTHER"; },
         kNoRefusal},
        {"error action in the execute sequence",
         [&](MemoryDatabase& db) { error_action(db, "19", "InstallExecuteSequence", "WIX_DOWNGRADE_DETECTED"); },
         std::nullopt},
        {"error action with scheduling flags, in the UI sequence",
         [&](MemoryDatabase& db) { error_action(db, "275", "InstallUISequence", "WIX_DOWNGRADE_DETECTED"); },
         std::nullopt},
        {"error action on another property",
         [&](MemoryDatabase& db) { error_action(db, "19", "InstallExecuteSequence", "WIX_UPGRADE_DETECTED"); },
         kNoRefusal},
        {"other action type on the property",
         [&](MemoryDatabase& db) { error_action(db, "51", "InstallExecuteSequence", "WIX_DOWNGRADE_DETECTED"); },
         kNoRefusal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDatabase db = sample_package();
        c.change(db);
        const auto findings = inspect(db);
        if (!c.warning) {
            EXPECT_EQ(findings.size(), 2u) << findings.front().text;
            continue;
        }
        ASSERT_EQ(findings.size(), 3u);
        const FindingKind kind = *c.warning == kNoUpgradeCode ? FindingKind::no_upgrade_code
                                                              : FindingKind::no_downgrade_refusal;
        EXPECT_EQ(findings[0], warning(kind, *c.warning));
    }
}

// A per-machine package asks for elevation; without an Authenticode signature
// the prompt names no publisher.
TEST(PackageInspection, InstallScopeComesFromAllUsersAndTheSummary) {
    struct Case {
        std::optional<std::string> all_users, per_user;
        std::int32_t word_count;
        std::string text;
        bool per_machine;
    };
    const std::string elevated = "; elevated privileges may be required (summary Word Count bit 3 not set).";
    const std::string admin_else_user =
        "Installs per machine for a user with administrator rights, else per user (ALLUSERS=2)";
    const std::vector<Case> cases = {
        {std::nullopt, std::nullopt, 10, kPerUser, false},
        {"", std::nullopt, 2, "Installs per user (no ALLUSERS property)" + elevated, false},
        {"1", std::nullopt, 2, "Installs per machine (ALLUSERS=1)" + elevated, true},
        {"2", std::nullopt, 10,
         admin_else_user + "; elevated privileges are not required (summary Word Count bit 3).", true},
        {"2", "1", 10,
         "Installs per user (ALLUSERS=2, MSIINSTALLPERUSER=1); elevated privileges are not required (summary Word "
         "Count bit 3).",
         false},
        {"2", "0", 2, admin_else_user + elevated, true},
        {"yes", std::nullopt, 2, "Installs per machine (ALLUSERS=yes)" + elevated, true},
    };
    const PackageFinding unsigned_warning = warning(
        FindingKind::no_authenticode_signature,
        "The package installs per machine but carries no Authenticode signature, so the elevation prompt will name no "
        "publisher. Sign the .msi with Authenticode (osslsigncode sign) before you make the update signature over the "
        "signed file.");
    for (const auto& c : cases) {
        for (const bool authenticode : {false, true}) {
            SCOPED_TRACE(c.text + (authenticode ? " (Authenticode-signed)" : ""));
            MemoryDatabase db = sample_package();
            if (c.all_users) db.set_property("ALLUSERS", *c.all_users);
            if (c.per_user) db.set_property("MSIINSTALLPERUSER", *c.per_user);
            db.word_count = c.word_count;
            if (authenticode) db.streams.push_back("\005DigitalSignature");
            std::vector<PackageFinding> expected;
            if (c.per_machine && !authenticode) expected.push_back(unsigned_warning);
            expected.push_back(information(FindingKind::install_scope, c.text));
            expected.push_back(information(FindingKind::install_dir_lock, kNoLock));
            EXPECT_EQ(inspect(db), expected);
        }
    }
}

TEST(PackageInspection, ReferencesToTheLockPropertyAreNamedByTable) {
    struct Case {
        std::string name;
        std::function<void(MemoryDatabase&)> change;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"nowhere", [](MemoryDatabase&) {}, kNoLock},
        {"a property of that name",
         [](MemoryDatabase& db) { db.set_property("VOSTRANE_INSTALLDIR_LOCK", "0"); },
         "The package refers to VOSTRANE_INSTALLDIR_LOCK (in Property)."},
        {"conditions and a custom action",
         [](MemoryDatabase& db) {
             db.tables["LaunchCondition"].rows.push_back({"Installed OR VOSTRANE_INSTALLDIR_LOCK=\"1\"", "Use the updater."});
             db.tables["CustomAction"].rows.push_back({"KeepDir", "51", "INSTALLDIR", "[VOSTRANE_INSTALLDIR_LOCK]", ""});
             db.tables["InstallExecuteSequence"].rows.push_back({"KeepDir", "VOSTRANE_INSTALLDIR_LOCK", "990"});
             db.tables["ControlCondition"] = {{"Dialog_", "Control_", "Action", "Condition"},
                                              {{"Dir", "Browse", "Disable", "VOSTRANE_INSTALLDIR_LOCK"}}};
         },
         "The package refers to VOSTRANE_INSTALLDIR_LOCK (in LaunchCondition, ControlCondition, CustomAction, "
         "InstallExecuteSequence)."},
        {"an AppSearch property",
         [](MemoryDatabase& db) {
             db.tables["AppSearch"] = {{"Property", "Signature_"}, {{"VOSTRANE_INSTALLDIR_LOCK", "Sig"}}};
         },
         "The package refers to VOSTRANE_INSTALLDIR_LOCK (in AppSearch)."},
        {"only longer names",
         [](MemoryDatabase& db) {
             db.set_property("VOSTRANE_INSTALLDIR_LOCKED", "1");
             db.tables["LaunchCondition"].rows.push_back({"MY_VOSTRANE_INSTALLDIR_LOCK", "x"});
         },
         kNoLock},
        {"in another letter case", [](MemoryDatabase& db) { db.set_property("vostrane_installdir_lock", "1"); },
         kNoLock},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDatabase db = sample_package();
        c.change(db);
        EXPECT_EQ(inspect(db).back(), information(FindingKind::install_dir_lock, c.text));
    }
}

TEST(PackageInspection, ADatabaseThatCannotBeReadIsAnError) {
    struct Case {
        std::string name;
        std::function<void(MemoryDatabase&)> change;
        std::string reason;
        bool layout;  // the helper's own reading fails too
    };
    const std::vector<Case> cases = {
        {"no table list", [](MemoryDatabase& db) { db.failing_table = "_Tables"; },
         "Reading the _Tables table failed", true},
        {"media unreadable", [](MemoryDatabase& db) { db.failing_table = "Media"; },
         "Reading the Media table failed", true},
        {"attributes not a number", [](MemoryDatabase& db) { db.tables["File"].rows[0][6] = "compressed"; },
         "The File table's Attributes holds compressed, not an integer", true},
        {"a column missing", [](MemoryDatabase& db) { db.tables["Upgrade"].columns[6] = "Property"; },
         "no column ActionProperty", false},
        // The helper reads every table's text for references to the package's folder.
        {"a property table that fails", [](MemoryDatabase& db) { db.failing_table = "Property"; },
         "Reading the Property table failed", true},
        {"no column list", [](MemoryDatabase& db) { db.failing_table = "_Columns"; },
         "Reading the _Columns table failed", true},
        {"a custom action type not a number",
         [](MemoryDatabase& db) { custom_action(db, "Run", "x", "INSTALLDIR", "app.exe"); },
         "The CustomAction table's Type holds x, not an integer", true},
        {"no stream list", [](MemoryDatabase& db) { db.failing_table = "_Streams"; },
         "Reading the _Streams table failed", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDatabase db = sample_package();
        c.change(db);
        const std::vector<PackageFinding> expected = {
            error(FindingKind::unreadable_database, "The package cannot be read as an MSI database (" + c.reason +
                                                        "). Sign the .msi file that the authoring tool (WiX) built.")};
        EXPECT_EQ(inspect(db), expected);
        const auto checked = check_package_is_self_contained(db);
        if (c.layout) {
            ASSERT_FALSE(checked);
            EXPECT_EQ(checked.error(), "The downloaded update package is not a valid MSI file.");
        } else {
            EXPECT_TRUE(checked);
        }
    }
}

}  // namespace
}  // namespace vostrane
