#pragma once
// Authoring that makes Windows Installer copy, read or run something from the
// folder the package was started from: for an update, the download folder,
// which the signature does not cover and anyone who can write there can fill.
//
// The rule lists what a self-contained package may refer to rather than the
// rows known to be harmful. Windows Installer names that folder, and the
// package file in it, through a few properties: SourceDir and SOURCEDIR (the
// folder), OriginalDatabase and DATABASE (the package's own path), and
// CURRENTDIRECTORY (the folder msiexec was started in, which may be the same).
// Whatever is set from them is as much the folder: a property or directory set
// by a type-51 or type-35 custom action whose value refers to one, a property
// whose default value does, and every directory below such a directory; the
// set is closed under these. A package that carries all it installs needs none
// of them, so:
//   - a formatted reference [NAME] to one of them in any text column of any
//     table (a registry value, a shortcut, an INI entry, a custom action's
//     command line, a property's value), and
//   - a bare NAME in a column that names a folder or property to use (the
//     MoveFile table's folders, a component's directory, a shortcut's working
//     folder, the working folder of a type-34 or the program property of a
//     type-50 custom action, ...)
// is an error, and so is every nested installation from the source tree
// (type 23), whatever it names. The Directory table's DefaultDir is not a
// reference: the "SourceDir" there is the root's name on the source side,
// which every package has. Tables named "_..." are the database's own
// (_Validation and the like), which Windows Installer does not act on.
//
// A component that may run from source (msidbComponentAttributesSourceOnly or
// msidbComponentAttributesOptional) is refused as well: Windows Installer
// would leave its files in that folder and register them there, so what later
// runs them runs whatever lies beside the package.
//
// Not seen: code (a DLL, script or program custom action) that asks for one of
// these properties while it runs.
#include <string>
#include <vector>

#include "msi_database.hpp"
#include "result.hpp"

namespace vostrane {

// Every text and integer column of every table, as the rule reads them.
struct DatabaseText {
    struct Table {
        std::string name;
        std::vector<std::string> columns;
        std::vector<MsiRow> rows;  // the first value names the row
    };
    std::vector<Table> tables;
};

struct SourceFolderUse {
    enum class Kind { reference, moved_files, nested_install, run_from_source };
    Kind kind = Kind::reference;
    std::string table, column, row;
    std::string refers_to;  // "[SourceDir]" in formatted text, "SourceDir" bare
    std::string set_by;     // for a name set from the folder: what sets it and from what

    bool operator==(const SourceFolderUse&) const = default;
};

// The folder's properties, before anything set from them.
bool is_source_folder_property(std::string_view name);

// What refers to the folder, table by table (in name order), row by row: a
// row's first such column.
Result<std::vector<SourceFolderUse>> source_folder_uses(const DatabaseText& text);

// The error finding's text: where, why, and how to fix the authoring.
std::string source_folder_use_text(const SourceFolderUse& use);

}  // namespace vostrane
