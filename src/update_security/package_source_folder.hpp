#pragma once
// Authoring that makes Windows Installer copy, read or run something that the
// signature does not cover. For an update the first such place is the folder
// the package was started from: the download folder, which anyone who can
// write there can fill. Windows Installer names it, and the package file in
// it, through SourceDir and SOURCEDIR (the folder), OriginalDatabase and
// DATABASE (the package's path) and CURRENTDIRECTORY (where msiexec was
// started, which may be the same); what is set from them is as much the
// folder. Which names hold what is evaluated from the package's own tables
// (package_values.hpp, formatted_text.hpp), so a name built from pieces,
// [[A][B]], or escaped, [\S]ourceDir, is the folder as well.
//
// Two rules, one finding per row:
//   - Anywhere: what may resolve to the folder, in any text column of any
//     table (a registry value, a shortcut, an INI entry, a property's value;
//     every reference, not the first) or as the bare name in a column that
//     names a folder or property to use (the MoveFile folders, a component's
//     directory, a shortcut's working folder, ...), is an error.
//   - Where Windows Installer copies, reads or runs something, what the value
//     may resolve to must be the package's own: a folder it installs to, a
//     file it installs ([#Key]), or a protected folder of Windows
//     (SystemFolder, ProgramFilesFolder and their kin); in a package installed
//     per machine not the user's profile either (TempFolder, AppDataFolder,
//     ...), which every program of the user can write and which would reach
//     code that runs elevated. An environment variable, a value found on the
//     machine, or anything the evaluation cannot pin down is an error there.
//     A command line counts as a whole: a protected program handed a script
//     from [%TEMP] runs that script. The places, from the Windows Installer
//     reference:
//       - MoveFile: SourceFolder (a property) and SourceName;
//       - custom actions by base type (the low six bits, option bits aside):
//         34's working folder (Source) and command line (Target); a program,
//         script or DLL taken from a property (Source of 50, 53, 54 and any
//         other with the property source bits but 51); the command line
//         (Target) of the programs 2, 18, 34, 50 and of the nested install 7;
//       - data handed to the package's own code: a deferred action's
//         CustomActionData (the property named after the action, set by a
//         type-51 action or the Property table) and the command-line
//         properties of WiX's quiet and silent execution actions
//         (WixQuietExecCmdLine, WixQuietExec64CmdLine, WixSilentExecCmdLine,
//         WixSilentExec64CmdLine);
//       - the arguments a service is installed or started with (ServiceInstall's
//         and ServiceControl's Arguments), MsiEmbeddedChainer's CommandLine.
//     A nested install from the source tree (type 23) or of a product already
//     on the machine (type 39) is an error whatever it names.
// The Directory table's DefaultDir is not a reference: the "SourceDir" there
// is the root's name on the source side, which every package has. Tables
// named "_..." are the database's own (_Validation and the like), which
// Windows Installer does not act on.
//
// A component that may run from source (msidbComponentAttributesSourceOnly or
// msidbComponentAttributesOptional) is refused as well: Windows Installer
// would leave its files in that folder and register them there, so what later
// runs them runs whatever lies beside the package.
//
// Not seen: what code (a DLL, script or program custom action) asks for or
// sets while it runs, and the conditions under which an action runs (every
// value a name may take counts).
#include <string>
#include <vector>

#include "database_text.hpp"
#include "formatted_text.hpp"
#include "install_scope.hpp"
#include "result.hpp"

namespace vostrane {

struct SourceFolderUse {
    enum class Kind { reference, moved_files, nested_install, nested_product, run_from_source };
    Kind kind = Kind::reference;
    std::string table, column, row;
    std::string refers_to;  // "[SourceDir]" in formatted text, "SourceDir" bare
    std::string set_by;     // for a name set from the origin: what sets it and from what
    Origin origin = Origin::source_folder;

    bool operator==(const SourceFolderUse&) const = default;
};

// What refers to the folder, or reaches outside the package where something is
// copied or run, table by table (in name order), row by row: a row's first
// such column.
Result<std::vector<SourceFolderUse>> source_folder_uses(const DatabaseText& text, InstallScope scope);

// The error finding's text: where, why, and how to fix the authoring.
std::string source_folder_use_text(const SourceFolderUse& use);

}  // namespace vostrane
