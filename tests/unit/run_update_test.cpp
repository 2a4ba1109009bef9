// The run's order, messages, outcomes and exit codes, with stand-ins for every
// step that touches the world. Each stand-in records what it was asked, in one
// shared journal, so the tests can check the order of the steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

#include "run_update.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

// Joins the arguments' text forms with single spaces.
template <class... Parts>
std::string words(const Parts&... parts) {
    std::ostringstream out;
    ((out << parts << ' '), ...);
    std::string text = out.str();
    text.pop_back();
    return text;
}

// Paths reach the steps in UTF-16; the journal shows them as UTF-8.
std::string text(std::u16string_view path) { return utf16_to_utf8_lossy(path); }

constexpr std::string_view kDigest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

std::vector<std::string> good_arguments() {
    return {"--parent-process-id", "4242",
            "--msi-path", "C:\\dl\\update.msi",
            "--install-dir", "C:\\Program Files\\Vostrane",
            "--app-path", "C:\\Program Files\\Vostrane\\vostrane.exe",
            "--msi-log-path", "C:\\dl\\msi.log",
            "--helper-log-path", "C:\\dl\\helper.log",
            "--result-path", "C:\\dl\\result.json",
            "--expected-sha256", std::string(kDigest),
            "--expected-version", "1.4.0",
            "--signature", "c2lnbmF0dXJl",
            "--key-id", "vostrane-update-2026-01",
            "--signature-algorithm", "ed25519"};
}

// What the stand-ins answer; a test changes the ones it is about.
struct StandInAnswers {
    Status prepare_result;
    bool is_msi = true;
    Status lock_result;
    Result<std::string> digest = std::string(kDigest);
    Status signature_result;
    Status inspection_result;
    Status wait_result;
    std::optional<std::u16string> installer = u"C:\\Windows\\System32\\msiexec.exe";
    Result<std::u16string> confirmed_package = std::u16string(u"C:\\dl\\update.msi");
    Result<std::int32_t> installer_exit = 0;
    Status installed_result;
};

// A stand-in package that notes each step, and its closing, in the journal.
class JournalledPackage final : public CheckedPackage {
public:
    JournalledPackage(std::u16string path, const StandInAnswers& answers, std::vector<std::string>& journal)
        : path_(std::move(path)), answers_(answers), journal_(journal) {}
    ~JournalledPackage() override { journal_.push_back("unlock"); }

    Result<std::string> digest() override {
        journal_.push_back("digest");
        return answers_.digest;
    }
    Status check_contents(std::string_view signed_version) override {
        journal_.push_back("inspect " + std::string(signed_version));
        return answers_.inspection_result;
    }
    [[nodiscard]] Result<std::u16string> confirm_installer_path() const override {
        journal_.push_back("confirm");
        return answers_.confirmed_package;
    }
    void release() override { journal_.push_back("release"); }
    void delete_if_unchanged() const override { journal_.push_back("delete " + text(path_)); }
    [[nodiscard]] Status confirm_installed() const override {
        journal_.push_back("installed?");
        return answers_.installed_result;
    }

private:
    std::u16string path_;
    const StandInAnswers& answers_;
    std::vector<std::string>& journal_;
};

class RecordingSteps final : public UpdateWorld, public StandInAnswers {
public:
    // What they were asked, in order.
    std::vector<std::string> journal;
    std::vector<std::string> log_lines;
    std::optional<UpdateOutcome> written;

