#include "sign_tool.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "arguments.hpp"
#include "feed_manifest.hpp"
#include "tool_files.hpp"
#include "unicode.hpp"
#include "update_keys.hpp"
#include "update_security/msi_database.hpp"
#include "update_security/package_check.hpp"
#include "update_security/package_inspection.hpp"
#include "update_security/public_key.hpp"
#include "update_security/update_signature.hpp"

namespace vostrane::sign_tool {
namespace {

constexpr std::string_view kUsage =
    "Usage: vostrane-sign <command> [options]\n"
    "\n"
    "Keys and signatures for Vostrane update packages (Ed25519).\n"
    "\n"
    "Commands:\n"
    "  keygen     make a new key pair\n"
    "  check      report what a package's tables mean for an update\n"
    "  sign       check and sign an update package for one version\n"
    "  statement  print the exact bytes a signature covers, to sign them elsewhere\n"
    "  verify     check a package and signature exactly as the update helper does\n"
    "  digest     print a package's SHA-256 digest\n"
    "\n"
    "Run 'vostrane-sign <command> --help' for a command's options.\n";

constexpr std::string_view kKeygenHelp =
    "Usage: vostrane-sign keygen --private-key FILE --public-key FILE\n"
    "                            [--password-file FILE]\n"
    "\n"
    "Makes a new Ed25519 key pair. The private key is written as PKCS#8 PEM,\n"
    "readable and writable by its owner only; keep it secret. Without\n"
    "--password-file it is unencrypted; with it, it is encrypted with AES-256-CBC\n"
    "under the password (\"BEGIN ENCRYPTED PRIVATE KEY\", as openssl pkey -passin\n"
    "reads it). The public key is written as 64 lower-case hexadecimal digits and\n"
    "CR LF, the form that -DVOSTRANE_UPDATE_PUBLIC_KEY_FILE takes. Existing files\n"
    "are never overwritten.\n"
    "\n"
    "The password is the password file's content up to its first CR or LF, at\n"
    "most 1023 bytes; an empty password is refused. It is never printed. openssl's\n"
    "-passin file: ends the password at LF only: give it a file with LF line ends.\n";

constexpr std::string_view kCheckHelp =
    "Usage: vostrane-sign check FILE.msi [--version V] [--strict]\n"
    "\n"
    "Reads the package's tables and prints one line per finding, each starting\n"
    "with its level:\n"
    "  error        the package must not be signed: a cabinet that is not\n"
    "               embedded, files that are not compressed, or anything else\n"
    "               taken from the folder the package was started from ([SourceDir]\n"
    "               and the like: a MoveFile row, a program run from there, a nested\n"
    "               installation); Windows Installer would read it from beside the\n"
    "               package, where the signature does not reach, and the update\n"
    "               helper refuses such a package. Also no INSTALLDIR directory, no\n"
    "               readable MSI database, or a ProductVersion that is another\n"
    "               version than V (the first three fields compared as numbers, as\n"
    "               Windows Installer does), which the helper refuses too;\n"
    "  warning      a ProductVersion or V that is not a version of that form, or\n"
    "               no ProductVersion; no rule that refuses the package over a\n"
    "               newer installed version (an old package could be replayed); or\n"
    "               a per-machine package without an Authenticode signature;\n"
    "  information  per-user or per-machine, and whether the package refers to\n"
    "               VOSTRANE_INSTALLDIR_LOCK.\n"
    "Exits with 1 when there is an error, otherwise 0. --strict exits with 1 on\n"
    "a warning too.\n";

constexpr std::string_view kSignHelp =
    "Usage: vostrane-sign sign --private-key FILE [--password-file FILE]\n"
    "                          --version V --package FILE.msi\n"
    "                          [--format signature|options|json] [--strict]\n"
    "\n"
    "Checks the package as 'vostrane-sign check --version V' does and refuses\n"
    "one with an error; warnings go to standard error. --strict refuses one with\n"
    "a warning too (no downgrade rule, for one), for pipelines that accept no\n"
    "such risk. Then signs the statement that binds the key id, the version V\n"
    "and the package's SHA-256 digest.\n"
    "--format signature (the default) prints the 88-character Base64 signature;\n"
    "--format options prints the five option pairs the application passes to\n"
    "the update helper, one per line; --format json prints a feed manifest, one\n"
    "JSON object on one line with the keys version, sha256, signature, keyId,\n"
    "algorithm, fileName (the package's file name) and size (in bytes), in that\n"
    "order. A refused package prints nothing on standard output.\n"
    "\n"
    "An encrypted private key needs --password-file, with the password as keygen\n"
    "reads it (see 'vostrane-sign keygen --help'). An unencrypted key given with\n"
    "--password-file is refused, so that a key believed encrypted is noticed.\n";

constexpr std::string_view kStatementHelp =
    "Usage: vostrane-sign statement --version V --package FILE.msi\n"
    "\n"
    "Prints exactly the bytes that sign signs, and nothing else: the statement\n"
    "that binds the key id, the version V (trimmed of surrounding white space, as\n"
    "sign and the helper trim it) and the package's SHA-256 digest, with LF line\n"
    "ends. A key that never leaves a hardware token or a key service signs these\n"
    "bytes with pure Ed25519 (PKCS#11 mechanism CKM_EDDSA); 'vostrane-sign verify'\n"
    "then checks the signature in standard Base64.\n";

constexpr std::string_view kVerifyHelp =
    "Usage: vostrane-sign verify --public-key FILE --version V --package FILE\n"
    "                            --signature S\n"
    "\n"
    "Runs the update helper's package checks (MSI file, digest, signature) with\n"
    "the given public key and prints the helper's message. Exits with 0 only\n"
    "when the helper would accept the package. The signature may come from sign\n"
    "or from anything that signed the statement's bytes.\n";

constexpr std::string_view kDigestHelp =
    "Usage: vostrane-sign digest FILE\n"
    "\n"
    "Prints the SHA-256 digest of FILE as 64 lower-case hexadecimal digits, as\n"
    "the update helper computes it.\n";

void print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void print_line(std::string_view text) {
    print(text);
    print("\n");
}

int fail(std::string_view message, int exit_code = kExitFailure) {
    std::fprintf(stderr, "vostrane-sign: %.*s\n", static_cast<int>(message.size()), message.data());
    return exit_code;
}

int usage_error(std::string_view message, std::string_view help) {
    fail(message, kExitUsage);
    std::fwrite(help.data(), 1, help.size(), stderr);
    return kExitUsage;
}

// The findings for the package at `path`; one that is no existing *.msi file,
// or cannot be opened as a database, is an error of its own.
std::vector<PackageFinding> inspect_package_file(const std::string& path, std::optional<std::string_view> version) {
    if (!is_msi_package(path)) {
        return {{FindingLevel::error, FindingKind::not_an_msi_file,
                 "The package is not an existing file named *.msi, so the update helper refuses it."}};
    }
    auto database = open_msi_database(path);
    if (!database) return {unreadable_database_finding(database.error())};
    return inspect_package(**database, version);
}

std::string finding_line(const PackageFinding& finding) {
    return std::string(finding_level_name(finding.level)) + ": " + finding.text;
}

bool has_error(const std::vector<PackageFinding>& findings) {
    return std::ranges::any_of(findings, [](const PackageFinding& f) { return f.level == FindingLevel::error; });
}

bool has_warning(const std::vector<PackageFinding>& findings) {
    return std::ranges::any_of(findings, [](const PackageFinding& f) { return f.level == FindingLevel::warning; });
}

std::filesystem::path native_path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

bool file_exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(native_path(path), error));
}

