#pragma once
// Every text and number that the application, its support staff or whoever
// starts the helper relies on byte for byte, each once, grouped by the step
// that produces it. "{}" marks where a value goes; the code that fills it in
// is named beside each group.
#include <cstdint>
#include <string>
#include <string_view>

namespace vostrane {

// ---- Exit codes and fixed numbers -----------------------------------------
// Windows Installer's code for a fatal installation error; also the helper's
// code for a rejected package and every early failure.
inline constexpr std::uint32_t kFatalExitCode = 1603;
// Windows Installer's codes for success that has started, or needs, a Windows restart.
inline constexpr std::int32_t kRestartInitiatedCode = 1641;
inline constexpr std::int32_t kRestartRequiredCode = 3010;
// The application has this long to exit: one wait, no retry.
inline constexpr std::uint32_t kParentWaitMilliseconds = 90000;

// ---- Options (early failures, on standard error; options.cpp) --------------
inline constexpr std::string_view kUnexpectedArgument = "Unexpected argument: ";  // {} the trimmed name
inline constexpr std::string_view kMissingValueFor = "Missing value for ";  // {} the trimmed name
inline constexpr std::string_view kIsRequired = " is required.";  // after "--{name}"
inline constexpr std::string_view kNotAProcessId = "--parent-process-id must be a process id.";
inline constexpr std::string_view kMustNotAddArguments = " must not contain a double quote or a control character.";
inline constexpr std::string_view kArgumentsNotUnicode = "Command-line arguments are not valid Unicode.";

// ---- The helper log (run_update.cpp, parent_wait.cpp, application_restart.cpp)
inline constexpr std::string_view kStarted = "Vostrane native updater started.";
inline constexpr std::string_view kPackageVerificationFailed = "Package verification failed: ";  // {} the check's message
inline constexpr std::string_view kPreviousProcessExited = "The previous process has already exited.";
inline constexpr std::string_view kWaitingForProcess = "Waiting for process ";  // {} the id, then kToExit
inline constexpr std::string_view kToExit = " to exit.";
inline constexpr std::string_view kInstallerNotFound = "Windows Installer was not found.";
inline constexpr std::string_view kStartingInstaller = "Starting Windows Installer.";
inline constexpr std::string_view kInstallerExitedWithCode = "Windows Installer exited with code ";  // {} then "."
// Logged, and the "error" outcome's message, when the installer reported
// success but what it registered is not the package that was checked.
inline constexpr std::string_view kCheckedPackageNotInstalled =
    "Windows Installer did not install the package that was checked.";
inline constexpr std::string_view kApplicationNotFoundForRestart =
    "The application executable was not found for restart.";
inline constexpr std::string_view kRestartRequestedThrough = "Application restart requested through ";  // {} the shell
inline constexpr std::string_view kWithProcessId = " with process id ";  // {} the id, then "."
inline constexpr std::string_view kRestartFailed = "Application restart failed: ";  // {} the launch error

// ---- Early failures after the log is set up (standard error; run_update.cpp)
inline constexpr std::string_view kParentDidNotExit = "The previous application process did not exit in time.";
inline constexpr std::string_view kParentWaitFailed = "Waiting for the previous application process failed.";
inline constexpr std::string_view kInstallerCouldNotStart = "Windows Installer could not be started: ";  // {} the launch error

// ---- The result document (result_document.cpp writes and reads it; run_update.cpp picks the outcome)
inline constexpr std::string_view kStatusSuccess = "success";
inline constexpr std::string_view kStatusRestartRequired = "restartRequired";
inline constexpr std::string_view kStatusRestartInitiated = "restartInitiated";
inline constexpr std::string_view kStatusError = "error";
inline constexpr std::string_view kRestartRequiredMessage = "Windows restart is required to finish the update.";
inline constexpr std::string_view kRestartInitiatedMessage = "Windows has started a restart to finish the update.";

// ---- Package checks (the rejected package's message, in the log and the result)
inline constexpr std::string_view kNotAnMsiPackage = "The downloaded update package is not a valid MSI file.";
inline constexpr std::string_view kDigestMismatch = "Update package SHA-256 verification failed.";
inline constexpr std::string_view kPackageNotLocal = "The update package must be on a local disk.";
inline constexpr std::string_view kPackageReplaced = "The update package was replaced after it was checked.";
// An external cabinet or uncompressed files: Windows Installer would read them
// from beside the package, where the signature does not reach.
inline constexpr std::string_view kPackageRefersToOutsideFiles = "The update package refers to files outside itself.";
// The package's ProductVersion and --expected-version are both versions, and
// differ: Windows Installer would install another version than the one signed.
inline constexpr std::string_view kPackageNotSignedVersion = "The update package is not the version that was signed.";
// Windows Installer has the package's product registered from a package with
// the checked package's code before the run: what the installer would then do
// could not be told from what was there.
inline constexpr std::string_view kPackageAlreadyInstalled = "The update package is already installed.";
inline constexpr std::string_view kUnsupportedAlgorithm = "Unsupported update signature algorithm.";
inline constexpr std::string_view kInvalidSignatureMetadata = "Update signature metadata is invalid.";
inline constexpr std::string_view kInvalidEmbeddedKey = "The embedded update public key is invalid.";
inline constexpr std::string_view kSignatureNotBase64 = "Update signature is not valid Base64.";
inline constexpr std::string_view kInvalidSignatureLength = "Update signature has an invalid length.";
inline constexpr std::string_view kSignatureVerificationFailed = "Update signature verification failed.";

// ---- The signed update statement (update_signature.cpp), what the publisher signs
inline constexpr std::string_view kAcceptedSignatureAlgorithm = "ed25519";
inline constexpr std::string_view kAcceptedKeyId = "vostrane-update-2026-01";
// "vostrane-update-v1\nkey-id:{}\nversion:{}\nsha256:{}\n"
inline constexpr std::string_view kStatementHeader = "vostrane-update-v1\n";
inline constexpr std::string_view kStatementKeyId = "key-id:";
inline constexpr std::string_view kStatementVersion = "version:";
inline constexpr std::string_view kStatementSha256 = "sha256:";

// ---- The programs the helper starts, and the installer's command line
// (installer.cpp, application_restart.cpp)
inline constexpr std::u16string_view kInstallerProgram = u"msiexec.exe";  // in SystemRoot\System32
inline constexpr std::u16string_view kShellProgram = u"explorer.exe";     // in SystemRoot
inline constexpr std::u16string_view kInstallDirProperty = u"INSTALLDIR=";  // {} the installation directory
// The lock property the package may honour, set to 1 on the installer's command line.
inline constexpr std::string_view kInstallDirLockName = "VOSTRANE_INSTALLDIR_LOCK";

// ---- The application's client library (src/client), its errors
inline constexpr std::string_view kManifestNotValid = "The feed manifest is not valid: ";  // {} why, then "."
inline constexpr std::string_view kResultNotValid = "The update result is not a valid result document: ";  // {} why, "."
inline constexpr std::string_view kPackageSizeDiffers =
    "The downloaded update package does not have the size the feed manifest gives.";
// {} the helper log's path, then "."
inline constexpr std::string_view kUpdateEndedWithoutResult =
    "The update ended without a result (the application did not exit in time, or Windows Installer could not be "
    "started); see the helper log ";
inline constexpr std::string_view kCannotRead = "Cannot read ";  // {} the path, ": ", the error
inline constexpr std::string_view kCannotDelete = "Cannot delete ";  // {} the path, ": ", the error
inline constexpr std::string_view kUpdateFolderInInstallation =
    "The update folder must lie outside the installation folder.";
inline constexpr std::string_view kUpdateFolderNotMade = "The update folder could not be made: ";  // {} the error
inline constexpr std::string_view kHelperNotCopied = "The update helper could not be copied: ";  // {} the error
inline constexpr std::string_view kHelperNotStarted = "The update helper could not be started: ";  // {} the error
inline constexpr std::string_view kIsMissing = " is missing.";  // after the name of an argument given as null
inline constexpr std::string_view kNotUtf8 = " is not valid UTF-8.";  // after the name of an argument
inline constexpr std::string_view kTooLongFor = " is too long for its field.";  // after the name of a value
// After the name of a path argument that is relative to a current directory.
inline constexpr std::string_view kNotFullPath =
    " must be a full path (a drive such as C:\\ or a share such as \\\\server\\share\\).";
inline constexpr std::string_view kHelperCopyChanged =
    "The update helper's copy was changed while it was made.";
inline constexpr std::string_view kHelperImageNotCopy =
    "The started update helper does not run its copy.";

// ---- Launch and write errors of the helper's own (io_error.cpp renders them)
inline constexpr std::string_view kProgramNotFound = "program not found";
inline constexpr std::string_view kProgramPathHasNoFileName = "program path has no file name";
inline constexpr std::string_view kNulByteInData = "nul byte found in provided data";
inline constexpr std::string_view kWorkingDirectoryTooLong = "working directory is too long and has no short form";
inline constexpr std::string_view kApplicationPathTooLong = "application path is too long and has no short form";
inline constexpr std::string_view kFailedToWriteWholeBuffer = "failed to write whole buffer";

}  // namespace vostrane
