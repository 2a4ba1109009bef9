#pragma once
// An application's update folder: which files it holds, and the record of the
// helper last started from it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vostrane {

// A folder of the user's own, outside the installation folder, that holds the
// helper's logs, its result, the record of the helper last started, and a
// copy of the helper for each run.
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

// The started record: the helper's process id and the path of its copy.
struct StartedHelper {
    std::uint32_t process_id = 0;
    std::u16string helper_copy;

    friend bool operator==(const StartedHelper&, const StartedHelper&) = default;
};
std::string started_record(const StartedHelper& helper);
// Nothing when the text is not a record (a record cut short by a failed write).
std::optional<StartedHelper> read_started_record(std::string_view text);

}  // namespace vostrane