    Status prepare_helper_log(const std::u16string& path) override {
        journal.push_back("prepare " + text(path));
        return prepare_result;
    }
    void append_log_line(const std::u16string& path, std::string_view message) override {
        journal.push_back("log " + text(path) + ": " + std::string(message));
        log_lines.emplace_back(message);
    }
    void clear_result_file(const std::u16string& path) override { journal.push_back("clear " + text(path)); }
    void write_result_file(const std::u16string& path, const UpdateOutcome& outcome) override {
        journal.push_back("write " + text(path));
        EXPECT_FALSE(written) << "the outcome is written once";
        written = outcome;
    }
    bool is_msi_package(const std::u16string& path) override {
        journal.push_back("is_msi " + text(path));
        return is_msi;
    }
    Result<std::unique_ptr<CheckedPackage>> lock_package(const std::u16string& path) override {
        journal.push_back("lock " + text(path));
        if (!lock_result) return failure(lock_result.error());
        return std::make_unique<JournalledPackage>(path, *this, journal);
    }
    Status verify_update_signature(std::string_view version, std::string_view digest_text, std::string_view signature,
                                   std::string_view key_id, std::string_view algorithm) override {
        journal.push_back(words("verify", version, digest_text, signature, key_id, algorithm));
        return signature_result;
    }
    Status wait_for_parent_exit(std::uint32_t process_id, const std::u16string& log_path) override {
        journal.push_back(words("wait", process_id, text(log_path)));
        return wait_result;
    }
    std::optional<std::u16string> locate_installer() override {
        journal.push_back("locate");
        return installer;
    }
    Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                       const std::u16string&, const std::u16string&) override {
        journal.push_back(words("install", utf16_to_utf8_lossy(program), utf16_to_utf8_lossy(package_path)));
        return installer_exit;
    }
    void restart_application(const std::u16string& app_path, const std::u16string&,
                             const std::u16string& log_path) override {
        journal.push_back(words("restart", text(app_path), text(log_path)));
    }

    [[nodiscard]] bool called(std::string_view prefix) const {
        for (const auto& entry : journal) {
            if (entry.starts_with(prefix)) return true;
        }
        return false;
    }
    // Position of the first journal entry with this prefix, or -1.
    [[nodiscard]] int position(std::string_view prefix) const {
        for (std::size_t i = 0; i < journal.size(); ++i) {
            if (journal[i].starts_with(prefix)) return static_cast<int>(i);
        }
        return -1;
    }
    // Every step ran, each after the one before it.
    [[nodiscard]] ::testing::AssertionResult ran_in_order(std::initializer_list<std::string_view> prefixes) const {
        int previous = -1;
        for (std::string_view prefix : prefixes) {
            const int at = position(prefix);
            if (at < 0) return ::testing::AssertionFailure() << "\"" << prefix << "\" never ran";
            if (at <= previous) return ::testing::AssertionFailure() << "\"" << prefix << "\" ran too early";
            previous = at;
        }
        return ::testing::AssertionSuccess();
    }
};

RunResult run(RecordingSteps& steps, const std::vector<std::string>& arguments = good_arguments()) {
    return run_update(arguments, steps);
}

TEST(RunUpdate, TypicalRunInstallsWritesSuccessAndRelaunchesInOrder) {
    RecordingSteps steps;
    RunResult result = run(steps);

    ASSERT_FALSE(result.is_early_failure());
    EXPECT_EQ(result.exit_code, 0u);
    const std::vector<std::string> expected = {
        "prepare C:\\dl\\helper.log",
        "clear C:\\dl\\result.json",
        "log C:\\dl\\helper.log: Vostrane native updater started.",
        "is_msi C:\\dl\\update.msi",
        "lock C:\\dl\\update.msi",
        "digest",
        words("verify 1.4.0", kDigest, "c2lnbmF0dXJl vostrane-update-2026-01 ed25519"),
        "inspect 1.4.0",
        "wait 4242 C:\\dl\\helper.log",
        "locate",
        "confirm",
        "log C:\\dl\\helper.log: Starting Windows Installer.",
        "install C:\\Windows\\System32\\msiexec.exe C:\\dl\\update.msi",
        "release",
        "log C:\\dl\\helper.log: Windows Installer exited with code 0.",
        "installed?",
        "write C:\\dl\\result.json",
        "restart C:\\Program Files\\Vostrane\\vostrane.exe C:\\dl\\helper.log",
        "unlock",
    };
    EXPECT_EQ(steps.journal, expected);
    EXPECT_EQ(steps.written, (UpdateOutcome{"success", 0, ""}));
}

struct InstallerCase {
    std::int32_t installer_exit;
    UpdateOutcome outcome;
    bool relaunch;
    std::uint32_t process_exit;
};

