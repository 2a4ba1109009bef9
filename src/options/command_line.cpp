#include "command_line.hpp"

namespace vostrane {
namespace {

bool is_separator(char16_t c) { return c == u' ' || c == u'\t'; }

// Reads the command line one character at a time, the way the C runtime's
// start-up code does.
class CommandLineReader {
public:
    explicit CommandLineReader(std::u16string_view text) : text_(text) {}

    // The program name is a path, so backslashes in it are literal; quotes only
    // toggle whether a space or tab ends it.
    std::u16string read_program_name() {
        std::u16string name;
        bool in_quotes = false;
        while (!at_end()) {
            const char16_t c = take();
            if (c == u'"') {
                in_quotes = !in_quotes;
            } else if (!in_quotes && is_separator(c)) {
                break;
            } else {
                name.push_back(c);
            }
        }
        return name;
    }

    bool skip_separators() {
        while (!at_end() && is_separator(peek())) take();
        return !at_end();
    }

    // Backslashes are literal unless a quote follows them: then each pair gives
    // one backslash, and an odd one left over turns the quote into a literal.
    // Inside quotes, a doubled quote gives one literal quote and quoting goes on.
    std::u16string read_argument() {
        std::u16string argument;
        bool in_quotes = false;
        while (!at_end()) {
            const std::size_t backslashes = take_backslashes();
            if (at_end() || peek() != u'"') {
                argument.append(backslashes, u'\\');
                if (at_end() || (!in_quotes && is_separator(peek()))) break;
                argument.push_back(take());
                continue;
            }
            argument.append(backslashes / 2, u'\\');
            take();  // the quote
            if (backslashes % 2 == 1) {
                argument.push_back(u'"');
            } else if (in_quotes && !at_end() && peek() == u'"') {
                argument.push_back(take());
            } else {
                in_quotes = !in_quotes;
            }
        }
        return argument;
    }

private:
    bool at_end() const { return position_ == text_.size(); }
    char16_t peek() const { return text_[position_]; }
    char16_t take() { return text_[position_++]; }

    std::size_t take_backslashes() {
        std::size_t count = 0;
        while (!at_end() && peek() == u'\\') {
            take();
            ++count;
        }
        return count;
    }

    std::u16string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view command_line) {
    CommandLineReader reader(command_line);
    std::vector<std::u16string> arguments{reader.read_program_name()};
    while (reader.skip_separators()) arguments.push_back(reader.read_argument());
    return arguments;
}

}  // namespace vostrane
