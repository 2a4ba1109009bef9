// OS error descriptions from the real FormatMessageW, and the last error as an IoError.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io_error.hpp"
#include "win/os_error.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

bool ends_in_message_space(const std::string& text) {
    return !text.empty() && std::string_view("\t\n\f\r ").find(text.back()) != std::string_view::npos;
}

// FormatMessageW straight from the given module, as an independent oracle.
std::wstring raw_module_message(HMODULE module, DWORD code) {
    wchar_t buffer[2048];
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          module, code, 0, buffer, 2048, nullptr);
    return std::wstring(buffer, length);
}

TEST(SystemMessageWine, KnownCodesGiveTrimmedSystemText) {
    std::vector<std::string> messages;
    for (const std::uint32_t code : {2u, 5u, 32u}) {
        SCOPED_TRACE(code);
        const std::string message = win::system_message(code);
        EXPECT_FALSE(message.empty());
        EXPECT_FALSE(message.starts_with("OS Error")) << message;
        EXPECT_FALSE(ends_in_message_space(message)) << message;
        EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << message;

        const std::string description = win::describe_io_error(IoError::os_error(code));
        EXPECT_EQ(description, message + " (os error " + std::to_string(code) + ")");
        messages.push_back(message);
    }
    EXPECT_NE(messages[0], messages[1]);
    EXPECT_NE(messages[1], messages[2]);
}

TEST(SystemMessageWine, CodesWithoutMessageShowTheLookupFailure) {
    struct Case {
        std::uint32_t code;
        std::string expected_description;
    };
    const std::vector<Case> cases = {
        // No message anywhere: the lookup's own error (ERROR_MR_MID_NOT_FOUND) stands in.
        {0x20001234u, "OS Error 536875572 (FormatMessageW() returned error 317) (os error 536875572)"},
        // The NT bit is cleared for the lookup, but the suffix keeps the code as given.
        {0x1000FFFFu, "OS Error 65535 (FormatMessageW() returned error 317) (os error 268500991)"},
        {0xE0001234u, "OS Error -536866252 (FormatMessageW() returned error 317) (os error -536866252)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(win::describe_io_error(IoError::os_error(c.code)), c.expected_description);
    }
}

TEST(SystemMessageWine, NtBitLooksUpNtdllWithTheBitCleared) {
    const HMODULE ntdll = ::GetModuleHandleW(L"NTDLL.DLL");
    ASSERT_NE(ntdll, nullptr);
    constexpr std::uint32_t kAccessDeniedStatus = 0xC0000022u;
    const std::wstring oracle = raw_module_message(ntdll, kAccessDeniedStatus);
    // Wine's ntdll carries no message table; Windows' does.
    const std::string expected =
        oracle.empty() ? "OS Error -1073741790 (FormatMessageW() returned error 317)"
                       : system_message_from_units(kAccessDeniedStatus,
                                                   std::u16string_view(
                                                       reinterpret_cast<const char16_t*>(oracle.data()),
                                                       oracle.size()));
    EXPECT_EQ(win::describe_io_error(IoError::os_error(0xD0000022u)), expected + " (os error -805306334)");
}

TEST(SystemMessageWine, FixedTextsHaveNoSuffix) {
    EXPECT_EQ(win::describe_io_error(IoError::fixed_text(std::string(kProgramNotFound))), "program not found");
    EXPECT_EQ(win::describe_io_error(IoError::fixed_text(std::string(kFailedToWriteWholeBuffer))),
              "failed to write whole buffer");
}

TEST(LastErrorWine, DescribesTheThreadsLastError) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(win::describe_last_error(), win::system_message(32) + " (os error 32)");

    const win::unique_file missing(::CreateFileW(L"Z:\\no\\such\\directory\\file.txt", GENERIC_READ, 0,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_EQ(missing.get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::last_os_error(), IoError::os_error(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace vostrane
