#include "UpgradeCheck.h"

#include "HttpClient.h"
#include "RequestBody.h"
#include "ServiceReply.h"
#include "TextUtil.h"

#include <cctype>
#include <cstdio>

#include <glog/logging.h>

namespace {

// The name the service files this program's releases under.
constexpr const char* kAppName = "TamsuAudioRecorder";
// Hex digits of a SHA-256 digest.
constexpr size_t kSha256HexLength = 64;

bool IsHexDigest(const std::string& text)
{
    if (text.size() != kSha256HexLength)
        return false;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

} // namespace

UpgradeCheckResult ReadUpgradeReply(const std::string& reply, UpgradeInfo& info)
{
    ServiceReply parsed;
    if (!parsed.Parse(reply) || parsed.Ret() != 0)
        return UpgradeCheckResult::kNoAnswer;

    VersionNumber route;
    VersionNumber local;
    if (!ParseVersion(parsed.DataMember("app_version"), route) || !ParseVersion(kProgramVersion, local))
        return UpgradeCheckResult::kNoAnswer;
    LOG(INFO) << "routeMajorVersion: " << route.major << " routeMinorVersion: " << route.minor
              << " routeRevisionVersion: " << route.revision;
    LOG(INFO) << "localMajorVersion: " << local.major << " localMinorVersion: " << local.minor
              << " localRevisionVersion: " << local.revision;
    if (!IsNewerVersion(route, local))
        return UpgradeCheckResult::kNotNewer;

    long long forced = 0;
    const std::string url = parsed.DataMember("download_url");
    if (url.empty() || !parsed.DataMemberInt("force_upgrade", forced))
        return UpgradeCheckResult::kNoAnswer;

    UpgradeInfo offered;
    offered.version = route;
    offered.versionText = parsed.DataMember("app_version");
    offered.signature = parsed.DataMember("signature");
    offered.downloadUrl = url;
    offered.forced = forced != 0 ? 1 : 0;
    // Digest and size are checked by the download when the service gives them; a malformed one
    // would make every download fail, so it counts as an unusable record.
    const std::string sha = parsed.DataMember("sha256");
    if (!sha.empty() && !IsHexDigest(sha))
        return UpgradeCheckResult::kNoAnswer;
    offered.sha256 = sha;
    long long size = -1;
    if (!parsed.DataMember("size").empty() && (!parsed.DataMemberInt("size", size) || size <= 0))
        return UpgradeCheckResult::kNoAnswer;
    offered.size = size;
    info = offered;
    return UpgradeCheckResult::kNewer;
}

UpgradeCheckResult CheckForUpgrade(UpgradeInfo& info)
{
    EnsureCurlGlobalInit();
    const std::string body = CompactJsonBody({{"app_name", kAppName}});
    LOG(INFO) << "message: " << body;
    std::string reply;
    if (ServicePostJson(body, ServiceUrl("/v1/upgrade_check") + MakeTimestampQuery(), reply) != 0)
        return UpgradeCheckResult::kPostFailed;
    LOG(INFO) << "response: " << reply;
    const UpgradeCheckResult result = ReadUpgradeReply(reply, info);
    std::fflush(stdout);
    return result;
}
