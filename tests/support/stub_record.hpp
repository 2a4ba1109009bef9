#pragma once
// Reading what stub-program (stub_program.cpp) recorded: one record a run, in
// the order the runs wrote them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrane::testing {

struct StubRecord {
    std::string command_line;       // GetCommandLineW as UTF-8
    std::string current_directory;  // GetCurrentDirectoryW as UTF-8
    bool has_stdin = false;         // GetStdHandle gave a handle that is neither null nor invalid
    bool has_stdout = false;
    bool has_stderr = false;
    std::uint32_t process_id = 0;          // GetCurrentProcessId
    std::optional<bool> event_set;         // SetEvent on VOSTRANE_STUB_EVENT's value succeeded
    std::optional<unsigned> inheritable_handles;  // with VOSTRANE_STUB_HANDLES only
    std::optional<std::uint64_t> started;  // FILETIME ticks, with VOSTRANE_STUB_STARTED only
    std::optional<std::uint32_t> installed;  // MsiInstallProductW's result, with VOSTRANE_STUB_INSTALL only
    bool bad_exit_code = false;            // VOSTRANE_STUB_EXIT_CODE was not a number
};

// The records of a record file's text, or nothing when the text is not a
// sequence of whole records in stub-program's format.
std::optional<std::vector<StubRecord>> parse_stub_records(std::string_view text);

}  // namespace vostrane::testing
