#pragma once
// The installer download: a size request (HEAD), then the file itself (GET) into the download
// folder in chunks of kDownloadChunkBytes, with progress to a DownloadObserver.
//
// A download completes only when the size request answered 2xx with a Content-Length, the data
// request answered 2xx, every byte of that length was written, the size and SHA-256 given by the
// upgrade reply (when given) match, and - when the request names a public key - the release
// signature verifies over the version, file name, size and SHA-256 of the bytes received
// (ReleaseStatement). Anything else - a 404, a missing length, a stream that ends early or stalls,
// a failed write, a mismatch, a missing or wrong signature - is a failure; it never hangs and
// never reports completion, and it deletes what it wrote (a cancelled download too). The file
// name is the address's last path segment, kept inside the folder.
//
// Thread: the caller's (the download dialog's worker); blocks until done or cancelled.

#include "DownloadObserver.h"

#include <cstdint>
#include <string>

// Bytes handed on per step; the progress and the cancel check go by these steps.
inline constexpr int kDownloadChunkBytes = 1024;
// Name used when the address's last segment is no usable file name.
inline constexpr const char* kFallbackInstallerName = "TamsuAudioRecorder-installer";
// A transfer that moves less than one byte in this many seconds has stalled.
inline constexpr long kDownloadStallSeconds = 30;
// Longest file name kept from an address; longer ones get the fallback name.
inline constexpr size_t kMaxInstallerNameBytes = 200;

struct DownloadRequest {
    std::string url;
    std::string folder;        // target folder (created by the caller)
    std::string sha256;        // expected hex digest, empty = not checked
    int64_t expectedSize = -1; // from the upgrade reply, -1 = not checked
    std::string version;       // "app_version" of the upgrade reply, as the signature names it
    std::string signature;     // base64, from the upgrade reply
    std::string publicKey;     // base64 Ed25519; empty = no signature asked for
};

// kUnverified: every byte arrived, but the file is not the release the reply promised (another
// SHA-256, a missing or wrong signature); it is deleted.
enum class DownloadOutcome { kComplete, kCancelled, kFailed, kUnverified };

struct DownloadResult {
    DownloadOutcome outcome = DownloadOutcome::kFailed;
    std::string filePath; // set once the target file was created (gone again unless complete)
    std::string error;    // why a failed download failed, for the log
};

DownloadResult DownloadInstaller(const DownloadRequest& request, DownloadObserver& observer);

// The file name of an installer address: its last path segment (query and fragment dropped);
// "", ".", "..", names with control characters or over kMaxInstallerNameBytes give
// kFallbackInstallerName.
std::string InstallerFileName(const std::string& url);

// The release public key built into the program (TAMSU_RELEASE_PUBLIC_KEY, base64); empty when none
// was given at build time: downloads are then checked against the reply's size and SHA-256 only.
std::string BuiltInReleaseKey();

// Whole-number percentage of received of total (0 when total is 0), at most 100.
int DownloadPercent(int64_t received, int64_t total);
