// The online client's logic without a network: reply envelope, request bodies, versions, the
// upgrade record, download file names and percentages, the stored public address.

#include "InstallerDownload.h"
#include "PublicAddress.h"
#include "RequestBody.h"
#include "ServiceReply.h"
#include "UpgradeCheck.h"
#include "VersionNumber.h"

#include <json/reader.h>

#include <gtest/gtest.h>

#include <tuple>

TEST(ServiceReplyTest, OnlyObjectsWithIntegerRetParse)
{
    const std::tuple<const char*, bool, int> cases[] = {  // body, parses, ret
        {"", false, 0},           {"[1]", false, 0},           {"\"ok\"", false, 0},
        {"{\"ret\":\"0\"}", false, 0}, {"{\"ret\":1.5}", false, 0}, {"{\"ret\":[0]}", false, 0},
        {"{\"ret\":99999999999}", false, 0}, {"{\"ret\":0", false, 0},
        {"{}", true, 0},          {"{\"ret\":3}", true, 3},    {"{\"ret\":null,\"data\":1}", true, 0},
    };
    for (const auto& [body, parses, ret] : cases) {
        ServiceReply reply;
        EXPECT_EQ(reply.Parse(body), parses) << body;
        EXPECT_EQ(reply.Ret(), ret) << body;
    }
}

TEST(RequestBodyTest, ValuesArriveAsTyped)
{
    const std::string hostile = "p\"a\\ss\n\x01中文";
    for (const std::string& body :
         {CompactJsonBody({{"mobilephone", "138"}, {"password", hostile}}), StyledJsonBody({{"password", hostile}})}) {
        Json::Value root;
        ASSERT_TRUE(Json::Reader().parse(body, root)) << body;
        EXPECT_EQ(root["password"].asString(), hostile);
    }
}

TEST(VersionTest, ComparedPartByPart)
{
    VersionNumber local;
    ASSERT_TRUE(ParseVersion(kProgramVersion, local));
    const std::pair<const char*, bool> cases[] = {{"1.4.10", true}, {"1.5.0", true},   {"2.0.0", true},
                                                  {"1..4.3", true}, {"1.4.2", false},  {"0.9.9", false},
                                                  {"1.3.99", false}, {"1.4.2.9", false}};
    for (const auto& [text, newer] : cases) {
        VersionNumber route;
        ASSERT_TRUE(ParseVersion(text, route)) << text;
        EXPECT_EQ(IsNewerVersion(route, local), newer) << text;
    }
    for (const char* bad : {"", "1.4", "1.4.", "...", "1.x.2", "1.-4.2", "1.4.2a", "1.4.99999999999", " 1.4.2"}) {
        VersionNumber v{7, 7, 7};
        EXPECT_FALSE(ParseVersion(bad, v)) << bad;
        EXPECT_EQ(v.major, 7);
    }
}

TEST(UpgradeReplyTest, RecordIsCheckedBeforeAnOffer)
{
    using enum UpgradeCheckResult;
    const std::string sha(64, 'a');
    const std::tuple<std::string, UpgradeCheckResult, int> cases[] = {  // the reply's data, result, forced
        {R"({"app_version":"1.5.0","download_url":"http://h/a.deb","force_upgrade":1})", kNewer, 1},
        {R"({"app_version":"1.5.0","download_url":"http://h/a.deb","force_upgrade":"1"})", kNewer, 1},
        {R"({"app_version":"1.5.0","download_url":"http://h/a.deb","force_upgrade":"0","sha256":")" + sha + R"(","size":10})", kNewer, 0},
        {R"({"app_version":"1.4.2","download_url":"http://h/a.deb","force_upgrade":0})", kNotNewer, 0},
        {R"({"app_version":"1.4","download_url":"http://h/a.deb","force_upgrade":0})", kNoAnswer, 0},
        {R"({"app_version":"1.5.0","download_url":"http://h/a.deb"})", kNoAnswer, 0},
        {R"({"app_version":"1.5.0","download_url":"","force_upgrade":0})", kNoAnswer, 0},
        {R"({"app_version":"1.5.0","download_url":"http://h/a","force_upgrade":0,"sha256":"zz"})", kNoAnswer, 0},
        {R"("1.5.0")", kNoAnswer, 0},
    };
    for (const auto& [data, result, forced] : cases) {
        UpgradeInfo info;
        EXPECT_EQ(ReadUpgradeReply(R"({"ret":0,"data":)" + data + "}", info), result) << data;
        EXPECT_EQ(info.forced, forced) << data;
    }
    UpgradeInfo info;
    EXPECT_EQ(ReadUpgradeReply(R"({"ret":200001})", info), kNoAnswer);
}

TEST(DownloadRulesTest, FileNamesStayInTheFolder)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/files/setup_1.5.0.exe", "setup_1.5.0.exe"},
        {"http://h/a/pkg.deb?x=/../../evil#frag", "pkg.deb"},
        {"http://h/a/..", kFallbackInstallerName},
        {"http://h/a/.", kFallbackInstallerName},
        {"http://h/a/", kFallbackInstallerName},
        {"http://h/a/b\x01.deb", kFallbackInstallerName},
        {"no-slash", kFallbackInstallerName},
    };
    for (const auto& [url, name] : cases)
        EXPECT_EQ(InstallerFileName(url), name) << url;
    EXPECT_EQ(InstallerFileName("http://h/" + std::string(kMaxInstallerNameBytes + 1, 'a')), kFallbackInstallerName);
    EXPECT_EQ(DownloadPercent(2047, 2048), 99); // (halves and the whole: the downloader's table)
    EXPECT_EQ(DownloadPercent(5, 0), 0);
}

TEST(PublicAddressTest, OnlyShortPrintableAddressesAreStored)
{
    const std::pair<std::string, bool> cases[] = {{"203.0.113.7", true}, {"2001:db8::1", true},
        {std::string(kMaxPublicAddressChars, '1'), true}, {std::string(kMaxPublicAddressChars + 1, '1'), false}, {"", false},
        {"1.2.3.4\n[x]", false}, {"a b", false}, {"\xe4\xb8\xad", false}};
    for (const auto& [address, storable] : cases)
        EXPECT_EQ(IsStorablePublicAddress(address), storable) << address;
}
