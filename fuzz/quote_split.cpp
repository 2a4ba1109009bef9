// Quoting (build_command_line, quote_argument) against splitting
// (split_command_line): whatever list is quoted comes back unchanged.
//
// Input: one mode byte, then the text. Mode bit 0: the text is UTF-16 code
// units as little-endian byte pairs (else one byte is one unit, which makes
// quotes, backslashes and spaces easy to reach). The units are split at U+0000
// into the arguments (an empty text gives none). Mode bit 1: the first of them
// is the program, unless it holds a double quote (the program text is quoted
// as it is, never escaped); else the program is "p.exe". Mode bit 2: a NUL is
// put into one argument, at a place the next byte chooses, and building must
// then fail. Mode bit 3: the text is itself a command line (up to its first
// U+0000, as GetCommandLineW never holds one) and is only split.
//  - build_command_line fails exactly when a NUL is present, with the fixed text;
//  - otherwise split_command_line gives back the program and every argument;
//  - quote_argument leaves an argument alone unless it is empty or holds a
//    space, tab or double quote;
//  - any command line splits as the model of the C runtime's start-up code
//    below does (this reaches the rules that quoting never produces, such as a
//    doubled quote inside quotes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "fuzz_check.hpp"
#include "io_error.hpp"
#include "process/child_command.hpp"

using namespace vostrane;
using namespace vostrane::fuzz;

namespace {

std::string show_list(const std::vector<std::u16string>& list) {
    std::string out;
    for (const auto& item : list) out += "\n       " + show(item);
    return out;
}

// The C runtime's reading of a command line (its parse_cmdline), as a model:
// the program name ends at a space or tab outside quotes, quotes only toggle
// and backslashes are literal in it. In an argument, 2n backslashes and a
// quote give n backslashes and toggle quoting, 2n+1 and a quote give n and a
// literal quote, backslashes before anything else stay as they are, and a
// doubled quote inside quotes gives one literal quote and stays quoted.
std::vector<std::u16string> split_model(std::u16string_view s) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    std::vector<std::u16string> out;
    std::size_t i = 0;
    std::u16string program;
    bool quoted = false;
    for (; i < s.size(); ++i) {
        if (s[i] == u'"') {
            quoted = !quoted;
        } else if (!quoted && blank(s[i])) {
            ++i;
            break;
        } else {
            program += s[i];
        }
    }
    out.push_back(program);
    quoted = false;
    for (;;) {
        while (i < s.size() && blank(s[i])) ++i;
        if (i == s.size()) break;
        std::u16string argument;
        for (;;) {
            std::size_t slashes = 0;
            while (i < s.size() && s[i] == u'\\') {
                ++i;
                ++slashes;
            }
            bool copy = true;
            if (i < s.size() && s[i] == u'"') {
                if (slashes % 2 == 0) {
                    if (quoted && i + 1 < s.size() && s[i + 1] == u'"') {
                        ++i;
                    } else {
                        copy = false;
                        quoted = !quoted;
                    }
                }
                slashes /= 2;
            }
            argument.append(slashes, u'\\');
            if (i == s.size() || (!quoted && blank(s[i]))) break;
            if (copy) argument += s[i];
            ++i;
        }
        out.push_back(argument);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    std::size_t nul_place = 0;
    if ((mode & 4) != 0) {
        if (size == 0) return 0;
        nul_place = data[0];
        ++data;
        --size;
    }

    std::u16string units;
    if ((mode & 1) != 0) {
        for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    } else {
        for (std::size_t i = 0; i < size; ++i) units.push_back(data[i]);
    }

    if ((mode & 8) != 0) {
        const std::u16string_view line = std::u16string_view(units).substr(0, units.find(u'\0'));
        const std::vector<std::u16string> split = split_command_line(line);
        const std::vector<std::u16string> expected = split_model(line);
        FUZZ_CHECK(split == expected, "split_command_line of " + show(line) + " gave" + show_list(split) +
                                          "\n     the C runtime's rules give" + show_list(expected));
        return 0;
    }

    std::vector<std::u16string> pieces;
    if (!units.empty()) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t nul = units.find(u'\0', start);
            pieces.push_back(units.substr(start, nul == std::u16string::npos ? std::u16string::npos : nul - start));
            if (nul == std::u16string::npos) break;
            start = nul + 1;
        }
    }

    ChildCommand command{u"p.exe", {}, std::nullopt};
    std::size_t first_argument = 0;
    if ((mode & 2) != 0 && !pieces.empty() && pieces[0].find(u'"') == std::u16string::npos) {
        command.program = pieces[0];
        first_argument = 1;
    }
    command.arguments.assign(pieces.begin() + static_cast<std::ptrdiff_t>(first_argument), pieces.end());

    for (const std::u16string& argument : command.arguments) {
        const auto quoted = quote_argument(argument);
        FUZZ_CHECK(quoted.has_value(), "quote_argument refused " + show(argument));
        const bool needs_quoting = argument.empty() || argument.find_first_of(u" \t\"") != std::u16string::npos;
        if (!needs_quoting) {
            FUZZ_CHECK(*quoted == argument, "quote_argument changed " + show(argument) + " into " + show(*quoted));
        }
    }

    if ((mode & 4) != 0) {
        if (command.arguments.empty()) return 0;
        std::u16string& target = command.arguments[nul_place % command.arguments.size()];
        target.insert(target.begin() + static_cast<std::ptrdiff_t>(nul_place % (target.size() + 1)), u'\0');
        const auto line = build_command_line(command);
        FUZZ_CHECK(!line.has_value(), "build_command_line accepted an argument with a NUL:" + show_list(command.arguments));
        FUZZ_CHECK(line.error() == IoError::fixed_text(std::string(kNulByteInData)),
                   "build_command_line refused a NUL with another error");
        return 0;
    }

    const auto line = build_command_line(command);
    FUZZ_CHECK(line.has_value(), "build_command_line refused:" + show_list(command.arguments));

    std::vector<std::u16string> expected{command.program};
    expected.insert(expected.end(), command.arguments.begin(), command.arguments.end());
    const std::vector<std::u16string> split = split_command_line(*line);
    FUZZ_CHECK(split == expected, "the command line " + show(*line) + "\n     split into" + show_list(split) +
                                      "\n     but was built from" + show_list(expected));
    return 0;
}
