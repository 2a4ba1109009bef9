/*
 * A sample application that updates itself through the Vostrane updater, as a
 * real application would. On every start it:
 *
 *   1. learns how the update it started last ended (vostrane_finish_update)
 *      and shows it;
 *   2. when it has not just been updated and an update is pending (a feed
 *      manifest and the package the application downloaded), starts the
 *      update (vostrane_start_pending_update) and exits at once, so that the
 *      helper can install it and start the new version;
 *   3. otherwise runs as usual (this sample just ends).
 *
 * Its files:
 *   <install folder>\update-sample.exe, vostrane_update_client.dll,
 *       vostrane-updater.exe, version.txt   (what its package installs)
 *   <install folder's parent>\VostraneUpdateSample Updates\
 *       pending\update.json, pending\update.msi   (the download: manifest, package)
 *       result.json, helper.log, msi.log         (written by the helper)
 *       sample-output.txt                        (what the sample shows)
 *
 * The update folder lies beside the installation folder, never inside it:
 * Windows Installer owns the installation folder and replaces what is there.
 * Downloading is left out: put the two pending files in place by hand, or see
 * scripts/demo, which does.
 */
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "vostrane_update_client.h"

#define PATH_BYTES (3 * MAX_PATH * 4)

typedef struct sample_paths {
    char app[PATH_BYTES];
    char install_dir[PATH_BYTES];
    char helper[PATH_BYTES];
    char version_file[PATH_BYTES];
    char update_dir[PATH_BYTES];
    char pending_dir[PATH_BYTES];
    char manifest[PATH_BYTES];
    char package[PATH_BYTES];
    char output[PATH_BYTES];
} sample_paths;

static const sample_paths* shown_paths;

/* What the sample shows: on the console it was started from, if any, and in
 * sample-output.txt, where it stays for whoever looks after a relaunch. */
static void show(const char* format, ...) {
    char line[4096];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (console != NULL && console != INVALID_HANDLE_VALUE) {
        WriteFile(console, line, (DWORD)strlen(line), &written, NULL);
        WriteFile(console, "\r\n", 2, &written, NULL);
    }
    wchar_t wide_path[PATH_BYTES];
    if (shown_paths == NULL ||
        MultiByteToWideChar(CP_UTF8, 0, shown_paths->output, -1, wide_path, PATH_BYTES) == 0) {
        return;
    }
    HANDLE file = CreateFileW(wide_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    CloseHandle(file);
}

static int join(char* out, const char* folder, const char* name) {
    return snprintf(out, PATH_BYTES, "%s\\%s", folder, name) < PATH_BYTES;
}

/* The folder part of a path, in place. */
static void cut_last_component(char* path) {
    char* separator = strrchr(path, '\\');
    if (separator != NULL) *separator = '\0';
}

static int find_paths(sample_paths* paths) {
    wchar_t module[PATH_BYTES];
    DWORD length = GetModuleFileNameW(NULL, module, PATH_BYTES);
    if (length == 0 || length >= PATH_BYTES) return 0;
    if (WideCharToMultiByte(CP_UTF8, 0, module, -1, paths->app, PATH_BYTES, NULL, NULL) == 0) return 0;
    char parent[PATH_BYTES];
    strcpy(paths->install_dir, paths->app);
    cut_last_component(paths->install_dir);
    strcpy(parent, paths->install_dir);
    cut_last_component(parent);
    return join(paths->helper, paths->install_dir, "vostrane-updater.exe") &&
           join(paths->version_file, paths->install_dir, "version.txt") &&
           join(paths->update_dir, parent, "VostraneUpdateSample Updates") &&
           join(paths->pending_dir, paths->update_dir, "pending") &&
           join(paths->manifest, paths->pending_dir, "update.json") &&
           join(paths->package, paths->pending_dir, "update.msi") &&
           join(paths->output, paths->update_dir, "sample-output.txt");
}

static void read_version(const sample_paths* paths, char* version, size_t size) {
    wchar_t wide_path[PATH_BYTES];
    strcpy(version, "(unknown)");
    if (MultiByteToWideChar(CP_UTF8, 0, paths->version_file, -1, wide_path, PATH_BYTES) == 0) return;
    HANDLE file = CreateFileW(wide_path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD read = 0;
    if (ReadFile(file, version, (DWORD)size - 1, &read, NULL)) version[read] = '\0';
    CloseHandle(file);
}

static int file_exists(const char* path) {
    wchar_t wide_path[PATH_BYTES];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide_path, PATH_BYTES) == 0) return 0;
    return GetFileAttributesW(wide_path) != INVALID_FILE_ATTRIBUTES;
}

static void make_folder(const char* path) {
    wchar_t wide_path[PATH_BYTES];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide_path, PATH_BYTES) != 0) CreateDirectoryW(wide_path, NULL);
}

/* Step 1. Returns whether an update has just ended (or still runs), in which
 * case no other update is started on this start. */
static int show_last_update(const vostrane_update_files* files) {
    vostrane_update_result result;
    vostrane_error error;
    switch (vostrane_finish_update(files, &result, &error)) {
        case VOSTRANE_OK:
            if (strcmp(result.status, "success") == 0) {
                show("Last update: installed.");
            } else if (strcmp(result.status, "error") == 0) {
                show("Last update: failed (%ld): %s", (long)result.exit_code, result.message);
            } else {
                show("Last update: %s (%ld): %s", result.status, (long)result.exit_code, result.message);
            }
            return 1;
        case VOSTRANE_UPDATE_RUNNING:
            show("An update is being installed; this instance ends.");
            return 1;
        case VOSTRANE_NO_UPDATE:
            return 0;
        default:
            show("Last update: %s", error.message);
            return 1;
    }
}

/* Step 2. Returns whether the update was started, so the application must exit. */
static int start_pending_update(const sample_paths* paths, const vostrane_update_files* files) {
    if (!file_exists(paths->manifest)) return 0;
    vostrane_feed_manifest manifest;
    vostrane_error error;
    if (vostrane_read_feed_manifest(paths->manifest, &manifest, &error) != VOSTRANE_OK) {
        show("The pending update is discarded: %s", error.message);
        vostrane_discard_pending_update(files, &error);
        return 0;
    }
    if (vostrane_start_pending_update(files, paths->helper, paths->install_dir, paths->app, &error) != VOSTRANE_OK) {
        show("The update to %s could not be started: %s", manifest.version, error.message);
        return 0;
    }
    show("Updating to %s; the application exits and starts again once it is installed.", manifest.version);
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show_command) {
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show_command;
    static sample_paths paths;
    if (!find_paths(&paths)) return 1;
    make_folder(paths.update_dir);
    make_folder(paths.pending_dir);
    shown_paths = &paths;

    char version[64];
    read_version(&paths, version, sizeof version);
    show("Vostrane update sample %s started.", version);

    const vostrane_update_files files = {paths.update_dir, paths.manifest, paths.package};
    /* A failed update is not retried on the start right after it: at the
     * next one. */
    const int update_just_ended = show_last_update(&files);
    if (!update_just_ended && start_pending_update(&paths, &files)) return 0;
    show("Running version %s.", version);
    return 0;
}