// Permission bits as chmod writes them: 0644.
std::string octal_mode(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777u);
    return text;
}

// Group and others may neither read nor write a password file (as ssh
// requires of its private keys); only Linux says so through a mode.
Status check_password_file_mode(const KeyFileContent& content, const std::string& path) {
    if (!content.mode || (*content.mode & 066u) == 0) return {};
    return failure("Permissions " + octal_mode(*content.mode) + " for " + path +
                   " are too open: a password file must be readable and writable by its owner only (chmod 600 " +
                   path + ").");
}

// An unencrypted key that group or others may read is only warned about:
// the development key is public on purpose, and a checkout gives it the mode
// of every other file.
void warn_about_readable_unencrypted_key(const KeyFileContent& content, const std::string& path) {
    if (!content.mode || (*content.mode & 044u) == 0) return;
    fail("warning: " + path + " is an unencrypted private key that other users can read (permissions " +
         octal_mode(*content.mode) + "); keep it to its owner with chmod 600 " + path + ".");
}

// The password of --password-file, when the option is given.
Result<std::optional<KeyPassword>> password_option(const CommandArguments& arguments) {
    auto path = arguments.option("password-file");
    if (!path) return std::optional<KeyPassword>();
    auto content = read_key_file(*path);
    RETURN_IF_FAILED(content);
    RETURN_IF_FAILED(check_password_file_mode(*content, *path));
    auto password = KeyPassword::from_file_content(content->bytes, *path);
    RETURN_IF_FAILED(password);
    return std::optional<KeyPassword>(std::move(*password));
}

