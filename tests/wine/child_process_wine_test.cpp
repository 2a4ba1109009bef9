// Starting children for real under Wine: the command line as Windows clients
// read it back, the program search, standard handles, exit codes and errors.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "helper_process.hpp"
#include "process/child_process.hpp"
#include "stub_record.hpp"
#include "unicode.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::testing {
namespace {

// The echo program's record read back: the arguments as the C runtime and as
// CommandLineToArgvW split them.
struct EchoedArguments {
    std::vector<std::u16string> crt, shell;
};

std::u16string from_hex_units(std::string_view hex) {
    std::u16string text;
    for (std::size_t i = 0; i + 4 <= hex.size(); i += 4) {
        text += static_cast<char16_t>(std::stoul(std::string(hex.substr(i, 4)), nullptr, 16));
    }
    return text;
}

EchoedArguments read_echo(const std::filesystem::path& record) {
    EchoedArguments echoed;
    std::string_view text;
    const std::string bytes = read_file(record);
    text = bytes;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (line.starts_with("crt ")) echoed.crt.push_back(from_hex_units(line.substr(4)));
        if (line.starts_with("shell ")) echoed.shell.push_back(from_hex_units(line.substr(6)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return echoed;
}

TEST(ChildProcess, ArgumentsComeBackIdenticalThroughTheRuntimeAndCommandLineToArgvW) {
    TempDir dir;
    const auto record = dir / L"echo.txt";
    ScopedEnvironmentVariable echo_record(L"VOSTRANE_ECHO_RECORD", record.wstring());
    const std::vector<std::u16string> arguments = {
        u"plain",
        u"",
        u"with space",
        u"tab\there",
        u"quote\"inside",
        u"\"",
        u"\"\"",
        u"ends in backslash\\",
        u"ends in two\\\\",
        u"C:\\dir\\",
        u"back\\\\\"quote",
        u"  lead and trail  ",
        u"\\\\server\\share\\",
        u"INSTALLDIR=C:\\Program Files\\App\\",
        u"caf\u00e9 \u65e5\u672c",
        u"\U0001F4E6 beyond U+FFFF \U00010000",
        u"semi;colon & pipe | caret ^ percent %PATH%",
        u"",
    };
    const ChildCommand command{u16(build_file(L"argument-echo.exe")), arguments, std::nullopt};

    const auto exit_code = run_to_exit(command);
    ASSERT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
    ASSERT_EQ(*exit_code, 0u);
    const EchoedArguments echoed = read_echo(record);
    EXPECT_EQ(echoed.crt, arguments);
    EXPECT_EQ(echoed.shell, arguments);
}

TEST(ChildProcess, ExitCodeComesBackAllThirtyTwoBits) {
    for (const wchar_t* code : {L"0", L"1602", L"3010", L"0xC0000005", L"-1"}) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(code)));
        ScopedEnvironmentVariable exit_code_variable(L"VOSTRANE_STUB_EXIT_CODE", code);
        const auto exit_code = run_to_exit({u16(build_file(L"stub-program.exe")), {}, std::nullopt});
        ASSERT_TRUE(exit_code);
        EXPECT_EQ(*exit_code, static_cast<std::uint32_t>(std::stoll(code, nullptr, 0)));
    }
}

StubRecord single_record(const std::filesystem::path& file) {
    const auto records = parse_stub_records(read_file(file));
    EXPECT_TRUE(records && records->size() == 1) << read_file(file);
    return records && !records->empty() ? records->front() : StubRecord{};
}

