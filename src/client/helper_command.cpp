#include "helper_command.hpp"

#include <vector>

#include "interface_texts.hpp"
#include "unicode.hpp"
#include "windows_path.hpp"

namespace vostrane {

UpdateOptions pending_update_options(const FeedManifest& manifest, const PendingUpdate& update,
                                     const UpdateFolder& folder, std::uint32_t process_id) {
    UpdateOptions options;
    options.parent_process_id = process_id;
    options.msi_path = update.package_path;
    options.install_dir = update.install_dir;
    options.app_path = update.app_path;
    options.msi_log_path = folder.msi_log_path();
    options.helper_log_path = folder.helper_log_path();
    options.result_path = folder.result_path();
    options.expected_sha256 = manifest.sha256;
    options.expected_version = manifest.version;
    options.signature = manifest.signature;
    options.key_id = manifest.key_id;
    options.signature_algorithm = manifest.algorithm;
    return options;
}

Result<ChildCommand> helper_command(const std::u16string& helper_copy, const UpdateOptions& options) {
    auto arguments = option_arguments(options);
    std::vector<std::string> as_helper_reads_them;
    for (const auto& argument : arguments) {
        auto text = utf16_to_utf8(argument);
        if (!text) return failure(std::string(kArgumentsNotUnicode));
        as_helper_reads_them.push_back(std::move(*text));
    }
    // The options are read back as the helper reads them (trimmed, the digest
    // in lower case), so that a value it would refuse fails here, before the
    // application exits, and the command carries what it will read.
    const auto read_back = parse_options(as_helper_reads_them);
    RETURN_IF_FAILED(read_back);
    ChildCommand command;
    command.program = helper_copy;
    command.arguments = option_arguments(*read_back);
    command.working_directory = std::u16string(parent_directory(helper_copy));
    command.inherits_standard_handles = false;
    return command;
}

}  // namespace vostrane
