#pragma once
// The client's decisions, apart from the Windows calls that carry them out:
// which files an application's update folder holds, the helper's command, and
// what the application learns on its next start.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "feed_manifest.hpp"
#include "result_reader.hpp"
#include "options.hpp"
#include "process/child_command.hpp"
#include "reporting/result_file.hpp"
#include "result.hpp"
#include "windows_path.hpp"

namespace vostrane {

// An application's update folder: a folder of the user's own, outside the
// installation folder, that holds the helper's logs, its result, the record of
// the helper last started, and a copy of the helper for each run.
class UpdateFolder {
public:
    explicit UpdateFolder(std::u16string path) : path_(std::move(path)) {}
    [[nodiscard]] const std::u16string& path() const { return path_; }
    [[nodiscard]] std::u16string result_path() const;
    [[nodiscard]] std::u16string helper_log_path() const;
    [[nodiscard]] std::u16string msi_log_path() const;
    // Which helper was started last, written as it starts, removed once the
    // application has learned how its update ended.
    [[nodiscard]] std::u16string started_record_path() const;
    // A fresh folder for one run's copy of the helper: "helper-" and 16 hex digits.
    [[nodiscard]] std::u16string helper_copy_folder(std::uint64_t unique) const;

private:
    std::u16string path_;
};

// Whether a name in the update folder is one of helper_copy_folder's.
bool is_helper_copy_folder_name(std::u16string_view name);

// Where the pending update lies and where the application is.
struct PendingUpdate {
    std::u16string package_path;
    std::u16string helper_path;
    std::u16string install_dir;
    std::u16string app_path;
};

// The options for installing the manifest's package for this process.
UpdateOptions pending_update_options(const FeedManifest& manifest, const PendingUpdate& update,
                                     const UpdateFolder& folder, std::uint32_t process_id);

// How the helper copy is started with these options: from its own folder,
// with none of the application's handles. Options the helper would refuse
// fail here, with the helper's own message.
Result<ChildCommand> helper_command(const std::u16string& helper_copy, const UpdateOptions& options);

// The started record: the helper's process id and the path of its copy.
struct StartedHelper {
    std::uint32_t process_id = 0;
    std::u16string helper_copy;

    friend bool operator==(const StartedHelper&, const StartedHelper&) = default;
};
std::string started_record(const StartedHelper& helper);
// Nothing when the text is not a record (a record cut short by a failed write).
std::optional<StartedHelper> read_started_record(std::string_view text);

// What the application learns on a start, from what it finds.
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
