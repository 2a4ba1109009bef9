#pragma once
// The result file: one compact JSON document for the application's next start.
#include <cstdint>
#include <string>
#include <string_view>

namespace vostrane {

struct UpdateOutcome {
    std::string status;  // "success", "restartRequired", "restartInitiated" or "error"
    std::int32_t exit_code = 0;
    std::string message;

    friend bool operator==(const UpdateOutcome&, const UpdateOutcome&) = default;
};

// {"status":"…","exitCode":…,"message":"…"}, byte for byte.
std::string result_document(const UpdateOutcome& outcome);

// JSON string escaping of UTF-8 text, without the surrounding quotes.
std::string escape_json_string(std::string_view text);

// Deletes an earlier result file, read-only ones too; failures are ignored. (Windows)
void clear_result_file(const std::u16string& path);

// Replaces the result file with the document; failures are ignored. (Windows)
void write_result_file(const std::u16string& path, const UpdateOutcome& outcome);

}  // namespace vostrane