TEST(RunUpdate, InstallerExitCodeDecidesOutcomeRelaunchAndExitCode) {
    const std::vector<InstallerCase> cases = {
        {0, {"success", 0, ""}, true, 0},
        {3010, {"restartRequired", 3010, "Windows restart is required to finish the update."}, false, 0},
        {1641, {"restartInitiated", 1641, "Windows has started a restart to finish the update."}, false, 0},
        {1602, {"error", 1602, "Windows Installer exited with code 1602."}, true, 1602},
        {1603, {"error", 1603, "Windows Installer exited with code 1603."}, true, 1603},
        {1, {"error", 1, "Windows Installer exited with code 1."}, true, 1},
        {-1073741819, {"error", -1073741819, "Windows Installer exited with code -1073741819."}, true, 0xC0000005u},
        {-1, {"error", -1, "Windows Installer exited with code -1."}, true, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installer_exit);
        RecordingSteps steps;
        steps.installer_exit = c.installer_exit;
        RunResult result = run(steps);

        ASSERT_FALSE(result.is_early_failure());
        EXPECT_EQ(result.exit_code, c.process_exit);
        EXPECT_EQ(steps.written, c.outcome);
        EXPECT_EQ(steps.called("restart"), c.relaunch);
        const std::string exited = "Windows Installer exited with code " + std::to_string(c.installer_exit) + ".";
        EXPECT_EQ(steps.log_lines.back(), exited) << "the exit line is logged for every code";
        if (c.relaunch) {
            EXPECT_TRUE(steps.ran_in_order({"write", "restart"}));
        }
    }
}

// An exit code that reports success counts only when the checked package is
// what Windows Installer installed; other codes are reported as they are.
TEST(RunUpdate, SuccessThatDidNotInstallTheCheckedPackageIsAnError) {
    constexpr std::string_view message = "Windows Installer did not install the package that was checked.";
    for (std::int32_t code : {0, 3010, 1641}) {
        SCOPED_TRACE(code);
        RecordingSteps steps;
        steps.installer_exit = code;
        steps.installed_result = failure(std::string(message));
        RunResult result = run(steps);

        ASSERT_FALSE(result.is_early_failure());
        EXPECT_EQ(result.exit_code, 1603u);
        EXPECT_EQ(steps.written, (UpdateOutcome{"error", 1603, std::string(message)}));
        const std::vector<std::string> lines = {"Vostrane native updater started.", "Starting Windows Installer.",
                                                "Windows Installer exited with code " + std::to_string(code) + ".",
                                                std::string(message)};
        EXPECT_EQ(steps.log_lines, lines);
        EXPECT_TRUE(steps.ran_in_order({"install", "release", "installed?", "write", "restart"}));
        EXPECT_FALSE(steps.called("delete")) << "the package was checked and stays";
    }
    for (std::int32_t code : {1602, 1603, 1}) {
        SCOPED_TRACE(code);
        RecordingSteps steps;
        steps.installer_exit = code;
        steps.installed_result = failure(std::string(message));
        run(steps);
        EXPECT_FALSE(steps.called("installed?"));
        EXPECT_EQ(steps.written->exit_code, code);
    }
}

TEST(RunUpdate, InstallerIsGivenTheConfirmedPackagePathNotTheOptionText) {
    RecordingSteps steps;
    steps.confirmed_package = std::u16string(u"D:\\downloads\\update.msi");
    RunResult result = run(steps);

    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(steps.called("install C:\\Windows\\System32\\msiexec.exe D:\\downloads\\update.msi"));
}

struct RejectionCase {
    std::string name;
    void (*arrange)(RecordingSteps&);
    std::string message;
    std::vector<std::string> checks_run;
    bool deleted;  // the file was opened and checked, so it is the one deleted
};

