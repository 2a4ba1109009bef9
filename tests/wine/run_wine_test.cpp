// The helper exe end to end under Wine: exit codes, standard error, the helper
// log, the result file and the package, as the application observes them.
#include <gtest/gtest.h>

#include <windows.h>


#include "run_fixture.hpp"

namespace vostrane::testing {
namespace {

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
    option_value(arguments, L"--key-id") = std::wstring(L"key") + wchar_t(0xD800);

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

// The 8.3 name of a file whose long name is given; empty when the volume has none.
std::filesystem::path short_name_of(const std::filesystem::path& path) {
    std::wstring short_form(MAX_PATH, L'\0');
    short_form.resize(::GetShortPathNameW(path.c_str(), short_form.data(), MAX_PATH));
    return short_form;
}

TEST(HelperRun, RejectedPackageIsLoggedAndReportedAndOnlyACheckedPackageDeleted) {
    struct Case {
        std::string name;
        std::vector<std::wstring> (*arrange)(RunFiles&);
        std::string message;
        bool package_remains;
    };
    const std::vector<Case> cases = {
        {"missing package", [](RunFiles& f) { return arguments_for(f); },
         "The downloaded update package is not a valid MSI file.", false},
        // A file that fails the name check was never checked: it may be anything
        // the caller named by mistake, and is left alone.
        {"existing file that is not an msi",
         [](RunFiles& f) {
             f.msi.replace_extension(L".docx");
             write_file(f.msi, "a thesis");
             return arguments_for(f);
         },
         "The downloaded update package is not a valid MSI file.", true},
        // REPORT~1.MSI passes the name check but leads to report.msix: checked,
        // rejected, and not deleted, since the file's own name is not an msi's.
        {"short name of a file that is not an msi",
         [](RunFiles& f) {
             const auto long_name = f.msi.parent_path() / L"report.msix";
             write_file(long_name, "a report");
             f.msi = short_name_of(long_name);
             EXPECT_TRUE(f.msi.extension() == L".MSI") << utf8(f.msi);
             return arguments_for(f);
         },
         "Update package SHA-256 verification failed.", true},
        {"non-ASCII path",
         [](RunFiles& f) {
             f.msi = f.msi.parent_path() / L"T\u00e9l\u00e9chargements \u65e5\u672c" / L"\U0001F4E6 update.msi";
             std::filesystem::create_directories(f.msi.parent_path());
             write_file(f.msi, "not the expected bytes");
             return arguments_for(f);
         },
         "Update package SHA-256 verification failed.", false},
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
        {"signed package whose cabinet is beside it",
         [](RunFiles& f) { return signed_package(f, read_file(built_package(L"sample-app-2-external-cabinet"))); },
         "The update package refers to files outside itself.", false},
        {"signature not Base64",
         [](RunFiles& f) {
             auto arguments = signed_package(f, "package bytes");
             option_value(arguments, L"--signature") = L"not base64!";
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
        // The relaunch comes last; this run's application path names nothing.
        const std::vector<std::string> expected = {"Vostrane native updater started.",
                                                   "Package verification failed: " + c.message,
                                                   "The application executable was not found for restart."};
        EXPECT_EQ(log_messages(files.log), expected);
    }
}

}  // namespace
}  // namespace vostrane::testing
