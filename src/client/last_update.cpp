#include "last_update.hpp"

#include "interface_texts.hpp"
#include "result_document.hpp"
#include "unicode.hpp"

namespace vostrane {

LastUpdateReport judge_last_update(bool started, bool helper_running, const std::optional<std::string>& result_text,
                                   const UpdateFolder& folder) {
    if (!started) return {LastUpdate::none, failure("")};
    if (result_text) {
        auto outcome = read_result_document(*result_text);
        if (outcome || !helper_running) return {LastUpdate::ended, std::move(outcome)};
        return {LastUpdate::running, failure("")};
    }
    if (helper_running) return {LastUpdate::running, failure("")};
    return {LastUpdate::ended,
            failure(std::string(kUpdateEndedWithoutResult) + utf16_to_utf8_lossy(folder.helper_log_path()) + ".")};
}

}  // namespace vostrane
