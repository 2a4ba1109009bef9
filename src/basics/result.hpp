#pragma once
// Failures travel as values: an operation returns its result or one English
// message, never an exception.
#include <expected>
#include <string>

namespace vostrane {

template <class T>
using Result = std::expected<T, std::string>;

// Success without a value, or the message of what went wrong.
using Status = std::expected<void, std::string>;

inline std::unexpected<std::string> failure(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

}  // namespace vostrane
