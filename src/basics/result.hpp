#pragma once
// Failures travel as values: an operation returns its result or one English
// message, never an exception.
#include <expected>
#include <string>
#include <utility>

namespace vostrane {

template <class T>
using Result = std::expected<T, std::string>;

// Success without a value, or the message of what went wrong.
using Status = std::expected<void, std::string>;

inline std::unexpected<std::string> failure(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

// Passes a failure up unchanged, the one short form for it: when `result` (a
// Result, a Status or any std::expected) holds an error, the enclosing
// function returns that error. A failure that must become other text is
// turned into it where it meets that text, not here.
//
//     auto rows = reader.rows(table, columns);
//     RETURN_IF_FAILED(rows);
//     RETURN_IF_FAILED(write_all(file, bytes));
#define RETURN_IF_FAILED(result)                                                          \
    do {                                                                                  \
        if (auto&& vostrane_passed_up_ = (result); !vostrane_passed_up_) {                \
            return std::unexpected(                                                       \
                std::forward<decltype(vostrane_passed_up_)>(vostrane_passed_up_).error()); \
        }                                                                                 \
    } while (false)

}  // namespace vostrane
