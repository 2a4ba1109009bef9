#include "formatted_text.hpp"

#include <algorithm>
#include <ranges>

namespace vostrane {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Adds a literal to the end of an alternative, joined to a literal there.
void append_literal(Alternative& alternative, std::string_view literal) {
    if (literal.empty()) return;
    if (!alternative.empty() && !alternative.back().origin) {
        alternative.back().text += literal;
    } else {
        alternative.push_back({std::nullopt, std::string(literal), {}});
    }
}

void append_piece(Alternative& alternative, const Piece& piece) {
    if (piece.origin) {
        alternative.push_back(piece);
    } else {
        append_literal(alternative, piece.text);
    }
}

// Every alternative of `head` followed by every alternative of `tail`; more
// than the evaluation follows is unknown, brought by `reference`.
Value concatenate(const Value& head, const Value& tail, std::string_view reference) {
    const Value too_many = value_from(Origin::unknown, std::string(reference));
    if (head == too_many) return head;
    Value joined;
    for (const Alternative& first : head) {
        for (const Alternative& second : tail) {
            Alternative alternative = first;
            for (const Piece& piece : second) append_piece(alternative, piece);
            joined.insert(std::move(alternative));
            if (joined.size() > kMostAlternatives) return too_many;
        }
    }
    return joined;
}

Value literal_value(std::string_view text) {
    Alternative alternative;
    append_literal(alternative, text);
    return {alternative};
}

// The text an alternative spells, when it is literal throughout.
std::optional<std::string> literal_text(const Alternative& alternative) {
    std::string text;
    for (const Piece& piece : alternative) {
        if (piece.origin) return std::nullopt;
        text += piece.text;
    }
    return text;
}

// The partner of each bracket and brace that has one, and "[\x]" escapes
// taken as a whole, so that "[\]]" is the character ']' and no pair.
std::vector<std::size_t> find_pairs(std::string_view text) {
    std::vector<std::size_t> partner(text.size(), kNone);
    std::vector<std::size_t> brackets, braces;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '[' && at + 3 < text.size() && text[at + 1] == '\\' && text[at + 3] == ']') {
            partner[at] = at + 3;
            at += 3;
        } else if (c == '[') {
            brackets.push_back(at);
        } else if (c == '{') {
            braces.push_back(at);
        } else if ((c == ']' && !brackets.empty()) || (c == '}' && !braces.empty())) {
            auto& open = c == ']' ? brackets : braces;
            partner[open.back()] = at;
            open.pop_back();
        }
    }
    return partner;
}

class Evaluation {
public:
    Evaluation(std::string_view text, const FormattedNames& names)
        : text_(text), names_(names), partner_(find_pairs(text)) {}

    struct Sequence {
        Value value;
        bool has_reference = false;
    };

    // The text from `begin` up to `end`, where pairs that reach past `end`
    // are text.
    Sequence sequence(std::size_t begin, std::size_t end) const {
        Sequence result{{Alternative{}}, false};
        std::string literal;
        const auto add = [&](const Value& value) {
            result.value = concatenate(result.value, literal_value(literal), raw(begin, end));
            literal.clear();
            result.value = concatenate(result.value, value, raw(begin, end));
        };
        for (std::size_t at = begin; at < end;) {
            const std::size_t close = partner_[at];
            if (close == kNone || close >= end) {
                literal += text_[at++];
            } else if (is_escape(at, close)) {
                literal += text_[at + 2];
                at = close + 1;
            } else if (text_[at] == '[') {
                add(reference(at, close));
                result.has_reference = true;
                at = close + 1;
            } else {
                Sequence group = sequence(at + 1, close);
                if (group.has_reference) {
                    group.value.insert(Alternative{});  // a property not found removes the group
                    add(group.value);
                    result.has_reference = true;
                } else {
                    literal += raw(at, close + 1);
                }
                at = close + 1;
            }
        }
        add(Value{Alternative{}});
        return result;
    }

private:
    [[nodiscard]] std::string_view raw(std::size_t begin, std::size_t end) const {
        return text_.substr(begin, end - begin);
    }
    [[nodiscard]] bool is_escape(std::size_t open, std::size_t close) const {
        return text_[open] == '[' && close == open + 3 && text_[open + 1] == '\\';
    }

    // "[...]" from `open` to `close`: the inside first, then what the name it
    // spells stands for, each part brought by this reference.
    Value reference(std::size_t open, std::size_t close) const {
        const std::string reference_text(raw(open, close + 1));
        Value resolved;
        for (const Alternative& name : sequence(open + 1, close).value) {
            const auto spelled = literal_text(name);
            const Value value = spelled ? resolve(*spelled) : value_from(Origin::unknown);
            for (Alternative alternative : value) {
                for (Piece& piece : alternative) {
                    if (piece.origin) piece.text = reference_text;
                }
                resolved.insert(std::move(alternative));
            }
            if (resolved.size() > kMostAlternatives) return value_from(Origin::unknown, reference_text);
        }
        return resolved;
    }

    [[nodiscard]] Value resolve(std::string_view name) const {
        if (name.empty()) return {Alternative{}};
        if (name == "~") return literal_value(std::string_view("\0", 1));
        const std::string_view rest = name.substr(1);
        switch (name.front()) {
            case '%':
                return value_from(Origin::environment);
            case '#':
            case '!':
                return names_.file(rest);
            case '$':
                return names_.component_folder(rest);
            case '\\':
                if (rest.size() == 1) return literal_value(rest);
                break;
            default:
                break;
        }
        return names_.property(name);
    }

    std::string_view text_;
    const FormattedNames& names_;
    std::vector<std::size_t> partner_;
};

}  // namespace

Value value_from(Origin origin, std::string reference, std::string set_by) {
    return {Alternative{Piece{origin, std::move(reference), std::move(set_by)}}};
}

Value evaluate_formatted(std::string_view text, const FormattedNames& names) {
    return Evaluation(text, names).sequence(0, text.size()).value;
}

}  // namespace vostrane
