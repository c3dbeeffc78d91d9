#pragma once
// ReleaseManifest: the newest release as the operator publishes it, in releases/manifest.json of
// the data folder, and the release files served beside it.
//
//   {
//     "app_name": "TamsuAudioRecorder",           optional, this is the default
//     "app_version": "1.5.0",                     major.minor.revision
//     "file": "tamsu-recorder_1.5.0_amd64.deb",   a file in releases/, served at /download/<file>
//     "force_upgrade": false                      optional; true or 1 = the user may not decline
//   }
//
// Instead of "file", "download_url" may name an address elsewhere, with optional "sha256" (hex) and
// "size" of what it serves (both needed for a signed answer). For a local file the service
// computes size and SHA-256 itself.
//
// Thread-safety: all methods may be called from any thread; the parsed manifest and the file's
// digest are cached under one mutex and reloaded when the manifest or the file changes.

#include <cstdint>
#include <mutex>
#include <string>

struct Release {
    std::string appName;
    std::string appVersion;
    std::string file;         // local file name, or empty
    std::string downloadUrl;  // absolute address when the file is elsewhere
    bool forceUpgrade = false;
    std::string sha256;       // lower-case hex, may be empty for an external address
    std::int64_t size = -1;   // -1 unknown
};

class ReleaseManifest {
public:
    enum class Status { kOk, kMissing, kBroken };

    explicit ReleaseManifest(std::string releasesDir);

    // The current release. kMissing: no manifest (nothing published). kBroken: the manifest or its
    // file is unusable; error says why.
    Status Current(Release& release, std::string& error);
    // Full path of a release file called name: a plain file name, not the manifest, not hidden, a
    // regular file inside the folder (a symbolic link is resolved and must stay in it); empty otherwise.
    std::string FilePath(const std::string& name) const;
    // FilePath of name when it is the file the current manifest publishes; empty for any other file.
    std::string ServedPath(const std::string& name);
    // The manifest's name inside the releases folder.
    static const char* ManifestName();

private:
    Status Load(std::string& error);

    std::string dir_;
    std::mutex mutex_;
    std::string stamp_;  // manifest and file size/mtime of the cached state
    Status status_ = Status::kMissing;
    std::string error_;
    Release release_;
};