TEST(ChildProcess, RedirectedStandardOutputReachesTheChildThroughAnInheritedDuplicate) {
    TempDir dir;
    ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
    ScopedEnvironmentVariable text(L"VOSTRANE_STUB_STDOUT", L"written by the child");
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));  // neither end inheritable
    win::unique_handle reader(read_end);
    win::unique_handle writer(write_end);
    {
        ScopedStandardHandles redirected({nullptr, writer.get(), nullptr});
        const auto exit_code = run_to_exit({u16(build_file(L"stub-program.exe")), {}, std::nullopt});
        ASSERT_TRUE(exit_code);
    }
    writer.reset();  // the child has exited and its duplicate is gone: the read ends
    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (::ReadFile(reader.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) output.append(buffer, read);
    EXPECT_EQ(output, "written by the child");
    const StubRecord started = single_record(dir / L"record.txt");
    EXPECT_FALSE(started.has_stdin);
    EXPECT_TRUE(started.has_stdout);
    EXPECT_FALSE(started.has_stderr);
}

TEST(ChildProcess, WithoutStandardHandlesTheChildGetsNone) {
    // INVALID_HANDLE_VALUE is also the value of GetCurrentProcess(): duplicated
    // as a handle, it would give the child a handle to this process.
    ScopedEnvironmentVariable count_handles(L"VOSTRANE_STUB_HANDLES", L"1");
    for (const HANDLE none : {HANDLE{nullptr}, INVALID_HANDLE_VALUE}) {
        SCOPED_TRACE(none == nullptr ? "null" : "INVALID_HANDLE_VALUE");
        TempDir dir;
        ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
        {
            ScopedStandardHandles missing({none, none, none});
            const auto exit_code = run_to_exit({u16(build_file(L"stub-program.exe")), {}, std::nullopt});
            ASSERT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
        }
        const StubRecord started = single_record(dir / L"record.txt");
        EXPECT_FALSE(started.has_stdin);
        EXPECT_FALSE(started.has_stdout);
        EXPECT_FALSE(started.has_stderr);
        EXPECT_EQ(started.inheritable_handles, 0u) << "nothing in place of the missing handles";
    }
}

