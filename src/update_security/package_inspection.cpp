#include "package_inspection.hpp"

#include <algorithm>
#include <charconv>

#include "unicode.hpp"

namespace vostrane {
namespace {

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

    if (facts.install_scope() == InstallScope::per_machine && !facts.authenticode_signed) {
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
    const auto facts = read_installation_facts(reader);
    if (!facts) return failure(std::string(kNotAnMsiPackage));
    return check_self_contained(*facts);
}

Status check_self_contained(const PackageFacts& facts) {
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
