#pragma once
// The question to the service whether a newer version of the program exists
// ("/v1/upgrade_check"). Blocking; any thread. The offer boxes and the download dialog that
// follow a newer version live in the UI (UpgradeOffer).

#include "VersionNumber.h"

#include <cstdint>
#include <string>

// A release the service offers.
struct UpgradeInfo {
    VersionNumber version;
    std::string versionText;   // "app_version" as sent: what a release signature names
    std::string downloadUrl;
    int forced = 0;            // nonzero: the user may not decline
    std::string sha256;        // hex digest of the installer; empty when the service gave none
    int64_t size = -1;         // bytes of the installer; -1 when the service gave none
    std::string signature;     // base64 release signature (ReleaseStatement); empty when none given
};

enum class UpgradeCheckResult {
    kPostFailed, // no answer (network, status, empty body)
    kNoAnswer,   // an answer that does not parse, a nonzero "ret", or an unusable version record
    kNotNewer,
    kNewer,      // info is filled
};

// Posts {"app_name":"TamsuAudioRecorder"} to "/v1/upgrade_check" + the timestamp query, writes
// "message: ", "response: " and the version lines to standard output, and compares the
// service's "app_version" with kProgramVersion.
UpgradeCheckResult CheckForUpgrade(UpgradeInfo& info);

// The comparison and record reading of a reply body alone (the part of CheckForUpgrade after
// the post).
UpgradeCheckResult ReadUpgradeReply(const std::string& reply, UpgradeInfo& info);
