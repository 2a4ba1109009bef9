#pragma once
// What a package's properties and directories can hold, as far as its own
// tables say: the names formatted text refers to, for the evaluation in
// formatted_text.hpp.
//
// A name takes every value that anything in the package gives it:
//   - the Property table's default (read as formatted text, which errs on the
//     side of seeing a reference),
//   - a type-51 custom action (a property) or a type-35 one (a directory),
//     whatever its option bits,
//   - the Directory table: a folder below its parent, the root a folder the
//     package installs to,
//   - AppSearch (its property) and CCPSearch (CCP_DRIVE): found on the machine,
//     whatever the locator tables (RegLocator, IniLocator, CompLocator,
//     DrLocator, Signature) look at.
// One value can be made of another (a property from a property an action
// sets), so the values are taken again until nothing changes.
//
// Windows Installer's own folder properties have their origin: the source
// folder's names (SourceDir, SOURCEDIR, OriginalDatabase, DATABASE,
// CURRENTDIRECTORY), the protected system folders, the user's profile
// folders, and the folders any user may write (CommonAppDataFolder,
// WindowsVolume, and below them). Anything else that nothing in the package
// sets is unknown: a public property from the command line, a property that
// code or Windows Installer sets, or nothing at all; the inspection cannot
// tell them apart.
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "database_text.hpp"
#include "formatted_text.hpp"
#include "result.hpp"

namespace vostrane {

// Windows Installer's own names for the folder a package was started from,
// before anything is set from them.
bool is_source_folder_property(std::string_view name);

class PackageValues final : public FormattedNames {
public:
    static Result<PackageValues> of(const DatabaseText& text);

    [[nodiscard]] Value property(std::string_view name) const override;
    [[nodiscard]] Value file(std::string_view key) const override;
    [[nodiscard]] Value component_folder(std::string_view key) const override;

private:
    struct Named {
        Value value;
        std::map<Origin, std::string> set_by;  // the first setter of each origin, and from what
        bool saturated = false;                // grew past what is followed: unknown
    };
    // Adds a setter's value; whether the name changed.
    bool add(std::string_view name, const Value& value, std::string_view setter);
    Status take_values_once(const DatabaseText& text, bool& changed);

    std::map<std::string, Named, std::less<>> names_;
    std::set<std::string, std::less<>> files_;
    std::map<std::string, std::string, std::less<>> component_folders_;
};

}  // namespace vostrane
