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

// A line whose value is one of two words: whether it is the second.
std::optional<bool> either(std::string_view& text, std::string_view name, std::string_view no, std::string_view yes) {
    const auto value = take(text, name);
    if (!value || (*value != no && *value != yes)) return std::nullopt;
    return *value == yes;
}

std::optional<bool> presence(std::string_view& text, std::string_view name) {
    return either(text, name, "none", "present");
}

// A line whose value is a decimal number that fits in T.
template <class T>
std::optional<T> number(std::string_view& text, std::string_view name) {
    const auto digits = take(text, name);
    if (!digits) return std::nullopt;
    T value = 0;
    const auto [end, error] = std::from_chars(digits->data(), digits->data() + digits->size(), value);
    if (digits->empty() || error != std::errc{} || end != digits->data() + digits->size()) return std::nullopt;
    return value;
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
        const auto process_id = number<std::uint32_t>(text, "process-id");
        if (!command_line || !directory || !in || !out || !err || !process_id) return std::nullopt;
        record.command_line = *command_line;
        record.current_directory = *directory;
        record.has_stdin = *in;
        record.has_stdout = *out;
        record.has_stderr = *err;
        record.process_id = *process_id;
        if (text.starts_with("event: ")) {
            record.event_set = either(text, "event", "failed", "set");
            if (!record.event_set) return std::nullopt;
        }
        if (text.starts_with("inheritable-handles: ")) {
            record.inheritable_handles = number<unsigned>(text, "inheritable-handles");
            if (!record.inheritable_handles) return std::nullopt;
        }
        if (text.starts_with("started: ")) {
            record.started = number<std::uint64_t>(text, "started");
            if (!record.started) return std::nullopt;
        }
        if (text.starts_with("installed: ")) {
            record.installed = number<std::uint32_t>(text, "installed");
            if (!record.installed) return std::nullopt;
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
