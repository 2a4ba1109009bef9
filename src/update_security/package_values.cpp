#include "package_values.hpp"

#include <algorithm>
#include <array>
#include <optional>

namespace vostrane {
namespace {

constexpr std::array<std::string_view, 5> kSourceFolderProperties = {"SourceDir", "SOURCEDIR", "OriginalDatabase",
                                                                     "DATABASE", "CURRENTDIRECTORY"};
// Folders of Windows and of installed programs, which only administrators
// change.
constexpr std::array<std::string_view, 9> kSystemFolders = {
    "SystemFolder",       "System64Folder",    "System16Folder",      "WindowsFolder",       "FontsFolder",
    "ProgramFilesFolder", "ProgramFiles64Folder", "CommonFilesFolder", "CommonFiles64Folder"};
// The user's profile: every program the user runs can write there.
constexpr std::array<std::string_view, 16> kPerUserFolders = {
    "TempFolder",     "AppDataFolder",   "LocalAppDataFolder", "PersonalFolder", "DesktopFolder",   "StartMenuFolder",
    "ProgramMenuFolder", "StartupFolder", "FavoritesFolder",   "SendToFolder",   "TemplateFolder",  "MyPicturesFolder",
    "NetHoodFolder",  "PrintHoodFolder", "RecentFolder",       "AdminToolsFolder"};
// Shared by all users, and any of them may add files there: ProgramData and
// the root of the Windows drive. Taken as unknown.
constexpr std::array<std::string_view, 2> kSharedWritableFolders = {"CommonAppDataFolder", "WindowsVolume"};

// The custom action types that set a name: the base type is the low six bits.
constexpr std::uint32_t kBaseTypeMask = 0x3F;
constexpr std::uint32_t kSetDirectory = 35;
constexpr std::uint32_t kSetProperty = 51;

bool is_one_of(std::string_view name, std::span<const std::string_view> names) {
    return std::ranges::find(names, name) != names.end();
}

// The origin Windows Installer gives one of its own folder names.
std::optional<Origin> own_origin(std::string_view name) {
    if (is_one_of(name, kSourceFolderProperties)) return Origin::source_folder;
    if (is_one_of(name, kSystemFolders)) return Origin::system_folder;
    if (is_one_of(name, kPerUserFolders)) return Origin::per_user_folder;
    if (is_one_of(name, kSharedWritableFolders)) return Origin::unknown;
    return std::nullopt;
}

// A folder below one of this value's: below a system folder the package's
// own; below anything else, as that is.
Value folder_below(const Value& parent) {
    Value below;
    for (Alternative alternative : parent) {
        for (Piece& piece : alternative) {
            if (!piece.origin) continue;
            if (*piece.origin == Origin::system_folder) piece.origin = Origin::installed_folder;
            piece.text.clear();
            piece.set_by.clear();
        }
        below.insert(std::move(alternative));
    }
    return below;
}

// What a setter's line in a finding says: "custom action SetTool sets from [FROM]".
std::string described(std::string_view setter, const Piece& piece) {
    return piece.text.empty() ? std::string(setter) : std::string(setter) + " from " + piece.text;
}

}  // namespace

bool is_source_folder_property(std::string_view name) { return is_one_of(name, kSourceFolderProperties); }

Result<PackageValues> PackageValues::of(const DatabaseText& text) {
    PackageValues values;
    auto read = each_row<1>(text, "File", {"File"}, [&](const auto& row) -> Status {
        values.files_.emplace(row[0]);
        return {};
    });
    RETURN_IF_FAILED(read);
    read = each_row<2>(text, "Component", {"Component", "Directory_"}, [&](const auto& row) -> Status {
        values.component_folders_.emplace(row[0], row[1]);
        return {};
    });
    RETURN_IF_FAILED(read);
    // The first pass only learns which names the package sets: until then a
    // name it sets later would look unknown.
    bool changed = true;
    RETURN_IF_FAILED(values.take_values_once(text, changed));
    for (auto& [name, named] : values.names_) named = Named{};
    for (changed = true; changed;) {
        changed = false;
        RETURN_IF_FAILED(values.take_values_once(text, changed));
    }
    return values;
}

Status PackageValues::take_values_once(const DatabaseText& text, bool& changed) {
    const auto set = [&](std::string_view name, const Value& value, std::string_view setter) {
        if (!name.empty() && add(name, value, setter)) changed = true;
    };
    auto read = each_row<2>(text, "Property", {"Property", "Value"}, [&](const auto& row) -> Status {
        set(row[0], evaluate_formatted(row[1], *this), "the Property table sets");
        return {};
    });
    if (!read) return read;
    read = each_row<4>(text, "CustomAction", {"Action", "Type", "Source", "Target"}, [&](const auto& row) -> Status {
        auto type = integer_column_value(row[1], "CustomAction", "Type");
        RETURN_IF_FAILED(type);
        const std::uint32_t base = *type & kBaseTypeMask;
        if (base == kSetProperty || base == kSetDirectory) {
            set(row[2], evaluate_formatted(row[3], *this), "custom action " + std::string(row[0]) + " sets");
        }
        return {};
    });
    if (!read) return read;
    read = each_row<2>(text, "Directory", {"Directory", "Directory_Parent"}, [&](const auto& row) -> Status {
        if (own_origin(row[0])) return {};
        if (row[1].empty() || row[1] == row[0]) {
            set(row[0], value_from(Origin::installed_folder), "");
        } else {
            set(row[0], folder_below(property(row[1])), "the Directory table places below " + std::string(row[1]));
        }
        return {};
    });
    if (!read) return read;
    read = each_row<2>(text, "AppSearch", {"Property", "Signature_"}, [&](const auto& row) -> Status {
        set(row[0], value_from(Origin::machine_search),
            "AppSearch sets from what it finds on the machine (signature " + std::string(row[1]) + ")");
        return {};
    });
    if (!read) return read;
    if (const auto* ccp = text.find("CCPSearch"); ccp != nullptr && !ccp->rows.empty()) {
        set("CCP_DRIVE", value_from(Origin::machine_search), "CCPSearch sets from what it finds on the machine");
    }
    return {};
}

bool PackageValues::add(std::string_view name, const Value& value, std::string_view setter) {
    auto [entry, added] = names_.try_emplace(std::string(name));
    Named& named = entry->second;
    if (named.saturated) return added;
    bool changed = added;
    for (const Alternative& alternative : value) {
        for (const Piece& piece : alternative) {
            if (piece.origin) named.set_by.try_emplace(*piece.origin, described(setter, piece));
        }
        changed = named.value.insert(alternative).second || changed;
    }
    if (named.value.size() > kMostAlternatives) {
        named.value = value_from(Origin::unknown);
        named.set_by[Origin::unknown] = std::string(setter) + " in more ways than the inspection follows";
        named.saturated = true;
    }
    return changed;
}

Value PackageValues::property(std::string_view name) const {
    const auto origin = own_origin(name);
    Value value = origin ? value_from(*origin) : Value{};
    const auto found = names_.find(name);
    if (found == names_.end()) return origin ? value : value_from(Origin::unknown);
    // Not set yet in this pass, or only from itself: blank, as an unset
    // property is.
    if (found->second.value.empty()) value.insert(Alternative{});
    for (Alternative alternative : found->second.value) {
        for (Piece& piece : alternative) {
            if (piece.origin) piece.set_by = found->second.set_by.at(*piece.origin);
        }
        value.insert(std::move(alternative));
    }
    return value;
}

Value PackageValues::file(std::string_view key) const {
    return files_.contains(key) ? value_from(Origin::package_file) : Value{Alternative{}};
}

Value PackageValues::component_folder(std::string_view key) const {
    const auto found = component_folders_.find(key);
    return found == component_folders_.end() ? Value{Alternative{}} : property(found->second);
}

}  // namespace vostrane