TEST(ChildProcess, ChildInheritsItsStandardHandlesAndNoOtherHandle) {
    // An inheritable event of this process: the stub sets whatever its handle
    // value names in the child, so the event is set only if the child inherited it.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    win::unique_handle event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    ScopedEnvironmentVariable event_value(L"VOSTRANE_STUB_EVENT",
                                          std::to_wstring(reinterpret_cast<std::uintptr_t>(event.get())));
    ScopedEnvironmentVariable count_handles(L"VOSTRANE_STUB_HANDLES", L"1");
    const std::wstring stub = build_file(L"stub-program.exe").wstring();
    {
        SCOPED_TRACE("control: CreateProcessW inheriting every inheritable handle");
        TempDir dir;
        ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
        std::wstring command_line = L"\"" + stub + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        ASSERT_TRUE(::CreateProcessW(stub.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &startup, &created));
        win::unique_handle process(created.hProcess);
        win::unique_handle thread(created.hThread);
        ASSERT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
        EXPECT_EQ(single_record(dir / L"record.txt").event_set, true);
        EXPECT_EQ(::WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
        ASSERT_TRUE(::ResetEvent(event.get()));
    }
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
    win::unique_handle reader(read_end);
    win::unique_handle writer(write_end);
    struct Case {
        std::string name;
        std::array<HANDLE, 3> standard_handles;
        bool inherits_standard_handles = true;
    };
    // Standard error alone too: the list must not hang on standard output.
    // The client library's helper gets none of its application's handles,
    // which would otherwise hold the application's pipes open.
    const std::vector<Case> cases = {
        {"standard output on a pipe", {nullptr, writer.get(), nullptr}},
        {"standard error alone on a pipe", {nullptr, nullptr, writer.get()}},
        {"no standard handles", {nullptr, nullptr, nullptr}},
        {"standard handles on a pipe, none passed on", {writer.get(), writer.get(), writer.get()}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
        {
            ScopedStandardHandles handles(c.standard_handles);
            ChildCommand command{u16(stub), {}, std::nullopt};
            command.inherits_standard_handles = c.inherits_standard_handles;
            const auto exit_code = run_to_exit(command);
            ASSERT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
        }
        const StubRecord started = single_record(dir / L"record.txt");
        const auto passed = [&](std::size_t i) { return c.inherits_standard_handles && c.standard_handles[i] != nullptr; };
        EXPECT_EQ(started.has_stdin, passed(0));
        EXPECT_EQ(started.has_stdout, passed(1));
        EXPECT_EQ(started.has_stderr, passed(2));
        const auto given = c.inherits_standard_handles
                               ? std::ranges::count_if(c.standard_handles, [](HANDLE h) { return h != nullptr; })
                               : 0;
        EXPECT_EQ(started.inheritable_handles, static_cast<unsigned>(given));
        EXPECT_EQ(started.event_set, false);
        EXPECT_EQ(::WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT) << "the child set this process's event";
    }
}

TEST(ChildProcess, StartLeavesTheChildRunningInItsWorkingDirectoryAndGivesItsId) {
    TempDir dir;
    std::filesystem::create_directories(dir / L"work dir");
    ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
    const auto process_id =
        start({u16(build_file(L"stub-program.exe")), {u"an argument"}, u16(dir / L"work dir")});
    ASSERT_TRUE(process_id);
    // The id names the child: waiting on it sees the child's end.
    win::unique_handle child(::OpenProcess(SYNCHRONIZE, FALSE, *process_id));
    if (child) {
        EXPECT_EQ(::WaitForSingleObject(child.get(), 30000), WAIT_OBJECT_0);
    }
    for (int i = 0; i < 100 && read_file(dir / L"record.txt").find("end\n") == std::string::npos; ++i) ::Sleep(50);
    const StubRecord started = single_record(dir / L"record.txt");
    EXPECT_EQ(started.process_id, *process_id);
    EXPECT_EQ(started.current_directory, *utf16_to_utf8(u16(dir / L"work dir")));
    EXPECT_TRUE(started.command_line.ends_with("stub-program.exe\" \"an argument\"")) << started.command_line;
}

// A directory under `base` whose full path has `length` characters, made of
// components of at most `component` characters, created.
std::filesystem::path directory_of_length(const std::filesystem::path& base, std::size_t length,
                                          std::size_t component) {
    std::wstring path = base.wstring();
    wchar_t letter = L'a';
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1;  // after a backslash
        std::size_t size = std::min(component, room);
        if (room - size == 1) --size;  // leave room for one more component
        path += L'\\' + std::wstring(size, letter);
        letter = letter == L'z' ? L'a' : static_cast<wchar_t>(letter + 1);
    }
    std::filesystem::create_directories(path);
    return path;
}

std::wstring long_form(const std::wstring& path) {
    std::wstring long_path(32768, L'\0');
    long_path.resize(::GetLongPathNameW(path.c_str(), long_path.data(), 32768));
    return long_path;
}

TEST(ChildProcess, WorkingDirectoryTooLongForCreateProcessWIsHandedOverInItsShortForm) {
    struct Case {
        std::size_t length;  // a final backslash not counted
        bool final_backslash;
    };
    const std::vector<Case> cases = {{257, false}, {257, true}, {258, false}, {258, true}, {259, false}, {300, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.length << (c.final_backslash ? " and a final backslash" : ""));
        TempDir dir;
        const std::filesystem::path work = directory_of_length(dir.path(), c.length, 100);
        ASSERT_EQ(work.wstring().size(), c.length);
        ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
        const std::u16string given = u16(work) + (c.final_backslash ? u"\\" : u"");

        const auto exit_code = run_to_exit({u16(build_file(L"stub-program.exe")), {}, given});
        ASSERT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
        const std::wstring started_in = std::filesystem::path(single_record(dir / L"record.txt").current_directory);
        EXPECT_EQ(long_form(started_in), work.wstring());
        if (c.length < 258) {
            EXPECT_EQ(started_in, work.wstring()) << "short enough: as given";
        } else {
            EXPECT_LT(started_in.size(), 258u) << "in the short form";
        }
    }
}

