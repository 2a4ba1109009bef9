// The client library's strict reader of flat JSON objects, against a real
// JSON parser (nlohmann/json, strict about UTF-8 and surrogates), on any text:
//  - what the reader accepts, the parser accepts too, as an object with the
//    same members in the same order and the same values;
//  - what the parser reads as an object of strings and integers, the reader
//    accepts, unless a name is given twice (the parser keeps the last), a
//    name or value holds a NUL (the reader refuses "\u0000") or an integer is
//    beyond 64 signed bits;
//  - a result document the reader accepts is byte for byte the one the
//    helper writes for the outcome read;
//  - a feed manifest the reader accepts, the signing tool's writer writes,
//    and what it writes reads back as the same manifest.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "json_object.hpp"
#include "feed_manifest.hpp"
#include "result_document.hpp"

using namespace vostrane;
using namespace vostrane::fuzz;

namespace {

bool same_value(const JsonValue& ours, const nlohmann::ordered_json& theirs) {
    if (const auto* text = std::get_if<std::string>(&ours)) return theirs.is_string() && theirs.get<std::string>() == *text;
    const auto number = std::get<std::int64_t>(ours);
    if (theirs.is_number_unsigned()) return number >= 0 && theirs.get<std::uint64_t>() == static_cast<std::uint64_t>(number);
    return theirs.is_number_integer() && theirs.get<std::int64_t>() == number;
}

// What the parser saw at the object's top level, duplicates included (its
// result keeps only the last value of a name).
struct TopLevel {
    std::vector<std::string> names;
    bool only_strings_and_integers = true;
    bool holds_nul = false;
};

bool holds_nul(const nlohmann::ordered_json& parsed) {
    return parsed.is_string() && parsed.get<std::string>().find('\0') != std::string::npos;
}

TopLevel top_level_of(std::string_view text) {
    TopLevel seen;
    using Event = nlohmann::ordered_json::parse_event_t;
    const auto callback = [&](int depth, Event event, nlohmann::ordered_json& parsed) {
        if (depth == 1 && event == Event::key) seen.names.push_back(parsed.get<std::string>());
        if (depth == 1 && (event == Event::key || event == Event::value) && holds_nul(parsed)) seen.holds_nul = true;
        if (depth == 1 && event == Event::value && !parsed.is_string() && !parsed.is_number_integer()) {
            seen.only_strings_and_integers = false;
        }
        if (depth >= 1 && (event == Event::object_start || event == Event::array_start)) {
            seen.only_strings_and_integers = false;
        }
        return true;
    };
    (void)nlohmann::ordered_json::parse(text, callback, false);
    return seen;
}

bool has_duplicates(std::vector<std::string> names) {
    std::ranges::sort(names);
    return std::ranges::adjacent_find(names) != names.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto ours = read_flat_json_object(text);
    const auto theirs = nlohmann::ordered_json::parse(text, nullptr, false);

    if (ours) {
        FUZZ_CHECK(!theirs.is_discarded() && theirs.is_object(), "accepted, but not a JSON object: " + show(text));
        FUZZ_CHECK(theirs.size() == ours->size(), "another number of members: " + show(text));
        std::size_t i = 0;
        for (const auto& [name, value] : theirs.items()) {
            FUZZ_CHECK(name == (*ours)[i].name, "another name or order: " + show(text));
            FUZZ_CHECK(same_value((*ours)[i].value, value), "another value of \"" + name + "\": " + show(text));
            ++i;
        }
    } else if (!theirs.is_discarded() && theirs.is_object() && text.find('\0') == std::string_view::npos) {
        // (The parser takes a NUL byte for the end of its input, so text after
        // one is not compared: the reader refuses it, rightly.)
        const TopLevel seen = top_level_of(text);
        if (seen.only_strings_and_integers && !seen.holds_nul && !has_duplicates(seen.names)) {
            FUZZ_CHECK(ours.error().find("out of range") != std::string::npos,
                       "refused (" + ours.error() + ") though it is an object of strings and integers: " + show(text));
        }
    }

    if (const auto outcome = read_result_document(text)) {
        FUZZ_CHECK(result_document(*outcome) == text, "a result document not as the helper writes it: " + show(text));
    }
    if (const auto manifest = read_feed_manifest(text)) {
        const auto written = write_feed_manifest(*manifest);
        FUZZ_CHECK(written.has_value(), "a manifest the reader accepts is not written: " + show(text));
        FUZZ_CHECK(read_feed_manifest(*written) == manifest, "a written manifest reads back otherwise: " + show(*written));
    }
    return 0;
}
