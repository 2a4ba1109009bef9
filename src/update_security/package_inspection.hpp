#pragma once
// What an MSI package's own tables say about installing it as an update.
//
// The update signature covers the package file only. Windows Installer reads
// a cabinet that is not embedded, and files that are not compressed, from the
// package's folder, which nobody checked; so both are errors, and the helper
// refuses such a package. The signing tool reports the rest too: a package
// without an INSTALLDIR directory ignores the INSTALLDIR=<folder> the helper
// passes, and one that does not refuse newer installed versions can be
// replayed to downgrade the application.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "interface_texts.hpp"
#include "msi_database.hpp"
#include "package_source_folder.hpp"
#include "result.hpp"

namespace vostrane {

enum class FindingLevel { error, warning, information };

// "error", "warning" or "information".
std::string_view finding_level_name(FindingLevel level);

enum class FindingKind {
    not_an_msi_file,
    unreadable_database,
    external_cabinet,
    uncompressed_files,
    source_folder,
    no_install_dir,
    version_differs,
    no_upgrade_code,
    no_downgrade_refusal,
    no_authenticode_signature,
    install_scope,
    install_dir_lock,
};

struct PackageFinding {
    FindingLevel level;
    FindingKind kind;
    std::string text;

    bool operator==(const PackageFinding&) const = default;
};

// What the inspection reads from the database, before anything is decided.
struct PackageFacts {
    struct Media {
        std::string disk_id;
        std::string cabinet;  // "#name" for a cabinet embedded in the package
    };
    struct File {
        std::string name;  // the File table's key
        std::uint32_t attributes = 0;
    };
    struct Upgrade {
        std::string upgrade_code, version_min, action_property;
        std::uint32_t attributes = 0;
    };

    std::optional<std::int32_t> word_count;  // summary information PID 15
    std::vector<Media> media;
    std::vector<File> files;
    std::vector<std::string> directories;
    std::vector<std::pair<std::string, std::string>> properties;  // Property table, in its order
    std::vector<Upgrade> upgrades;
    std::vector<std::string> launch_conditions;
    // Conditions under which an error custom action (type 19) runs in the
    // install sequences.
    std::vector<std::string> error_action_conditions;
    // The tables where VOSTRANE_INSTALLDIR_LOCK occurs, in a fixed order.
    std::vector<std::string> tables_naming_lock;
    // What would take files from the folder the package was started from, or
    // copy or run something from outside the package's own and Windows'
    // protected folders.
    std::vector<SourceFolderUse> source_folder_uses;
    // Whether the file carries an Authenticode signature (the stream
    // "\005DigitalSignature").
    bool authenticode_signed = false;

    [[nodiscard]] std::optional<std::string> property(std::string_view name) const;
};

// The inspection's bit and attribute values (Windows Installer's own).
inline constexpr std::uint32_t kWordCountCompressed = 0x2;        // files are compressed by default
inline constexpr std::uint32_t kWordCountNoElevation = 0x8;       // elevated privileges are not required
inline constexpr std::uint32_t kFileNoncompressed = 0x2000;       // msidbFileAttributesNoncompressed
inline constexpr std::uint32_t kFileCompressed = 0x4000;          // msidbFileAttributesCompressed
inline constexpr std::uint32_t kUpgradeOnlyDetect = 0x2;          // msidbUpgradeAttributesOnlyDetect
inline constexpr std::uint32_t kSummaryWordCount = 15;            // PID_WORDCOUNT
inline constexpr std::string_view kDigitalSignatureStream = "\005DigitalSignature";

Result<PackageFacts> read_package_facts(MsiDatabaseReader& reader);

// The findings, errors first, then warnings, then information. Without a
// signed version the version is not compared.
std::vector<PackageFinding> package_findings(const PackageFacts& facts,
                                             std::optional<std::string_view> signed_version);

// Reads and judges; a database that cannot be read is itself an error finding.
std::vector<PackageFinding> inspect_package(MsiDatabaseReader& reader, std::optional<std::string_view> signed_version);

// The error finding for a database that cannot be opened or read, and why.
PackageFinding unreadable_database_finding(std::string_view reason);

// The helper's inspection: fails with kPackageRefersToOutsideFiles when
// Windows Installer would read any part of the package from outside the file,
// take anything from the folder it was started from, or copy or run something
// from outside the package's own and Windows' protected folders, and with
// kNotAnMsiPackage when the database cannot be read.
Status check_package_is_self_contained(MsiDatabaseReader& reader);

// A version as Windows Installer compares it: the first three of up to four
// dot-separated decimal fields, each at most 65535; missing fields are 0.
using InstallerVersion = std::array<std::uint32_t, 3>;
std::optional<InstallerVersion> parse_installer_version(std::string_view text);

// Whether Windows Installer takes the two texts for the same version; text
// that is not a version equals nothing.
bool same_installer_version(std::string_view a, std::string_view b);

// Both texts are versions, and not the same one: the package would install
// another version than the one signed. The signing tool and the helper both
// refuse it; text that is not a version is left to the publisher.
bool contradicts_signed_version(std::string_view product_version, std::string_view signed_version);

}  // namespace vostrane
