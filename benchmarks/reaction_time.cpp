// Reaction time under Wine: from the application's exit to Windows Installer's
// start. Wine gives every new process SystemRoot=C:\windows whatever its parent
// set, so a helper process cannot be pointed at a stand-in installer; this
// program drives the real steps (WindowsUpdateWorld, as the entry wires them)
// in its own process instead, with SystemRoot at a folder of its own where
// stub-program is System32\msiexec.exe and explorer.exe.
//
// Each round starts stand-in-application (it sleeps, then exits) and runs the
// update with its process id as the parent; the stub records when it started,
// GetProcessTimes says when the stand-in ended. The yardstick, measured in the
// same round: starting the same stub directly, from just before CreateProcessW
// to its recorded start (what any process creation costs here).
//
// Usage: reaction-time [ROUNDS [APPLICATION_MILLISECONDS]]   (default 15 300)
// Prints "reaction_ms MEDIAN", "process_start_ms MEDIAN" and the ranges.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fresh_product.hpp"
#include "helper_process.hpp"
#include "run_update.hpp"
#include "stub_record.hpp"
#include "test_signing.hpp"
#include "unicode.hpp"
#include "update_security/update_signature.hpp"
#include "win/unique_handle.hpp"
#include "windows_update_world.hpp"

namespace {

using namespace vostrane;
using namespace vostrane::testing;

std::uint64_t ticks(const FILETIME& time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

std::uint64_t now() {
    FILETIME time{};
    ::GetSystemTimePreciseAsFileTime(&time);
    return ticks(time);
}

std::string utf8(const std::wstring& text) { return *utf16_to_utf8(std::u16string(text.begin(), text.end())); }

double milliseconds(std::int64_t ticks_100ns) { return static_cast<double>(ticks_100ns) / 10'000.0; }

win::unique_handle start(const std::filesystem::path& program, const std::wstring& arguments, DWORD* id = nullptr) {
    std::wstring command_line = quote_argument(program.wstring());
    if (!arguments.empty()) command_line += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        throw std::runtime_error("cannot start " + utf8(program.wstring()));
    }
    ::CloseHandle(process.hThread);
    if (id != nullptr) *id = process.dwProcessId;
    return win::unique_handle(process.hProcess);
}

// The start time of the first record in the file, once it is there.
std::uint64_t recorded_start(const std::filesystem::path& record) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        const auto records = parse_stub_records(read_file(record));
        if (records && !records->empty() && records->front().started) return *records->front().started;
        ::Sleep(5);
    }
    throw std::runtime_error("the stub left no start time in " + record.string());
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// One update whose package passes every check, with `parent` as the parent
// process: the milliseconds from the parent's end to the installer's start.
double reaction_round(const std::filesystem::path& record, unsigned application_milliseconds) {
    TempDir dir;
    // A real package: the helper reads its tables before it waits, and after
    // the installer asks whether it was installed (the stand-in installs it).
    // A product of its own each round: the helper refuses a package whose
    // product is registered from it already.
    const FreshProduct product(build_file(L"packages\\stand-in-app.msi"));
    const std::string& bytes = product.bytes();
    write_file(dir / L"update.msi", bytes);
    const std::string digest = sha256_hex(bytes);
    const std::string signature =
        sign_with_development_key(signed_update_statement(kAcceptedKeyId, "1.0.0", digest));

    DWORD parent_id = 0;
    win::unique_handle parent =
        start(build_file(L"stand-in-application.exe"), std::to_wstring(application_milliseconds), &parent_id);
    const std::vector<std::wstring> wide_arguments = {
        L"--parent-process-id", std::to_wstring(parent_id),
        L"--msi-path", (dir / L"update.msi").wstring(),
        L"--install-dir", (dir / L"app").wstring(),
        L"--app-path", (dir / L"app\\app.exe").wstring(),  // absent: nothing is relaunched
        L"--msi-log-path", (dir / L"msi.log").wstring(),
        L"--helper-log-path", (dir / L"logs\\helper.log").wstring(),
        L"--result-path", (dir / L"result.json").wstring(),
        L"--expected-sha256", std::wstring(digest.begin(), digest.end()),
        L"--expected-version", L"1.0.0",
        L"--signature", std::wstring(signature.begin(), signature.end()),
        L"--key-id", L"vostrane-update-2026-01",
        L"--signature-algorithm", L"ed25519"};
    std::vector<std::string> arguments;
    for (const auto& argument : wide_arguments) arguments.push_back(utf8(argument));

    ::DeleteFileW(record.c_str());
    WindowsUpdateWorld world;
    const RunResult result = run_update(arguments, world);
    if (result.exit_code != 0) {
        throw std::runtime_error("the update did not succeed: exit code " + std::to_string(result.exit_code) +
                                 "; log:\n" + read_file(dir / L"logs\\helper.log"));
    }
    const std::string log = read_file(dir / L"logs\\helper.log");
    if (log.find("Waiting for process " + std::to_string(parent_id) + " to exit.") == std::string::npos) {
        throw std::runtime_error("the parent had ended before the wait began; give it more milliseconds. Log:\n" + log);
    }
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(parent.get(), &created, &exited, &kernel, &user)) throw std::runtime_error("GetProcessTimes");
    return milliseconds(static_cast<std::int64_t>(recorded_start(record) - ticks(exited)));
}

// Starting the stub directly: from just before CreateProcessW to its recorded start.
double process_start_round(const std::filesystem::path& stub, const std::filesystem::path& record) {
    ::DeleteFileW(record.c_str());
    const std::uint64_t before = now();
    win::unique_handle process = start(stub, L"");
    ::WaitForSingleObject(process.get(), INFINITE);
    return milliseconds(static_cast<std::int64_t>(recorded_start(record) - before));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 15;
    const unsigned application_milliseconds = argc > 2 ? static_cast<unsigned>(_wtoi(argv[2])) : 300;
    try {
        TempDir root;
        std::filesystem::create_directories(root / L"System32");
        std::filesystem::copy_file(build_file(L"stub-program.exe"), root / L"System32\\msiexec.exe");
        std::filesystem::copy_file(build_file(L"stub-program.exe"), root / L"explorer.exe");
        const auto record = root / L"record.txt";
        ScopedEnvironmentVariable system_root(L"SystemRoot", root.path().wstring());
        ScopedEnvironmentVariable record_path(L"VOSTRANE_STUB_RECORD", record.wstring());
        ScopedEnvironmentVariable started(L"VOSTRANE_STUB_STARTED", L"1");
        ScopedEnvironmentVariable installs(L"VOSTRANE_STUB_INSTALL", L"1");

        std::vector<double> reaction, process_start;
        for (int round = 0; round < rounds; ++round) {
            process_start.push_back(process_start_round(root / L"System32\\msiexec.exe", record));
            reaction.push_back(reaction_round(record, application_milliseconds));
        }
        const auto [reaction_min, reaction_max] = std::minmax_element(reaction.begin(), reaction.end());
        const auto [start_min, start_max] = std::minmax_element(process_start.begin(), process_start.end());
        std::printf("reaction_ms %.3f\n", median(reaction));
        std::printf("process_start_ms %.3f\n", median(process_start));
        std::printf("reaction_range_ms %.3f %.3f\n", *reaction_min, *reaction_max);
        std::printf("process_start_range_ms %.3f %.3f\n", *start_min, *start_max);
        std::printf("rounds %d\n", rounds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "reaction-time: %s\n", error.what());
        return 1;
    }
    return 0;
}
