#pragma once
// An independent model of the Unicode rules the helper relies on, written from
// RFC 3629 (the table of well-formed UTF-8 byte sequences) and the Unicode
// White_Space property, to judge the helper's own code against.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vostrane::fuzz {

// One row per lead-byte range: how many bytes the sequence has and the range
// each following byte must fall in (RFC 3629 section 4, UTF8-2 to UTF8-4).
struct Utf8Row {
    unsigned char lead_min, lead_max;
    std::size_t length;
    unsigned char next_min[3], next_max[3];
};
inline constexpr Utf8Row kUtf8Rows[] = {
    {0x00, 0x7F, 1, {}, {}},
    {0xC2, 0xDF, 2, {0x80}, {0xBF}},
    {0xE0, 0xE0, 3, {0xA0, 0x80}, {0xBF, 0xBF}},
    {0xE1, 0xEC, 3, {0x80, 0x80}, {0xBF, 0xBF}},
    {0xED, 0xED, 3, {0x80, 0x80}, {0x9F, 0xBF}},
    {0xEE, 0xEF, 3, {0x80, 0x80}, {0xBF, 0xBF}},
    {0xF0, 0xF0, 4, {0x90, 0x80, 0x80}, {0xBF, 0xBF, 0xBF}},
    {0xF1, 0xF3, 4, {0x80, 0x80, 0x80}, {0xBF, 0xBF, 0xBF}},
    {0xF4, 0xF4, 4, {0x80, 0x80, 0x80}, {0x8F, 0xBF, 0xBF}},
};

inline constexpr char32_t kReplacement = 0xFFFD;

// One decoded unit of text: a character, or U+FFFD standing for an ill-formed
// part; `begin` and `length` say which bytes it came from.
struct Utf8Piece {
    char32_t code_point;
    std::size_t begin;
    std::size_t length;
    bool well_formed;
};

// Decodes all of `text`. An ill-formed part becomes one U+FFFD for each maximal
// subpart: the longest prefix of a well-formed sequence, or else one byte.
inline std::vector<Utf8Piece> decode_utf8_reference(std::string_view text) {
    std::vector<Utf8Piece> pieces;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const Utf8Row* row = nullptr;
        for (const Utf8Row& r : kUtf8Rows) {
            if (lead >= r.lead_min && lead <= r.lead_max) row = &r;
        }
        if (row == nullptr) {
            pieces.push_back({kReplacement, i, 1, false});
            ++i;
            continue;
        }
        std::size_t matched = 1;
        while (matched < row->length && i + matched < text.size()) {
            const auto byte = static_cast<unsigned char>(text[i + matched]);
            if (byte < row->next_min[matched - 1] || byte > row->next_max[matched - 1]) break;
            ++matched;
        }
        if (matched < row->length) {
            pieces.push_back({kReplacement, i, matched, false});
            i += matched;
            continue;
        }
        // Well formed: the value bits are the low bits of each byte.
        char32_t value = lead & (row->length == 1 ? 0x7F : (0x7F >> row->length));
        for (std::size_t k = 1; k < row->length; ++k) value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        pieces.push_back({value, i, row->length, true});
        i += row->length;
    }
    return pieces;
}

inline bool is_valid_utf8_reference(std::string_view text) {
    for (const Utf8Piece& piece : decode_utf8_reference(text)) {
        if (!piece.well_formed) return false;
    }
    return true;
}

inline void append_utf16_reference(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        out.push_back(static_cast<char16_t>(0xD800 | ((c - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | ((c - 0x10000) & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

inline void append_utf8_reference(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The UTF-16 form of the reference decoding (ill-formed parts as U+FFFD).
inline std::u16string utf8_to_utf16_reference(std::string_view text) {
    std::u16string out;
    for (const Utf8Piece& piece : decode_utf8_reference(text)) append_utf16_reference(out, piece.code_point);
    return out;
}

// UTF-16 code units to code points; an unpaired surrogate is kept as its own
// value and flagged.
struct Utf16Piece {
    char32_t code_point;
    bool unpaired_surrogate;
};
inline std::vector<Utf16Piece> decode_utf16_reference(std::u16string_view units) {
    std::vector<Utf16Piece> pieces;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t u = units[i];
        const bool high = u >= 0xD800 && u < 0xDC00;
        const bool low = u >= 0xDC00 && u < 0xE000;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            pieces.push_back({0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u), false});
            ++i;
        } else {
            pieces.push_back({u, high || low});
        }
    }
    return pieces;
}

// The 25 characters with the Unicode White_Space property (PropList.txt).
inline bool is_white_space_reference(char32_t c) {
    static constexpr char32_t kWhiteSpace[] = {
        0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
        0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
        0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
    };
    for (const char32_t w : kWhiteSpace) {
        if (c == w) return true;
    }
    return false;
}

// The text without the well-formed White_Space characters at either end, as
// an offset and a length into `text`.
struct Span {
    std::size_t begin;
    std::size_t length;
};
inline Span trim_white_space_reference(std::string_view text) {
    const std::vector<Utf8Piece> pieces = decode_utf8_reference(text);
    std::size_t first = 0;
    std::size_t last = pieces.size();
    const auto is_space = [](const Utf8Piece& p) { return p.well_formed && is_white_space_reference(p.code_point); };
    while (first < last && is_space(pieces[first])) ++first;
    while (last > first && is_space(pieces[last - 1])) --last;
    if (first == last) return {first < pieces.size() ? pieces[first].begin : text.size(), 0};
    const std::size_t begin = pieces[first].begin;
    return {begin, pieces[last - 1].begin + pieces[last - 1].length - begin};
}

}  // namespace vostrane::fuzz
