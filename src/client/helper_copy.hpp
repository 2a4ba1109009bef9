#pragma once
// The helper's private copy in the update folder, which the user (and any of
// the user's programs) can write: made so that what starts is the file the
// library wrote, and removed without following anything planted there.
// (Windows)
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "result.hpp"
#include "win/file_io.hpp"
#include "win/unique_handle.hpp"

namespace vostrane::client {

// A copy of the helper that nobody can write, replace or delete while it is
// held: its handle denies both to everyone else, and the bytes it holds are
// checked against the helper's once that handle is open.
class HeldHelperCopy {
public:
    // Copies `helper` to `copy`, a file that must not exist yet.
    static Result<HeldHelperCopy> make(const std::u16string& helper, const std::u16string& copy);

    [[nodiscard]] const std::u16string& path() const { return path_; }
    // Whether the process runs this very file: the file its image path names
    // now is compared by identity, not by name.
    [[nodiscard]] Status check_image_of(HANDLE process) const;

private:
    HeldHelperCopy(win::unique_file file, win::FileIdentity identity, std::u16string path)
        : file_(std::move(file)), identity_(identity), path_(std::move(path)) {}

    win::unique_file file_;
    win::FileIdentity identity_;
    std::u16string path_;
};

// Removes a helper copy's folder and the files in it. The folder is opened
// as itself, never through a link: a link is removed as a link, and a folder
// that is not where its name says (Wine shows a linked folder as a plain one)
// is left alone. Only files listed through that handle are deleted, each
// after it has been opened and found to be the file listed. `after_listing`
// runs between the listing and the deletions (tests change the folder there).
void remove_helper_copy(const std::u16string& folder, const std::function<void()>& after_listing = {});

// The path of the process's program, as Windows reports it.
std::optional<std::u16string> process_image_path(HANDLE process);

// The names of the folders in `folder`, listed through a handle to it.
std::vector<std::u16string> folder_names_in(const std::u16string& folder);

}  // namespace vostrane::client
