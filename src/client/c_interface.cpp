// The C interface: checks what crosses it, converts texts, and copies the
// answers into the caller's fixed fields. No exception leaves it.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <exception>
#include <string_view>

#include "interface_texts.hpp"
#include "unicode.hpp"
#include "update_client.hpp"
#include "vostrane_update_client.h"
#include "windows_path.hpp"

namespace vostrane::client {
namespace {

// The longest prefix of UTF-8 text that fits `capacity` bytes with its NUL,
// cut before a continuation byte so no character is split.
void copy_cut(std::string_view text, char* field, std::size_t capacity) {
    std::size_t length = std::min(text.size(), capacity - 1);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

vostrane_status fail(vostrane_error* error, std::string_view message) {
    if (error != nullptr) copy_cut(message, error->message, sizeof error->message);
    return VOSTRANE_FAILED;
}

// What crosses the C boundary: the status code, and the message of a failure.
vostrane_status reported(const Status& status, vostrane_error* error) {
    return status ? VOSTRANE_OK : fail(error, status.error());
}

vostrane_status reported(const Result<vostrane_status>& status, vostrane_error* error) {
    return status ? *status : fail(error, status.error());
}

// A path argument: present, well-formed, full, and converted once. A path
// relative to the current folder would name another file for the helper,
// which runs in a folder of its own.
Result<std::u16string> path_argument(const char* text, std::string_view name) {
    if (text == nullptr) return failure(std::string(name) + std::string(kIsMissing));
    if (!is_valid_utf8(text)) return failure(std::string(name) + std::string(kNotUtf8));
    std::u16string path = utf8_to_utf16(text);
    if (!is_full_path(path)) return failure(std::string(name) + std::string(kNotFullPath));
    return path;
}

// Copies a value that must fit whole: a value cut short would be another one.
template <std::size_t N>
Status copy_whole(std::string_view text, char (&field)[N], std::string_view name) {
    if (text.size() >= N) return failure(std::string(name) + std::string(kTooLongFor));
    std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
    return {};
}

Status copy_manifest(const FeedManifest& from, vostrane_feed_manifest& to) {
    to.size = from.size;
    RETURN_IF_FAILED(copy_whole(from.version, to.version, "version"));
    RETURN_IF_FAILED(copy_whole(from.sha256, to.sha256, "sha256"));
    RETURN_IF_FAILED(copy_whole(from.signature, to.signature, "signature"));
    RETURN_IF_FAILED(copy_whole(from.key_id, to.key_id, "keyId"));
    RETURN_IF_FAILED(copy_whole(from.algorithm, to.algorithm, "algorithm"));
    return copy_whole(from.file_name, to.file_name, "fileName");
}

Status copy_result(const UpdateOutcome& from, vostrane_update_result& to) {
    to.exit_code = from.exit_code;
    RETURN_IF_FAILED(copy_whole(from.status, to.status, "status"));
    return copy_whole(from.message, to.message, "message");
}

Result<UpdateOptions> options_argument(const vostrane_update_options* given) {
    if (given == nullptr) return failure("options" + std::string(kIsMissing));
    UpdateOptions options;
    options.parent_process_id = given->parent_process_id == 0 ? ::GetCurrentProcessId() : given->parent_process_id;
    const std::tuple<const char*, std::u16string UpdateOptions::*, std::string_view> paths[] = {
        {given->msi_path, &UpdateOptions::msi_path, "options.msi_path"},
        {given->install_dir, &UpdateOptions::install_dir, "options.install_dir"},
        {given->app_path, &UpdateOptions::app_path, "options.app_path"},
        {given->msi_log_path, &UpdateOptions::msi_log_path, "options.msi_log_path"},
        {given->helper_log_path, &UpdateOptions::helper_log_path, "options.helper_log_path"},
        {given->result_path, &UpdateOptions::result_path, "options.result_path"},
    };
    const std::pair<const char*, std::string UpdateOptions::*> texts[] = {
        {given->expected_sha256, &UpdateOptions::expected_sha256},
        {given->expected_version, &UpdateOptions::expected_version},
        {given->signature, &UpdateOptions::signature},
        {given->key_id, &UpdateOptions::key_id},
        {given->signature_algorithm, &UpdateOptions::signature_algorithm},
    };
    // A null or empty value is passed on as empty, so the helper's own check names it.
    for (const auto& [text, field, name] : paths) {
        if (text == nullptr || *text == '\0') continue;
        if (!is_valid_utf8(text)) return failure("options" + std::string(kNotUtf8));
        options.*field = utf8_to_utf16(text);
        if (!is_full_path(options.*field)) return failure(std::string(name) + std::string(kNotFullPath));
    }
    for (const auto& [text, field] : texts) {
        if (text != nullptr && !is_valid_utf8(text)) return failure("options" + std::string(kNotUtf8));
        options.*field = text == nullptr ? "" : text;
    }
    return options;
}

Result<PendingFiles> files_argument(const vostrane_update_files* files) {
    if (files == nullptr) return failure("files" + std::string(kIsMissing));
    auto manifest = path_argument(files->manifest_path, "manifest_path");
    RETURN_IF_FAILED(manifest);
    auto package = path_argument(files->package_path, "package_path");
    RETURN_IF_FAILED(package);
    return PendingFiles{std::move(*manifest), std::move(*package)};
}

// Runs the body (returning a Status, or a Result with the status code) and
// reports what it returns; anything it throws (memory running out) becomes
// an error.
template <class Body>
vostrane_status at_c_boundary(vostrane_error* error, Body&& body) noexcept {
    try {
        return reported(body(), error);
    } catch (const std::exception& exception) {
        return fail(error, exception.what());
    } catch (...) {
        return fail(error, "unexpected failure");
    }
}

}  // namespace
}  // namespace vostrane::client

using namespace vostrane;
using namespace vostrane::client;

extern "C" {

vostrane_status vostrane_start_update(const char* helper_path, const char* update_dir,
                                      const vostrane_update_options* options, vostrane_error* error) {
    return at_c_boundary(error, [&]() -> Status {
        auto helper = path_argument(helper_path, "helper_path");
        RETURN_IF_FAILED(helper);
        auto folder = path_argument(update_dir, "update_dir");
        RETURN_IF_FAILED(folder);
        auto values = options_argument(options);
        RETURN_IF_FAILED(values);
        return start_update(*helper, UpdateFolder(*folder), *values);
    });
}

vostrane_status vostrane_read_feed_manifest(const char* manifest_path, vostrane_feed_manifest* manifest,
                                            vostrane_error* error) {
    return at_c_boundary(error, [&]() -> Status {
        auto path = path_argument(manifest_path, "manifest_path");
        RETURN_IF_FAILED(path);
        if (manifest == nullptr) return failure("manifest" + std::string(kIsMissing));
        auto read = load_feed_manifest(*path);
        RETURN_IF_FAILED(read);
        return copy_manifest(*read, *manifest);
    });
}

vostrane_status vostrane_start_pending_update(const vostrane_update_files* files, const char* helper_path,
                                              const char* install_dir, const char* app_path, vostrane_error* error) {
    return at_c_boundary(error, [&]() -> Status {
        auto pending = files_argument(files);
        RETURN_IF_FAILED(pending);
        auto folder = path_argument(files->update_dir, "update_dir");
        RETURN_IF_FAILED(folder);
        PendingUpdate update;
        update.package_path = pending->package_path;
        for (const auto& [text, field, name] : {std::tuple{helper_path, &PendingUpdate::helper_path, "helper_path"},
                                                std::tuple{install_dir, &PendingUpdate::install_dir, "install_dir"},
                                                std::tuple{app_path, &PendingUpdate::app_path, "app_path"}}) {
            auto value = path_argument(text, name);
            RETURN_IF_FAILED(value);
            update.*field = std::move(*value);
        }
        auto manifest = load_feed_manifest(pending->manifest_path);
        RETURN_IF_FAILED(manifest);
        return start_pending_update(*manifest, update, UpdateFolder(*folder));
    });
}

vostrane_status vostrane_read_update_result(const char* result_path, vostrane_update_result* result,
                                            vostrane_error* error) {
    return at_c_boundary(error, [&]() -> Status {
        auto path = path_argument(result_path, "result_path");
        RETURN_IF_FAILED(path);
        if (result == nullptr) return failure("result" + std::string(kIsMissing));
        auto outcome = load_update_result(*path);
        RETURN_IF_FAILED(outcome);
        return copy_result(*outcome, *result);
    });
}

vostrane_status vostrane_finish_update(const vostrane_update_files* files, vostrane_update_result* result,
                                       vostrane_error* error) {
    return at_c_boundary(error, [&]() -> Result<vostrane_status> {
        auto pending = files_argument(files);
        RETURN_IF_FAILED(pending);
        auto folder = path_argument(files->update_dir, "update_dir");
        RETURN_IF_FAILED(folder);
        if (result == nullptr) return failure("result" + std::string(kIsMissing));
        const LastUpdateReport last = finish_update(UpdateFolder(*folder), *pending);
        switch (last.state) {
            case LastUpdate::none: return VOSTRANE_NO_UPDATE;
            case LastUpdate::running: return VOSTRANE_UPDATE_RUNNING;
            case LastUpdate::ended: break;
        }
        RETURN_IF_FAILED(last.outcome);
        RETURN_IF_FAILED(copy_result(*last.outcome, *result));
        return VOSTRANE_OK;
    });
}

vostrane_status vostrane_discard_pending_update(const vostrane_update_files* files, vostrane_error* error) {
    return at_c_boundary(error, [&]() -> Status {
        auto pending = files_argument(files);
        RETURN_IF_FAILED(pending);
        return discard_pending_update(*pending);
    });
}

}  // extern "C"
