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
#include "package_facts.hpp"
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
// The same judgement of facts already read (read_installation_facts).
Status check_self_contained(const PackageFacts& facts);

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
