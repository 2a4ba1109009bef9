// Option parsing (options.hpp) against a model of the documented rules.
//
// Input: the arguments (without the program name), separated by 0x00 bytes;
// an empty input is no argument. The model: arguments are name/value pairs;
// a name, trimmed of white space, must start with "--" (all leading "--" are
// then dropped) and have a value after it; the last value of a name wins; the
// twelve options must each have a value that is not empty after trimming;
// the process id is an unsigned 32-bit decimal number with at most one
// leading '+'; the digest is lower-cased; the first failure in the fixed
// order decides the message.
//  - parse_options accepts exactly what the model accepts, with the model's
//    options or the model's message;
//  - accepted options written out again as "--name value" pairs parse to the
//    same options;
//  - trim_white_space is idempotent on every argument.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "options.hpp"
#include "reference_unicode.hpp"
#include "unicode.hpp"

using namespace vostrane;
using namespace vostrane::fuzz;

namespace {

// The paths are held in UTF-16, the other values in UTF-8.
struct PathField {
    const char* name;
    std::u16string UpdateOptions::*member;
    bool on_child_command_line;
};
struct TextField {
    const char* name;
    std::string UpdateOptions::*member;
};
// In the order they are checked, after --parent-process-id: the paths, then the texts.
constexpr PathField kPathFields[] = {
    {"msi-path", &UpdateOptions::msi_path, true},
    {"install-dir", &UpdateOptions::install_dir, true},
    {"app-path", &UpdateOptions::app_path, true},
    {"msi-log-path", &UpdateOptions::msi_log_path, true},
    {"helper-log-path", &UpdateOptions::helper_log_path, false},
    {"result-path", &UpdateOptions::result_path, false},
};
constexpr TextField kTextFields[] = {
    {"expected-sha256", &UpdateOptions::expected_sha256},
    {"expected-version", &UpdateOptions::expected_version},
    {"signature", &UpdateOptions::signature},
    {"key-id", &UpdateOptions::key_id},
    {"signature-algorithm", &UpdateOptions::signature_algorithm},
};

std::string utf8_of(std::u16string_view units) {
    std::string out;
    for (const Utf16Piece& piece : decode_utf16_reference(units)) append_utf8_reference(out, piece.code_point);
    return out;
}

std::string trimmed(std::string_view text) {
    const Span span = trim_white_space_reference(text);
    return std::string(text.substr(span.begin, span.length));
}

struct ModelResult {
    bool accepted = false;
    std::string message;
    UpdateOptions options;
};

ModelResult model_parse(const std::vector<std::string>& arguments) {
    ModelResult result;
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const std::string key = trimmed(arguments[i]);
        if (key.rfind("--", 0) != 0) {
            result.message = "Unexpected argument: " + key;
            return result;
        }
        if (i + 1 == arguments.size()) {
            result.message = "Missing value for " + key;
            return result;
        }
        std::string_view name = key;
        while (name.starts_with("--")) name.remove_prefix(2);
        values[std::string(name)] = arguments[i + 1];
    }
    const auto required = [&values, &result](const std::string& name, std::string& out) {
        const auto found = values.find(name);
        out = found == values.end() ? std::string() : trimmed(found->second);
        if (out.empty()) result.message = "--" + name + " is required.";
        return !out.empty();
    };

    std::string process_id;
    if (!required("parent-process-id", process_id)) return result;
    std::string_view digits = process_id;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    std::uint64_t value = 0;
    bool number = !digits.empty();
    for (const char c : digits) {
        if (c < '0' || c > '9' || value > 0xFFFFFFFFu) {
            number = false;
            break;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!number || value > 0xFFFFFFFFu) {
        result.message = "--parent-process-id must be a process id.";
        return result;
    }
    result.options.parent_process_id = static_cast<std::uint32_t>(value);
    for (const PathField& field : kPathFields) {
        std::string value;
        if (!required(field.name, value)) return result;
        const bool quote_or_control = std::any_of(value.begin(), value.end(), [](char c) {
            return c == '"' || (c >= 0 && c < ' ');
        });
        if (field.on_child_command_line && quote_or_control) {
            result.message = "--" + std::string(field.name) + " must not contain a double quote or a control character.";
            return result;
        }
        result.options.*field.member = utf8_to_utf16_reference(value);
    }
    for (const TextField& field : kTextFields) {
        if (!required(field.name, result.options.*field.member)) return result;
    }
    for (char& c : result.options.expected_sha256) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    result.accepted = true;
    return result;
}

std::string show_options(const UpdateOptions& o) {
    std::string out = "\n       parent-process-id " + std::to_string(o.parent_process_id);
    for (const PathField& field : kPathFields) out += "\n       " + std::string(field.name) + " " + show(o.*field.member);
    for (const TextField& field : kTextFields) out += "\n       " + std::string(field.name) + " " + show(o.*field.member);
    return out;
}

std::string show_arguments(const std::vector<std::string>& arguments) {
    std::string out;
    for (const auto& a : arguments) out += "\n       " + show(a);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments;
    if (!input.empty()) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t nul = input.find('\0', start);
            arguments.emplace_back(input.substr(start, nul == std::string_view::npos ? std::string_view::npos : nul - start));
            if (nul == std::string_view::npos) break;
            start = nul + 1;
        }
    }

    for (const std::string& argument : arguments) {
        const std::string_view once = trim_white_space(argument);
        const std::string_view twice = trim_white_space(once);
        FUZZ_CHECK(once == twice, "trim_white_space is not idempotent on " + show(argument) + ": once " + show(once) +
                                      ", twice " + show(twice));
    }

    const auto parsed = parse_options(arguments);
    const ModelResult model = model_parse(arguments);
    FUZZ_CHECK(parsed.has_value() == model.accepted,
               std::string(parsed ? "parse_options accepted" : "parse_options refused (" + parsed.error() + ")") +
                   (model.accepted ? "; the model accepts" : "; the model refuses (" + model.message + ")") + ":" +
                   show_arguments(arguments));
    if (!parsed) {
        FUZZ_CHECK(parsed.error() == model.message, "parse_options said " + show(parsed.error()) + ", the model says " +
                                                        show(model.message) + ":" + show_arguments(arguments));
        return 0;
    }
    FUZZ_CHECK(*parsed == model.options, "parse_options gave" + show_options(*parsed) + "\n     the model gives" +
                                             show_options(model.options) + "\n     for" + show_arguments(arguments));

    std::vector<std::string> written{"--parent-process-id", std::to_string(parsed->parent_process_id)};
    for (const PathField& field : kPathFields) {
        written.push_back("--" + std::string(field.name));
        written.push_back(utf8_of((*parsed).*field.member));
    }
    for (const TextField& field : kTextFields) {
        written.push_back("--" + std::string(field.name));
        written.push_back((*parsed).*field.member);
    }
    const auto again = parse_options(written);
    FUZZ_CHECK(again.has_value(), "parse_options refused its own options written out (" + (again ? std::string() : again.error()) +
                                      "):" + show_arguments(written));
    FUZZ_CHECK(*again == *parsed, "written out and parsed again, the options became" + show_options(*again) +
                                      "\n     instead of" + show_options(*parsed));
    return 0;
}