TEST(ChildProcess, BareNameIsFoundInAQuotedPathEntryAndKeepsItsBareFirstToken) {
    TempDir dir;
    const auto tools = dir / L"tools;with semicolon";
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(build_file(L"stub-program.exe"), tools / L"vostrane-stub-in-path.exe");
    ScopedEnvironmentVariable path(L"PATH", L"Z:\\no\\such\\dir;\"" + tools.wstring() + L"\";C:\\windows\\system32");
    ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());

    // With and without the extension: a name without a dot gets ".exe".
    for (const char16_t* name : {u"vostrane-stub-in-path.exe", u"vostrane-stub-in-path"}) {
        const auto exit_code = run_to_exit({name, {u"x"}, std::nullopt});
        ASSERT_TRUE(exit_code) << win::describe_io_error(exit_code.error());
    }
    const auto records = parse_stub_records(read_file(dir / L"record.txt"));
    ASSERT_TRUE(records && records->size() == 2);
    EXPECT_EQ((*records)[0].command_line, "\"vostrane-stub-in-path.exe\" x");
    EXPECT_EQ((*records)[1].command_line, "\"vostrane-stub-in-path\" x");
}

TEST(ChildProcess, BareNameInTheCurrentDirectoryOnlyIsNotFound) {
    TempDir dir;
    std::filesystem::copy_file(build_file(L"stub-program.exe"), dir / L"vostrane-only-here.exe");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const auto exit_code = run_to_exit({u"vostrane-only-here.exe", {}, std::nullopt});
    std::filesystem::current_path(previous);
    ASSERT_FALSE(exit_code);
    EXPECT_EQ(exit_code.error(), IoError::fixed_text("program not found"));
}

TEST(ChildProcess, FailuresAreLaunchErrorsWithTheirTexts) {
    TempDir dir;
    // Names of eight characters or fewer are their own short names.
    const std::filesystem::path no_short_form = directory_of_length(dir.path(), 300, 8);
    ScopedEnvironmentVariable record(L"VOSTRANE_STUB_RECORD", (dir / L"record.txt").wstring());
    struct Case {
        std::string name;
        ChildCommand command;
        std::optional<std::string> fixed_text;  // otherwise an OS error
    };
    const std::vector<Case> cases = {
        {"bare name found nowhere", {u"vostrane-no-such-program.exe", {}, std::nullopt}, "program not found"},
        {"no file name", {u16(dir.path()) + u"\\", {}, std::nullopt}, "program path has no file name"},
        {"nul in an argument", {u16(build_file(L"stub-program.exe")), {std::u16string(u"a\0b", 3)}, std::nullopt},
         "nul byte found in provided data"},
        {"missing path", {u16(dir / L"missing.exe"), {}, std::nullopt}, std::nullopt},
        {"working directory that does not exist",
         {u16(build_file(L"stub-program.exe")), {}, u16(dir / L"no such dir")}, std::nullopt},
        {"working directory too long with no short form",
         {u16(build_file(L"stub-program.exe")), {}, u16(no_short_form)},
         "working directory is too long and has no short form"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto exit_code = run_to_exit(c.command);
        ASSERT_FALSE(exit_code);
        if (c.fixed_text) {
            EXPECT_EQ(exit_code.error(), IoError::fixed_text(*c.fixed_text));
        } else {
            ASSERT_TRUE(exit_code.error().is_os_error());
            EXPECT_NE(exit_code.error().os_code(), 0u);
            EXPECT_TRUE(is_os_error_description(win::describe_io_error(exit_code.error())));
        }
        EXPECT_FALSE(start(c.command)) << "start fails the same way";
    }
    EXPECT_FALSE(std::filesystem::exists(dir / L"record.txt")) << "no stub ran";
}

}  // namespace
}  // namespace vostrane::testing
