#pragma once
// The files and options of one helper run, as the application would pass them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <string>
#include <vector>

#include "fresh_product.hpp"
#include "helper_process.hpp"
#include "test_signing.hpp"
#include "update_security/update_signature.hpp"

namespace vostrane::testing {

inline constexpr char kZeroDigest[] = "0000000000000000000000000000000000000000000000000000000000000000";

struct RunFiles {
    std::filesystem::path msi, log, result, install_dir, app, msi_log;
};

inline RunFiles files_in(const TempDir& dir) {
    return {dir / L"update.msi", dir / L"logs\\helper.log", dir / L"result.json", dir / L"app",
            dir / L"app\\app.exe", dir / L"update.msi.log"};
}

// Options for the files; the option values are given as the application
// gives them: a 4-byte parent id, a digest, a version and a signature.
struct RunOptions {
    std::wstring parent_process_id = L"0";
    std::wstring sha256 = std::wstring(kZeroDigest, kZeroDigest + 64);
    std::wstring version = L"1.0.0";
    std::wstring signature = L"c2ln";
};

inline std::vector<std::wstring> arguments_for(const RunFiles& files, const RunOptions& options = {}) {
    return {L"--parent-process-id", options.parent_process_id,
            L"--msi-path", files.msi.wstring(),
            L"--install-dir", files.install_dir.wstring(),
            L"--app-path", files.app.wstring(),
            L"--msi-log-path", files.msi_log.wstring(),
            L"--helper-log-path", files.log.wstring(),
            L"--result-path", files.result.wstring(),
            L"--expected-sha256", options.sha256,
            L"--expected-version", options.version,
            L"--signature", options.signature,
            L"--key-id", L"vostrane-update-2026-01",
            L"--signature-algorithm", L"ed25519"};
}

// The value that follows the option `name` in an argument list, to change it.
inline std::wstring& option_value(std::vector<std::wstring>& arguments, std::wstring_view name) {
    const auto found = std::find(arguments.begin(), arguments.end(), name);
    if (found == arguments.end() || found + 1 == arguments.end()) {
        throw std::logic_error("no option " + std::string(name.begin(), name.end()));
    }
    return *(found + 1);
}

// The log's messages; every line must have the "[seconds] " prefix.
inline std::vector<std::string> log_messages(const std::filesystem::path& log) {
    auto messages = parse_log(read_file(log));
    EXPECT_TRUE(messages) << "malformed log: " << read_file(log);
    return messages.value_or(std::vector<std::string>{});
}

inline std::string statement(const std::string& version, const std::string& digest) {
    return "vostrane-update-v1\nkey-id:vostrane-update-2026-01\nversion:" + version + "\nsha256:" + digest + "\n";
}

inline std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A package the build made with wixl: packages\NAME.msi.
inline std::filesystem::path built_package(const std::wstring& name) {
    return build_file(L"packages\\" + name + L".msi");
}

// A package that passes every check once signed: Windows Installer can read
// it, and it holds all its files. A product of its own, so that installing it
// leaves the sample application's versions alone, and a new one each time.
inline FreshProduct installable_package() { return FreshProduct(built_package(L"stand-in-app")); }

// Options for a package of these bytes, signed by the development key over
// `signed_version`, while the options expect `options.version`.
inline RunOptions signed_options(const std::string& bytes, const std::string& signed_version,
                                 RunOptions options = {}) {
    const std::string digest = sha256_hex(bytes);
    options.sha256 = widen(digest);
    options.signature = widen(sign_with_development_key(statement(signed_version, digest)));
    return options;
}

// A package of these bytes at files.msi, with the options for it signed by the development key.
inline std::vector<std::wstring> signed_package(const RunFiles& files, const std::string& bytes,
                                                const std::string& signed_version = "1.0.0") {
    write_file(files.msi, bytes);
    return arguments_for(files, signed_options(bytes, signed_version));
}

// Whether packages signed here with the development key can pass this build's check.
inline bool build_embeds_development_key() {
    return update_public_key() == read_file(VOSTRANE_KEYS_DIR "/development-update-public-key.txt");
}

}  // namespace vostrane::testing
