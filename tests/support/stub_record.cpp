#include "stub_record.hpp"

#include <charconv>

namespace vostrane::testing {
namespace {

// The value of the next line when it starts with "<name>: ", and moves past it.
std::optional<std::string_view> take(std::string_view& text, std::string_view name) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = text.substr(0, end);
    if (!line.starts_with(name) || !line.substr(name.size()).starts_with(": ")) return std::nullopt;
    text.remove_prefix(end + 1);
    return line.substr(name.size() + 2);
}

std::optional<bool> presence(std::string_view& text, std::string_view name) {
    const auto value = take(text, name);
    if (!value || (*value != "none" && *value != "present")) return std::nullopt;
    return *value == "present";
}

}  // namespace

std::optional<std::vector<StubRecord>> parse_stub_records(std::string_view text) {
    std::vector<StubRecord> records;
    while (!text.empty()) {
        StubRecord record;
        const auto command_line = take(text, "command-line");
        const auto directory = take(text, "current-directory");
        const auto in = presence(text, "stdin");
        const auto out = presence(text, "stdout");
        const auto err = presence(text, "stderr");
        if (!command_line || !directory || !in || !out || !err) return std::nullopt;
        record.command_line = *command_line;
        record.current_directory = *directory;
        record.has_stdin = *in;
        record.has_stdout = *out;
        record.has_stderr = *err;
        if (text.starts_with("started: ")) {
            const auto digits = take(text, "started");
            std::uint64_t ticks = 0;
            const auto [end, error] = std::from_chars(digits->data(), digits->data() + digits->size(), ticks);
            if (digits->empty() || error != std::errc{} || end != digits->data() + digits->size()) {
                return std::nullopt;
            }
            record.started = ticks;
        }
        if (text.starts_with("error: ")) {
            if (take(text, "error") != "bad VOSTRANE_STUB_EXIT_CODE") return std::nullopt;
            record.bad_exit_code = true;
        }
        if (!text.starts_with("end\n")) return std::nullopt;
        text.remove_prefix(4);
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace vostrane::testing
