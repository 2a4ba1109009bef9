#pragma once
// What an MSI package's own tables say, read once and kept as plain values:
// the package inspection judges them, the helper's lock takes the package's
// identity from them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "install_scope.hpp"
#include "msi_database.hpp"
#include "package_source_folder.hpp"
#include "result.hpp"

namespace vostrane {

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
    // Where Windows Installer registers the package: from ALLUSERS and MSIINSTALLPERUSER.
    [[nodiscard]] InstallScope install_scope() const;
};

// The inspection's bit and attribute values (Windows Installer's own).
inline constexpr std::uint32_t kWordCountCompressed = 0x2;        // files are compressed by default
inline constexpr std::uint32_t kWordCountNoElevation = 0x8;       // elevated privileges are not required
inline constexpr std::uint32_t kFileNoncompressed = 0x2000;       // msidbFileAttributesNoncompressed
inline constexpr std::uint32_t kFileCompressed = 0x4000;          // msidbFileAttributesCompressed
inline constexpr std::uint32_t kUpgradeOnlyDetect = 0x2;          // msidbUpgradeAttributesOnlyDetect
inline constexpr std::uint32_t kSummaryWordCount = 15;            // PID_WORDCOUNT
inline constexpr std::string_view kDigitalSignatureStream = "\005DigitalSignature";

// Every fact the inspection judges.
Result<PackageFacts> read_package_facts(MsiDatabaseReader& reader);

// The facts the helper judges before it installs: where the files come from
// (media, files, source folder uses), the directories and the properties,
// which also identify the package to Windows Installer.
Result<PackageFacts> read_installation_facts(MsiDatabaseReader& reader);

// A condition or value names the property when the name stands there as a
// whole word: not as part of a longer property name.
bool names_property(std::string_view text, std::string_view name);

}  // namespace vostrane
