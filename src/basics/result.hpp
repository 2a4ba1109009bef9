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

// Runs the steps (callables returning Status) one after another until one
// fails: that failure, or success when all succeed. It stands for the early
// return after each step of a sequence.
template <class... Steps>
Status in_order(Steps&&... steps) {
    Status status;
    ((status = status ? steps() : status), ...);
    return status;
}

}  // namespace vostrane
