#pragma once
// The helper's options and command for a pending update: what the
// application starts its copy of the helper with.
#include <cstdint>
#include <string>

#include "feed_manifest.hpp"
#include "options.hpp"
#include "process/child_command.hpp"
#include "result.hpp"
#include "update_folder.hpp"

namespace vostrane {

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

}  // namespace vostrane
