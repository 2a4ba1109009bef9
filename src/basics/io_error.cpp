#include "io_error.hpp"

#include <string>

#include "unicode.hpp"

namespace vostrane {

namespace {
std::string signed_decimal(std::uint32_t code) {
    return std::to_string(static_cast<std::int32_t>(code));
}
}  // namespace

std::string describe_io_error(const IoError& error, const SystemMessageSource& system_message) {
    if (!error.is_os_error()) return error.text();
    const std::uint32_t code = error.os_code();
    // Shown signed, so codes with the top bit set come out negative.
    return system_message(code) + " (os error " + signed_decimal(code) + ")";
}

std::string_view trim_trailing_message_space(std::string_view text) {
    const auto last_kept = text.find_last_not_of("\t\n\f\r ");
    return last_kept == std::string_view::npos ? std::string_view{} : text.substr(0, last_kept + 1);
}

std::string system_message_from_units(std::uint32_t looked_up_code, std::u16string_view units) {
    const Result<std::string> text = utf16_to_utf8(units);
    if (!text) {
        return "OS Error " + signed_decimal(looked_up_code) + " (FormatMessageW() returned invalid UTF-16)";
    }
    return std::string(trim_trailing_message_space(*text));
}

std::string system_message_lookup_failed(std::uint32_t looked_up_code, std::uint32_t format_error) {
    return "OS Error " + signed_decimal(looked_up_code) + " (FormatMessageW() returned error " +
           signed_decimal(format_error) + ")";
}

}  // namespace vostrane