int keygen(const CommandArguments& arguments) {
    auto private_path = arguments.option("private-key");
    auto public_path = arguments.option("public-key");
    if (!private_path || !public_path) return usage_error("keygen needs --private-key and --public-key.", kKeygenHelp);
    if (*private_path == *public_path) return usage_error("The two key files must differ.", kKeygenHelp);
    // Check both first, so that a refusal never leaves half a pair behind.
    for (const std::string* path : {&*private_path, &*public_path}) {
        if (file_exists(*path)) return fail(*path + " already exists; keygen never overwrites a file.");
    }
    auto password = password_option(arguments);
    if (!password) return fail(password.error());

    auto pair = generate_update_key_pair(*password);
    if (!pair) return fail(pair.error());
    if (auto made = create_new_file(*private_path, pair->private_key_pem.text(), FileAccess::owner_only); !made) {
        return fail(made.error());
    }
    if (auto made = create_new_file(*public_path, pair->public_key_text, FileAccess::everyone_may_read); !made) {
        remove_created_file(*private_path);
        return fail(made.error());
    }
    print_line((*password ? "Private key (encrypted; keep it and its password secret): "
                          : "Private key (keep it secret): ") +
               *private_path);
    print_line("Public key: " + *public_path);
    return kExitSuccess;
}

// The version as the helper uses it: trimmed before it rebuilds the statement.
std::string signed_version(const std::string& version_option) {
    return std::string(trim_white_space(version_option));
}

// The package's digest, once it passes the checks the helper makes first.
Result<std::string> signable_package_digest(const std::string& package) {
    if (!is_msi_package(package)) {
        return failure(package + ": " + std::string(kNotAnMsiPackage) + " It must be an existing file named *.msi.");
    }
    auto digest = compute_package_digest(package);
    if (!digest) return failure(package + ": " + digest.error());
    return digest;
}

Result<FeedManifest> feed_manifest(const std::string& package, std::string version, std::string digest,
                                   std::string signature) {
    const std::filesystem::path path = native_path(package);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return failure(package + ": its size cannot be read (" + error.message() + ").");
    const std::u8string name = path.filename().u8string();
    FeedManifest manifest;
    manifest.version = std::move(version);
    manifest.sha256 = std::move(digest);
    manifest.signature = std::move(signature);
    manifest.key_id = kAcceptedKeyId;
    manifest.algorithm = kAcceptedSignatureAlgorithm;
    manifest.file_name.assign(name.begin(), name.end());
    manifest.size = size;
    return manifest;
}

