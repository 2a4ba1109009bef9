#pragma once
// The feed manifest: what the application needs besides the package, as one
// JSON object that the publisher's signing tool writes and the application reads.
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace vostrane {

struct FeedManifest {
    std::string version;
    std::string sha256;
    std::string signature;
    std::string key_id;
    std::string algorithm;
    std::string file_name;
    std::uint64_t size = 0;

    friend bool operator==(const FeedManifest&, const FeedManifest&) = default;
};

// The manifest in the text, or "The feed manifest is not valid: {why}.".
// Members other than the seven are ignored, so a feed may carry its own.
Result<FeedManifest> read_feed_manifest(std::string_view text);

// {"version":…,"sha256":…,"signature":…,"keyId":…,"algorithm":…,"fileName":…,"size":…},
// byte for byte, or the reader's message for what it would refuse (an empty
// value, a digest that is not 64 hex digits, a file name that is a path), so
// that nothing is handed out that the application cannot read.
Result<std::string> write_feed_manifest(const FeedManifest& manifest);

// Whether a name from a feed may name a file in a folder of the application's:
// a bare name, never a path, a device or a name Windows would change.
bool is_bare_file_name(std::string_view name);

}  // namespace vostrane
