// The helper exe end to end under Wine: exit codes, standard error, the helper
// log, the result file and the package, as the application observes them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwctype>

#include "helper_process.hpp"
#include "test_signing.hpp"
#include "update_security/update_signature.hpp"

namespace vostrane::testing {
namespace {

constexpr char kZeroDigest[] = "0000000000000000000000000000000000000000000000000000000000000000";

struct RunFiles {
    std::filesystem::path msi, log, result, install_dir;
};

RunFiles files_in(const TempDir& dir) {
    return {dir / L"update.msi", dir / L"logs\\helper.log", dir / L"result.json", dir / L"app"};
}

std::vector<std::wstring> arguments_for(const RunFiles& files, const std::wstring& sha256 = L"",
                                        const std::wstring& signature = L"c2ln") {
    return {L"--parent-process-id", L"0",
            L"--msi-path", wide(files.msi),
            L"--install-dir", wide(files.install_dir),
            L"--app-path", wide(files.install_dir / L"app.exe"),
            L"--msi-log-path", wide(files.msi) + L".log",
            L"--helper-log-path", wide(files.log),
            L"--result-path", wide(files.result),
            L"--expected-sha256", sha256.empty() ? std::wstring(kZeroDigest, kZeroDigest + 64) : sha256,
            L"--expected-version", L"1.4.0",
            L"--signature", signature,
            L"--key-id", L"vostrane-update-2026-01",
            L"--signature-algorithm", L"ed25519"};
}

// The log's messages; every line must have the "[seconds] " prefix.
std::vector<std::string> log_messages(const std::filesystem::path& log) {
    auto messages = parse_log(read_file(log));
    EXPECT_TRUE(messages) << "malformed log: " << read_file(log);
    return messages.value_or(std::vector<std::string>{});
}

TEST(HelperRun, OptionErrorsGoToStandardErrorAndTouchNothing) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, "--parent-process-id is required."},
        {{L"--parent-process-id", L"1", L"--result-path"}, "Missing value for --result-path"},
        {{L"result.json"}, "Unexpected argument: result.json"},
        {{L"--parent-process-id", L"-1"}, "--parent-process-id must be a process id."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        HelperRun run = run_helper(c.arguments);
        EXPECT_EQ(run.exit_code, 1603u);
        EXPECT_EQ(run.standard_error, c.message + "\n");
    }
}

TEST(HelperRun, IncompleteOptionsLeaveAnEarlierResultAndLogUntouched) {
    TempDir dir;
    RunFiles files = files_in(dir);
    std::filesystem::create_directories(files.log.parent_path());
    write_file(files.result, "earlier result");
    write_file(files.log, "earlier log");
    auto arguments = arguments_for(files);
    arguments.resize(arguments.size() - 2);  // no --signature-algorithm

    HelperRun run = run_helper(arguments);
    EXPECT_EQ(run.exit_code, 1603u);
    EXPECT_EQ(run.standard_error, "--signature-algorithm is required.\n");
    EXPECT_EQ(read_file(files.result), "earlier result");
    EXPECT_EQ(read_file(files.log), "earlier log");
}

TEST(HelperRun, UnpairedSurrogateStopsTheRunBeforeAnyFileIsTouched) {
    TempDir dir;
    RunFiles files = files_in(dir);
    write_file(files.result, "earlier result");
    auto arguments = arguments_for(files);
    arguments[21] = std::wstring(L"key") + wchar_t(0xD800);  // --key-id

    HelperRun run = run_helper(arguments);
    EXPECT_EQ(run.exit_code, 1603u);
    EXPECT_EQ(run.standard_error, "Command-line arguments are not valid Unicode.\n");
    EXPECT_EQ(read_file(files.result), "earlier result");
    EXPECT_FALSE(std::filesystem::exists(files.log.parent_path()));
}

TEST(HelperRun, HelperLogThatIsADirectoryIsAnEarlyFailureWithTheSystemsText) {
    TempDir dir;
    RunFiles files = files_in(dir);
    std::filesystem::create_directories(files.log);
    write_file(files.result, "earlier result");

    HelperRun run = run_helper(arguments_for(files));
    EXPECT_EQ(run.exit_code, 1603u);
    EXPECT_TRUE(is_os_error_description(run.standard_error.substr(0, run.standard_error.size() - 1)))
        << run.standard_error;
    EXPECT_TRUE(run.standard_error.ends_with(")\n"));
    EXPECT_EQ(read_file(files.result), "earlier result");
}

