#pragma once
// The error of a failed file, directory or process operation, and its one text form.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "interface_texts.hpp"

namespace vostrane {

class IoError {
public:
    // A Windows error code as GetLastError returns it.
    static IoError os_error(std::uint32_t code) { return IoError(code); }
    // An English sentence of the helper's own, where no system code exists.
    static IoError fixed_text(std::string text) { return IoError(std::move(text)); }

    [[nodiscard]] bool is_os_error() const { return std::holds_alternative<std::uint32_t>(value_); }
    [[nodiscard]] std::uint32_t os_code() const { return std::get<std::uint32_t>(value_); }
    [[nodiscard]] const std::string& text() const { return std::get<std::string>(value_); }

    friend bool operator==(const IoError&, const IoError&) = default;

private:
    explicit IoError(std::uint32_t code) : value_(code) {}
    explicit IoError(std::string text) : value_(std::move(text)) {}
    std::variant<std::uint32_t, std::string> value_;
};

using SystemMessageSource = std::function<std::string(std::uint32_t code)>;

// "{system message} (os error {code})" for an OS error, the text alone otherwise.
// The system message comes from `system_message`; the Windows build passes the
// FormatMessageW lookup (win/system_message.hpp).
std::string describe_io_error(const IoError& error, const SystemMessageSource& system_message);

// Removes the tab, line feed, form feed, carriage return and space characters
// that end a system message.
std::string_view trim_trailing_message_space(std::string_view text);

// The system message made of the UTF-16 units that FormatMessageW wrote for
// `looked_up_code` (the code it was given): trimmed UTF-8, or the "OS Error"
// stand-in when the units are not valid UTF-16.
std::string system_message_from_units(std::uint32_t looked_up_code, std::u16string_view units);

// The stand-in message when FormatMessageW found no text for `looked_up_code`
// and failed with `format_error`.
std::string system_message_lookup_failed(std::uint32_t looked_up_code, std::uint32_t format_error);

}  // namespace vostrane
