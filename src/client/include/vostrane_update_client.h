/*
 * The application's side of the Vostrane updater: start the update helper for
 * a downloaded, signed package and read how the update ended.
 *
 * A C interface, so that an application in any language can load it:
 * vostrane_update_client.dll (link with its import library, or load it and look
 * the functions up), or the static library vostrane_update_client for C and C++
 * applications (define VOSTRANE_UPDATE_CLIENT_STATIC before including this).
 *
 * Every text is UTF-8 and ends with a NUL; every path is a full Windows path
 * (a drive such as C:\ or a share such as \\server\share\): a relative one is
 * refused, naming the argument. Every function returns a vostrane_status,
 * never throws, and on VOSTRANE_FAILED fills *error with an English sentence
 * for a log or the user. The functions keep no state between calls and may be
 * called from any thread.
 *
 * The update folder is the user's own: any program the user runs can write
 * there. result.json tells the application what the helper saw, for the user
 * to read; an application that must be sure the new version is installed asks
 * Windows Installer for its product's installed version (MsiGetProductInfoW,
 * INSTALLPROPERTY_VERSIONSTRING) and compares it with the one it expected.
 */
#ifndef VOSTRANE_UPDATE_CLIENT_H
#define VOSTRANE_UPDATE_CLIENT_H

#include <stdint.h>

#if defined(VOSTRANE_UPDATE_CLIENT_STATIC)
#define VOSTRANE_CLIENT_API
#elif defined(VOSTRANE_UPDATE_CLIENT_BUILDING_DLL)
#define VOSTRANE_CLIENT_API __declspec(dllexport)
#else
#define VOSTRANE_CLIENT_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum vostrane_status {
    VOSTRANE_OK = 0,
    VOSTRANE_FAILED = 1,
    /* vostrane_finish_update: no update has run since the last call. */
    VOSTRANE_NO_UPDATE = 2,
    /* vostrane_finish_update: the helper started last still runs and has
       written no result yet (another instance of the application started
       while the update is being installed). */
    VOSTRANE_UPDATE_RUNNING = 3
} vostrane_status;

/* Why a call failed. A longer sentence is cut at a character boundary, to at
   most sizeof message - 1 bytes and its NUL. */
typedef struct vostrane_error {
    char message[1024];
} vostrane_error;

/*
 * The values of the helper's twelve options, as it documents them. A
 * parent_process_id of 0 stands for the calling process.
 */
typedef struct vostrane_update_options {
    uint32_t parent_process_id;
    const char* msi_path;
    const char* install_dir;
    const char* app_path;
    const char* msi_log_path;
    const char* helper_log_path;
    const char* result_path;
    const char* expected_sha256;
    const char* expected_version;
    const char* signature;
    const char* key_id;
    const char* signature_algorithm;
} vostrane_update_options;

/*
 * Starts the helper and returns at once; the application then exits, and the
 * helper installs the package once it has, and relaunches app_path.
 *
 * helper_path is the helper as the application ships it (usually beside the
 * application, in the installation folder). It is not run from there: Windows
 * Installer must be free to replace it. It is copied into a new folder made
 * for this run inside update_dir, a folder of the user's own that lies outside
 * the installation folder (for example %LOCALAPPDATA%\Publisher\App Updates;
 * never a temporary folder other users can write to), and runs from there,
 * with that folder as its current folder, no window, and none of the
 * application's handles. The options are checked as the helper checks them,
 * so a value it would refuse fails here, before the application exits.
 * A result.json left in update_dir by an earlier update is removed first; a
 * start that cannot remove it fails.
 */
VOSTRANE_CLIENT_API vostrane_status vostrane_start_update(const char* helper_path, const char* update_dir,
                                                          const vostrane_update_options* options,
                                                          vostrane_error* error);

/* A feed manifest, as `vostrane-sign sign --format json` prints it. */
typedef struct vostrane_feed_manifest {
    char version[256];
    char sha256[65];
    char signature[256];
    char key_id[256];
    char algorithm[64];
    /* A bare file name: never a path, "." or "..". */
    char file_name[256];
    uint64_t size;
} vostrane_feed_manifest;

/*
 * Reads the feed manifest at manifest_path: one JSON object with the string
 * members version, sha256 (64 hex digits), signature, keyId, algorithm and
 * fileName and the integer member size; other members are ignored. A value
 * must fit its field with its NUL (version: at most 255 bytes); a longer one
 * is an error, never cut. An escaped NUL ("\u0000") is refused.
 */
VOSTRANE_CLIENT_API vostrane_status vostrane_read_feed_manifest(const char* manifest_path,
                                                                vostrane_feed_manifest* manifest,
                                                                vostrane_error* error);

/*
 * The files of one application's updates. update_dir is as for
 * vostrane_start_update; the helper writes its log ("helper.log"), Windows
 * Installer's log ("msi.log") and the result ("result.json") there. The
 * pending update is the feed manifest and the downloaded package beside it.
 */
typedef struct vostrane_update_files {
    const char* update_dir;
    const char* manifest_path;
    const char* package_path;
} vostrane_update_files;

/*
 * Starts the update that a feed manifest and its downloaded package describe:
 * checks that the package has the manifest's size, then starts the helper as
 * vostrane_start_update does, for this process, with the application at
 * app_path in install_dir and its logs and result in update_dir.
 */
VOSTRANE_CLIENT_API vostrane_status vostrane_start_pending_update(const vostrane_update_files* files,
                                                                  const char* helper_path, const char* install_dir,
                                                                  const char* app_path, vostrane_error* error);

/* How an update ended: the helper's result document. */
typedef struct vostrane_update_result {
    /* "success", "restartRequired", "restartInitiated" or "error" */
    char status[32];
    /* Windows Installer's exit code, or 1603 when the helper refused the package */
    int32_t exit_code;
    /* An English sentence, empty after a success */
    char message[2048];
} vostrane_update_result;

/*
 * Reads a result document. The document must be exactly as the helper writes
 * it; a missing, partial or altered document is an error, and so is a message
 * that does not fit its field with its NUL (more than 2047 bytes).
 */
VOSTRANE_CLIENT_API vostrane_status vostrane_read_update_result(const char* result_path,
                                                                vostrane_update_result* result,
                                                                vostrane_error* error);

/*
 * Called on every start of the application: how the update started last by
 * vostrane_start_pending_update ended. VOSTRANE_OK with *result once per
 * update; VOSTRANE_NO_UPDATE when none has run since; VOSTRANE_UPDATE_RUNNING
 * while its helper still runs without a result. An update that ended without
 * a result (the application did not exit within the helper's wait, or Windows
 * Installer could not be started) is VOSTRANE_FAILED, naming the helper log.
 *
 * Once the update has ended, the helper's copies are removed (one still
 * running is removed at a later call); after "success", "restartRequired" or
 * "restartInitiated" the manifest and the package are deleted too. After an
 * "error" they are kept: the package may be started again, or discarded.
 */
VOSTRANE_CLIENT_API vostrane_status vostrane_finish_update(const vostrane_update_files* files,
                                                           vostrane_update_result* result, vostrane_error* error);

/* Deletes the pending update's manifest and package; missing ones are fine. */
VOSTRANE_CLIENT_API vostrane_status vostrane_discard_pending_update(const vostrane_update_files* files,
                                                                    vostrane_error* error);

#ifdef __cplusplus
}
#endif

#endif /* VOSTRANE_UPDATE_CLIENT_H */
