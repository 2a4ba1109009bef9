#pragma once
// What every fuzz target shares: a check that names the property that failed,
// shows the values involved and aborts, so that libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace vostrane::fuzz {

// Bytes as a C-like literal: printable ASCII as is (\" and \\ escaped), the rest as \xNN.
inline std::string show(std::string_view bytes) {
    std::string out = "\"";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(ch);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        }
    }
    return out + "\" (" + std::to_string(bytes.size()) + " bytes)";
}

// UTF-16 units: printable ASCII as is (\" and \\ escaped), the rest as \uNNNN.
inline std::string show(std::u16string_view units) {
    std::string out = "u\"";
    for (const char16_t u : units) {
        if (u == u'"' || u == u'\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(u));
        } else if (u >= 0x20 && u < 0x7F) {
            out.push_back(static_cast<char>(u));
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(u));
            out += buffer;
        }
    }
    return out + "\" (" + std::to_string(units.size()) + " units)";
}

[[noreturn]] inline void fail(const char* file, int line, const char* property, const std::string& detail) {
    std::fprintf(stderr, "\n==== PROPERTY FAILED at %s:%d\n     %s\n%s\n", file, line, property, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace vostrane::fuzz

// FUZZ_CHECK(condition, detail): `detail` is a std::string built only on failure.
#define FUZZ_CHECK(condition, detail)                                                 \
    do {                                                                              \
        if (!(condition)) ::vostrane::fuzz::fail(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)
