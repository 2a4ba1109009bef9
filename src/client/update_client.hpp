#pragma once
// The client library's operations, in C++: what the C interface and the
// application's own C++ code call. (Windows)
#include <string>

#include "feed_manifest.hpp"
#include "result.hpp"
#include "helper_command.hpp"
#include "last_update.hpp"

namespace vostrane::client {

// The pending update's two files, as the application downloaded them.
struct PendingFiles {
    std::u16string manifest_path;
    std::u16string package_path;
};

// Copies the helper into a new folder of its own in the update folder (made
// with its ancestors if missing), records it, and starts it with the options.
Status start_update(const std::u16string& helper_path, const UpdateFolder& folder, const UpdateOptions& options);

Result<FeedManifest> load_feed_manifest(const std::u16string& path);

// Checks the package's size against the manifest, then start_update for this process.
Status start_pending_update(const FeedManifest& manifest, const PendingUpdate& update, const UpdateFolder& folder);

Result<UpdateOutcome> load_update_result(const std::u16string& path);

// How the update started last ended (judge_last_update); once it has ended,
// forgets it, removes the helper copies not in use, and after an installed
// outcome discards the pending files.
LastUpdateReport finish_update(const UpdateFolder& folder, const PendingFiles& pending);

// Deletes the manifest and the package; missing ones are fine.
Status discard_pending_update(const PendingFiles& pending);

}  // namespace vostrane::client
