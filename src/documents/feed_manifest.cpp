#include "feed_manifest.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

#include "interface_texts.hpp"
#include "json_object.hpp"

namespace vostrane {
namespace {

const JsonValue* member(const std::vector<JsonMember>& members, std::string_view name) {
    const auto found = std::ranges::find(members, name, &JsonMember::name);
    return found == members.end() ? nullptr : &found->value;
}

std::unexpected<std::string> invalid(const std::string& why) {
    return failure(std::string(kManifestNotValid) + why + ".");
}

Result<std::string> required_string(const std::vector<JsonMember>& members, std::string_view name) {
    const JsonValue* value = member(members, name);
    if (value == nullptr) return invalid("\"" + std::string(name) + "\" is missing");
    const auto* text = std::get_if<std::string>(value);
    if (text == nullptr || text->empty()) return invalid("\"" + std::string(name) + "\" must be a non-empty string");
    return *text;
}

// The string members, in the order they are written.
constexpr std::pair<std::string_view, std::string FeedManifest::*> kTextMembers[] = {
    {"version", &FeedManifest::version},     {"sha256", &FeedManifest::sha256},
    {"signature", &FeedManifest::signature}, {"keyId", &FeedManifest::key_id},
    {"algorithm", &FeedManifest::algorithm}, {"fileName", &FeedManifest::file_name},
};

bool is_hex_digest(std::string_view text) {
    return text.size() == 64 && std::ranges::all_of(text, [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

// What the reader requires of the digest and the file name, once every
// string member is there.
Status check_digest_and_file_name(const FeedManifest& manifest) {
    if (!is_hex_digest(manifest.sha256)) return invalid("\"sha256\" must be 64 hex digits");
    if (!is_bare_file_name(manifest.file_name)) return invalid("\"fileName\" must be a file name, not a path");
    return {};
}

}  // namespace

bool is_bare_file_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    // Windows drops trailing dots and spaces, which could turn one name into another.
    if (name.back() == '.' || name.back() == ' ') return false;
    return std::ranges::none_of(name, [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
    });
}

Result<FeedManifest> read_feed_manifest(std::string_view text) {
    const auto members = read_flat_json_object(text);
    if (!members) return invalid(members.error());
    FeedManifest manifest;
    for (const auto& [name, field] : kTextMembers) {
        auto value = required_string(*members, name);
        RETURN_IF_FAILED(value);
        manifest.*field = std::move(*value);
    }
    RETURN_IF_FAILED(check_digest_and_file_name(manifest));
    const JsonValue* size = member(*members, "size");
    if (size == nullptr) return invalid("\"size\" is missing");
    const auto* bytes = std::get_if<std::int64_t>(size);
    if (bytes == nullptr || *bytes < 0) return invalid("\"size\" must be a whole number of bytes");
    manifest.size = static_cast<std::uint64_t>(*bytes);
    return manifest;
}

Result<std::string> write_feed_manifest(const FeedManifest& manifest) {
    std::string document = "{";
    for (const auto& [name, field] : kTextMembers) {
        const std::string& value = manifest.*field;
        if (value.empty()) return invalid("\"" + std::string(name) + "\" must be a non-empty string");
        document += json_string(name) + ":" + json_string(value) + ",";
    }
    RETURN_IF_FAILED(check_digest_and_file_name(manifest));
    // The reader takes integers up to 2^63 - 1 only.
    if (manifest.size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return invalid("\"size\" must be a whole number of bytes");
    }
    return document + "\"size\":" + std::to_string(manifest.size) + "}";
}

}  // namespace vostrane
