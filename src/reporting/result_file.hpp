#pragma once
// The result file: the result document, written where the application will
// read it on its next start. (Windows)
#include <string>

#include "result_document.hpp"

namespace vostrane {

// Deletes an earlier result file, read-only ones too; failures are ignored.
void clear_result_file(const std::u16string& path);

// Replaces the result file with the document; failures are ignored.
void write_result_file(const std::u16string& path, const UpdateOutcome& outcome);

}  // namespace vostrane