int sign(const CommandArguments& arguments) {
    auto key_path = arguments.option("private-key");
    auto version_option = arguments.option("version");
    auto package = arguments.option("package");
    std::string format = arguments.option("format").value_or("signature");
    if (!key_path || !version_option || !package) {
        return usage_error("sign needs --private-key, --version and --package.", kSignHelp);
    }
    if (format != "signature" && format != "options" && format != "json") {
        return usage_error("--format is signature, options or json, not " + format + ".", kSignHelp);
    }
    std::string version = signed_version(*version_option);
    if (version.empty()) return usage_error("--version must not be empty.", kSignHelp);

    auto password = password_option(arguments);
    if (!password) return fail(password.error());
    auto pem = read_key_file(*key_path);
    if (!pem) return fail(pem.error());
    auto key = UpdateSigningKey::from_pem(pem->bytes.text(), *key_path, *password);
    if (!key) return fail(key.error());
    if (!key->was_encrypted()) warn_about_readable_unencrypted_key(*pem, *key_path);
    auto digest = signable_package_digest(*package);
    if (!digest) return fail(digest.error());
    // Standard output stays the signature or the options alone.
    const auto findings = inspect_package_file(*package, version);
    for (const auto& finding : findings) {
        if (finding.level != FindingLevel::information) fail(finding_line(finding));
    }
    if (has_error(findings)) return fail(*package + " was not signed: the errors above must be fixed in its authoring.");
    if (arguments.flag("strict") && has_warning(findings)) {
        return fail(*package + " was not signed: --strict refuses the warnings above.");
    }

    auto signature = key->sign(signed_update_statement(kAcceptedKeyId, version, *digest));
    if (!signature) return fail(signature.error());
    // Hand out only what the helper's own check accepts.
    if (auto verified = verify_update_signature_with_key(key->public_key_text(), version, *digest, *signature,
                                                         kAcceptedKeyId, kAcceptedSignatureAlgorithm);
        !verified) {
        return fail("The new signature does not verify: " + verified.error());
    }

    if (format == "signature") {
        print_line(*signature);
    } else if (format == "json") {
        auto manifest = feed_manifest(*package, version, *digest, *signature);
        if (!manifest) return fail(manifest.error());
        // Refused here, as the application would refuse it: a name that is no
        // bare file name on Windows (a backslash, a colon, a trailing dot).
        auto document = write_feed_manifest(*manifest);
        if (!document) return fail(*package + ": " + document.error());
        print_line(*document);
    } else {
        print_line("--expected-sha256 " + *digest);
        print_line("--expected-version " + version);
        print_line("--signature " + *signature);
        print_line("--key-id " + std::string(kAcceptedKeyId));
        print_line("--signature-algorithm " + std::string(kAcceptedSignatureAlgorithm));
    }
    return kExitSuccess;
}

int statement(const CommandArguments& arguments) {
    auto version_option = arguments.option("version");
    auto package = arguments.option("package");
    if (!version_option || !package) return usage_error("statement needs --version and --package.", kStatementHelp);
    std::string version = signed_version(*version_option);
    if (version.empty()) return usage_error("--version must not be empty.", kStatementHelp);
    auto digest = signable_package_digest(*package);
    if (!digest) return fail(digest.error());

    // The bytes go to a signer as they are: no line-end translation, and a
    // write that fails must not look like a statement.
    use_binary_standard_output();
    print(signed_update_statement(kAcceptedKeyId, version, *digest));
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return fail("Cannot write the statement to standard output.");
    return kExitSuccess;
}