TEST(RunUpdate, RejectedPackageIsReportedAndNeverWaitedForOrInstalled) {
    const std::vector<RejectionCase> cases = {
        {"not an msi", [](RecordingSteps& s) { s.is_msi = false; },
         "The downloaded update package is not a valid MSI file.", {"is_msi"}, false},
        {"cannot be opened", [](RecordingSteps& s) { s.lock_result = failure("Access is denied. (os error 5)"); },
         "Access is denied. (os error 5)", {"is_msi", "lock"}, false},
        {"not on a local disk",
         [](RecordingSteps& s) { s.lock_result = failure("The update package must be on a local disk."); },
         "The update package must be on a local disk.", {"is_msi", "lock"}, false},
        {"read fails", [](RecordingSteps& s) { s.digest = failure("The device is not ready. (os error 21)"); },
         "The device is not ready. (os error 21)", {"is_msi", "lock", "digest"}, true},
        {"digest mismatch", [](RecordingSteps& s) { s.digest = std::string(64, '0'); },
         "Update package SHA-256 verification failed.", {"is_msi", "lock", "digest"}, true},
        {"bad signature", [](RecordingSteps& s) { s.signature_result = failure("Update signature verification failed."); },
         "Update signature verification failed.", {"is_msi", "lock", "digest", "verify"}, true},
        {"files outside the package",
         [](RecordingSteps& s) { s.inspection_result = failure("The update package refers to files outside itself."); },
         "The update package refers to files outside itself.", {"is_msi", "lock", "digest", "verify", "inspect"}, true},
        {"not the signed version",
         [](RecordingSteps& s) { s.inspection_result = failure("The update package is not the version that was signed."); },
         "The update package is not the version that was signed.", {"is_msi", "lock", "digest", "verify", "inspect"}, true},
        {"no database", [](RecordingSteps& s) { s.inspection_result = failure("The downloaded update package is not a valid MSI file."); },
         "The downloaded update package is not a valid MSI file.", {"is_msi", "lock", "digest", "verify", "inspect"}, true},
        {"already installed",
         [](RecordingSteps& s) { s.inspection_result = failure("The update package is already installed."); },
         "The update package is already installed.", {"is_msi", "lock", "digest", "verify", "inspect"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSteps steps;
        c.arrange(steps);
        RunResult result = run(steps);

        ASSERT_FALSE(result.is_early_failure());
        EXPECT_EQ(result.exit_code, 1603u);
        EXPECT_EQ(steps.written, (UpdateOutcome{"error", 1603, c.message}));
        const std::vector<std::string> lines = {"Vostrane native updater started.",
                                                "Package verification failed: " + c.message};
        EXPECT_EQ(steps.log_lines, lines);
        for (std::string_view check : {"is_msi", "lock", "digest", "verify", "inspect"}) {
            const bool expected = std::find(c.checks_run.begin(), c.checks_run.end(), check) != c.checks_run.end();
            EXPECT_EQ(steps.called(check), expected) << check;
        }
        EXPECT_FALSE(steps.called("wait"));
        EXPECT_FALSE(steps.called("locate"));
        EXPECT_FALSE(steps.called("install"));
        EXPECT_EQ(steps.called("delete"), c.deleted);
        if (c.deleted) {
            // Released first (a locked file cannot be deleted), then deleted.
            EXPECT_TRUE(steps.ran_in_order({c.checks_run.back(), "release", "delete C:\\dl\\update.msi",
                                            "log C:\\dl\\helper.log: Package", "write", "restart"}));
        } else {
            EXPECT_TRUE(steps.ran_in_order({"log C:\\dl\\helper.log: Package", "write", "restart"}));
        }
    }
}

TEST(RunUpdate, PackageReplacedDuringTheWaitIsNeitherInstalledNorDeleted) {
    RecordingSteps steps;
    steps.confirmed_package = failure("The update package was replaced after it was checked.");
    RunResult result = run(steps);

    ASSERT_FALSE(result.is_early_failure());
    EXPECT_EQ(result.exit_code, 1603u);
    EXPECT_EQ(steps.written, (UpdateOutcome{"error", 1603, "The update package was replaced after it was checked."}));
    const std::vector<std::string> lines = {"Vostrane native updater started.",
                                            "Package verification failed: The update package was replaced after it "
                                            "was checked."};
    EXPECT_EQ(steps.log_lines, lines);
    EXPECT_FALSE(steps.called("install"));
    EXPECT_FALSE(steps.called("delete"));
    EXPECT_TRUE(steps.ran_in_order({"wait", "locate", "confirm", "release", "write", "restart"}));
}

TEST(RunUpdate, OptionErrorIsAnEarlyFailureThatTouchesNothing) {
    RecordingSteps steps;
    RunResult result = run(steps, {});

    ASSERT_TRUE(result.is_early_failure());
    EXPECT_EQ(result.message(), "--parent-process-id is required.");
    EXPECT_EQ(result.exit_code, 1603u);
    EXPECT_TRUE(steps.journal.empty());
}

TEST(RunUpdate, HelperLogSetUpFailureIsAnEarlyFailureBeforeTheResultFileIsTouched) {
    RecordingSteps steps;
    steps.prepare_result = failure("Access is denied. (os error 5)");
    RunResult result = run(steps);

    ASSERT_TRUE(result.is_early_failure());
    EXPECT_EQ(result.message(), "Access is denied. (os error 5)");
    EXPECT_EQ(steps.journal, std::vector<std::string>{"prepare C:\\dl\\helper.log"});
}

TEST(RunUpdate, WaitFailureEndsEarlyWithoutResultRelaunchOrDeletion) {
    for (std::string message : {"The previous application process did not exit in time.",
                                "Waiting for the previous application process failed."}) {
        SCOPED_TRACE(message);
        RecordingSteps steps;
        steps.wait_result = failure(message);
        RunResult result = run(steps);

        ASSERT_TRUE(result.is_early_failure());
        EXPECT_EQ(result.message(), message);
        EXPECT_FALSE(steps.called("write"));
        EXPECT_FALSE(steps.called("restart"));
        EXPECT_FALSE(steps.called("delete"));
        EXPECT_FALSE(steps.called("locate"));
        EXPECT_EQ(steps.log_lines, std::vector<std::string>{"Vostrane native updater started."});
        // Closed when the run ends, package kept.
        EXPECT_TRUE(steps.called("unlock"));
    }
}

TEST(RunUpdate, InstallerNotFoundReportsErrorRelaunchesAndKeepsPackage) {
    RecordingSteps steps;
    steps.installer = std::nullopt;
    RunResult result = run(steps);

    EXPECT_EQ(result.exit_code, 1603u);
    EXPECT_EQ(steps.written, (UpdateOutcome{"error", 1603, "Windows Installer was not found."}));
    const std::vector<std::string> lines = {"Vostrane native updater started.", "Windows Installer was not found."};
    EXPECT_EQ(steps.log_lines, lines);
    EXPECT_FALSE(steps.called("confirm"));
    EXPECT_FALSE(steps.called("install"));
    EXPECT_FALSE(steps.called("delete"));
    EXPECT_TRUE(steps.ran_in_order({"locate", "release", "write", "restart"}));
}

TEST(RunUpdate, InstallerThatCannotStartEndsEarlyAfterTheStartingLine) {
    RecordingSteps steps;
    steps.installer_exit = failure("program not found");
    RunResult result = run(steps);

    ASSERT_TRUE(result.is_early_failure());
    EXPECT_EQ(result.message(), "Windows Installer could not be started: program not found");
    const std::vector<std::string> lines = {"Vostrane native updater started.", "Starting Windows Installer."};
    EXPECT_EQ(steps.log_lines, lines);
    EXPECT_FALSE(steps.called("write"));
    EXPECT_FALSE(steps.called("restart"));
    EXPECT_TRUE(steps.ran_in_order({"confirm", "install", "release"}));
}

TEST(ArgumentsFromCommandLine, DropsProgramNameAndConvertsToUtf8) {
    const std::vector<std::u16string> split = {u"C:\\helper.exe", u"--msi-path", u"C:\\d\u00e9j\u00e0\\p.msi"};
    auto arguments = arguments_from_command_line(split);
    ASSERT_TRUE(arguments);
    EXPECT_EQ(*arguments, (std::vector<std::string>{"--msi-path", "C:\\d\xc3\xa9j\xc3\xa0\\p.msi"}));
}

TEST(ArgumentsFromCommandLine, UnpairedSurrogateInAnyArgumentFails) {
    for (std::u16string bad : {std::u16string(u"a") + char16_t(0xD800), std::u16string(1, char16_t(0xDC00)) + u"b"}) {
        const std::vector<std::u16string> split = {u"helper.exe", u"--key-id", bad};
        auto arguments = arguments_from_command_line(split);
        ASSERT_FALSE(arguments);
        EXPECT_EQ(arguments.error(), "Command-line arguments are not valid Unicode.");
    }
}

}  // namespace
}  // namespace vostrane
