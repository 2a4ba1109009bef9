#pragma once
// How the update started last ended: what the application learns on a start,
// from what it finds in the update folder.
#include <optional>
#include <string>

#include "result_document.hpp"
#include "result.hpp"
#include "update_folder.hpp"

namespace vostrane {

enum class LastUpdate { none, running, ended };
struct LastUpdateReport {
    LastUpdate state = LastUpdate::none;
    Result<UpdateOutcome> outcome;  // when ended: the outcome, or why there is none
};

// `started` whether a started record exists; `helper_running` whether that
// helper still runs; `result_text` the result document, when there is one.
// A running helper may be writing its document, so only a finished one is
// taken as broken.
LastUpdateReport judge_last_update(bool started, bool helper_running, const std::optional<std::string>& result_text,
                                   const UpdateFolder& folder);

}  // namespace vostrane