int verify(const CommandArguments& arguments) {
    auto key_path = arguments.option("public-key");
    auto version = arguments.option("version");
    auto package = arguments.option("package");
    auto signature = arguments.option("signature");
    if (!key_path || !version || !package || !signature) {
        return usage_error("verify needs --public-key, --version, --package and --signature.", kVerifyHelp);
    }
    auto key_file = read_key_file(*key_path);
    if (!key_file) return fail(key_file.error());
    const std::string_view key_text = key_file->bytes.text();
    if (!is_update_public_key_text(key_text)) {
        return fail(*key_path + " is not an update public key: it must hold 64 lower-case hexadecimal digits "
                                "and CR LF, as keygen writes it.");
    }

    // The helper's checks in the helper's order, with the helper's messages.
    auto refuse = [](std::string_view message) {
        print_line(message);
        return kExitFailure;
    };
    if (!is_msi_package(*package)) return refuse(kNotAnMsiPackage);
    auto digest = compute_package_digest(*package);
    if (!digest) return refuse(digest.error());
    if (auto verified = verify_update_signature_with_key(key_text, *version, *digest, *signature, kAcceptedKeyId,
                                                         kAcceptedSignatureAlgorithm);
        !verified) {
        return refuse(verified.error());
    }
    print_line("The update package would be accepted.");
    return kExitSuccess;
}

int check(const CommandArguments& arguments) {
    if (arguments.positional.size() != 1) return usage_error("check needs exactly one FILE.", kCheckHelp);
    std::optional<std::string> version;
    if (auto option = arguments.option("version")) {
        version = std::string(trim_white_space(*option));
        if (version->empty()) return usage_error("--version must not be empty.", kCheckHelp);
    }
    const auto findings = inspect_package_file(arguments.positional.front(), version);
    for (const auto& finding : findings) print_line(finding_line(finding));
    const bool refused = has_error(findings) || (arguments.flag("strict") && has_warning(findings));
    return refused ? kExitFailure : kExitSuccess;
}

int digest(const CommandArguments& arguments) {
    if (arguments.positional.size() != 1) return usage_error("digest needs exactly one FILE.", kDigestHelp);
    auto digest = compute_package_digest(arguments.positional.front());
    if (!digest) return fail(arguments.positional.front() + ": " + digest.error());
    print_line(*digest);
    return kExitSuccess;
}

struct Command {
    std::string_view name;
    std::set<std::string, std::less<>> options;
    std::set<std::string, std::less<>> flags;
    std::string_view help;
    std::function<int(const CommandArguments&)> run;
};

const std::vector<Command>& commands() {
    static const std::vector<Command> all = {
        {"keygen", {"private-key", "public-key", "password-file"}, {}, kKeygenHelp, keygen},
        {"check", {"version"}, {"strict"}, kCheckHelp, check},
        {"sign", {"private-key", "password-file", "version", "package", "format"}, {"strict"}, kSignHelp, sign},
        {"statement", {"version", "package"}, {}, kStatementHelp, statement},
        {"verify", {"public-key", "version", "package", "signature"}, {}, kVerifyHelp, verify},
        {"digest", {}, {}, kDigestHelp, digest},
    };
    return all;
}

}  // namespace

int run_sign_tool(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return usage_error("No command given.", kUsage);
    const std::string& name = arguments.front();
    if (name == "--help" || name == "-h" || name == "help") {
        print(kUsage);
        return kExitSuccess;
    }
    for (const Command& command : commands()) {
        if (command.name != name) continue;
        auto parsed = parse_command_arguments({arguments.begin() + 1, arguments.end()}, command.options, command.flags);
        if (!parsed) return usage_error(parsed.error(), command.help);
        if (parsed->help) {
            print(command.help);
            return kExitSuccess;
        }
        if (command.name != "digest" && command.name != "check" && !parsed->positional.empty()) {
            return usage_error("Unexpected argument " + parsed->positional.front() + ".", command.help);
        }
        return command.run(*parsed);
    }
    return usage_error("Unknown command " + name + ".", kUsage);
}

}  // namespace vostrane::sign_tool
