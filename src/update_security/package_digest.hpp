#pragma once
// The platform-free part of the package digest: SHA-256 over a stream of reads.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "result.hpp"

namespace vostrane {

// One buffer of this size serves every read of a digest computation, so memory
// use does not depend on the package size.
inline constexpr std::size_t kPackageReadBufferSize = 65536;

// Fills the start of `buffer` and returns how many bytes it read (0 at the end
// of the file), or the description of the failed read.
using ReadChunk = std::function<Result<std::size_t>(std::span<std::uint8_t> buffer)>;

// Reads until `read_chunk` returns 0 and gives the SHA-256 digest as 64
// lower-case hex digits; the first failed read ends it with that read's message.
Result<std::string> digest_stream(const ReadChunk& read_chunk);

}  // namespace vostrane