std::string statement(const std::string& version, const std::string& digest) {
    return "vostrane-update-v1\nkey-id:vostrane-update-2026-01\nversion:" + version + "\nsha256:" + digest + "\n";
}

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A package of these bytes, with the options for it signed by the development key.
std::vector<std::wstring> signed_package(const RunFiles& files, const std::string& bytes,
                                         const std::string& signed_version = "1.4.0") {
    write_file(files.msi, bytes);
    const std::string digest = sha256_hex(bytes);
    return arguments_for(files, widen(digest), widen(sign_with_development_key(statement(signed_version, digest))));
}

TEST(HelperRun, RejectedPackageIsDeletedLoggedAndReported) {
    struct Case {
        std::string name;
        std::vector<std::wstring> (*arrange)(RunFiles&);
        std::string message;
        bool package_remains;
    };
    const std::vector<Case> cases = {
        {"missing package", [](RunFiles& f) { return arguments_for(f); },
         "The downloaded update package is not a valid MSI file.", false},
        // A rejected download is removed whatever it turned out to be.
        {"existing file that is not an msi",
         [](RunFiles& f) {
             f.msi.replace_extension(L".txt");
             write_file(f.msi, "downloaded bytes");
             return arguments_for(f);
         },
         "The downloaded update package is not a valid MSI file.", false},
        {"directory named like a package",
         [](RunFiles& f) {
             std::filesystem::create_directories(f.msi);
             return arguments_for(f);
         },
         "The downloaded update package is not a valid MSI file.", true},
        {"digest mismatch",
         [](RunFiles& f) {
             write_file(f.msi, "not the expected bytes");
             return arguments_for(f);
         },
         "Update package SHA-256 verification failed.", false},
        {"signature over another version",
         [](RunFiles& f) { return signed_package(f, "package bytes", "1.4.1"); },
         "Update signature verification failed.", false},
        {"signature not Base64",
         [](RunFiles& f) {
             auto arguments = signed_package(f, "package bytes");
             arguments[19] = L"not base64!";
             return arguments;
         },
         "Update signature is not valid Base64.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        RunFiles files = files_in(dir);
        const auto arguments = c.arrange(files);
        write_file(files.result, "earlier result");

        HelperRun run = run_helper(arguments);
        EXPECT_EQ(run.exit_code, 1603u);
        EXPECT_EQ(run.standard_error, "");
        EXPECT_EQ(std::filesystem::exists(files.msi), c.package_remains);
        EXPECT_EQ(read_file(files.result),
                  R"({"status":"error","exitCode":1603,"message":")" + c.message + R"("})");
        const std::vector<std::string> expected = {"Vostrane native updater started.",
                                                   "Package verification failed: " + c.message};
        EXPECT_EQ(log_messages(files.log), expected);
    }
}

// This build has no wait, installer or relaunch yet: a verified package must
// not be reported as installed, so the run stops before the wait.
TEST(HelperRun, VerifiedPackageGoesOnToTheWaitAndIsKept) {
    if (update_public_key() != read_file(VOSTRANE_KEYS_DIR "/development-update-public-key.txt")) {
        GTEST_SKIP() << "this build embeds a publisher key; packages signed here with the development key cannot pass";
    }
    TempDir dir;
    RunFiles files = files_in(dir);
    auto arguments = signed_package(files, std::string(70000, 'p'));
    // The expected digest in capitals and with blanks around it still matches.
    std::wstring& sha256 = arguments[15];
    for (auto& c : sha256) c = static_cast<wchar_t>(std::towupper(c));
    sha256 = L" " + sha256 + L"\n";
    write_file(files.result, "earlier result");

    HelperRun run = run_helper(arguments);
    EXPECT_EQ(run.exit_code, 1603u);
    EXPECT_EQ(run.standard_error,
              "Waiting for the application and installing the update are not available in this build.\n");
    EXPECT_TRUE(std::filesystem::exists(files.msi));
    EXPECT_FALSE(std::filesystem::exists(files.result));
    EXPECT_EQ(log_messages(files.log), std::vector<std::string>{"Vostrane native updater started."});
}

}  // namespace
}  // namespace vostrane::testing
