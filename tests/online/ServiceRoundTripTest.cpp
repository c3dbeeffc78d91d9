// The online client against the reference service (tamsu-service on 127.0.0.1 with a temporary
// data folder): upgrade check and download, feedback, the public address in the
// configuration.

#include "ConfigStore.h"
#include "FeedbackClient.h"
#include "InstallerDownload.h"
#include "PublicAddress.h"
#include "ServiceProcess.h"
#include "TestEnv.h"
#include "UpgradeCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class ServiceRoundTripTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetConfigFilePathForTesting();
        ASSERT_TRUE(service_.Start()) << service_.Error();
        setenv("TAMSU_SERVICE_URL", service_.BaseUrl().c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("TAMSU_SERVICE_URL");
        ResetConfigFilePathForTesting();
    }

    TestEnv env_;
    ServiceProcess service_;
};

class NullObserver : public DownloadObserver {
public:
    bool Cancelled() override { return false; }
    void OnPercent(int) override {}
    void OnTransferStats(int64_t, int64_t, double) override {}
};

} // namespace

TEST_F(ServiceRoundTripTest, UpgradeCheckOffersOnlyNewerReleasesAndTheirFileDownloads)
{
    UpgradeInfo info;
    EXPECT_EQ(CheckForUpgrade(info), UpgradeCheckResult::kNoAnswer); // nothing published

    service_.WriteReleaseManifest("1.4.2", "tamsu-recorder_1.4.2_amd64.deb", "same");
    EXPECT_EQ(CheckForUpgrade(info), UpgradeCheckResult::kNotNewer);

    const std::string package(3000, 'p');
    service_.WriteReleaseManifest("1.4.10", "tamsu-recorder_1.4.10_amd64.deb", package, true);
    ASSERT_EQ(CheckForUpgrade(info), UpgradeCheckResult::kNewer);
    EXPECT_EQ(info.forced, 1);
    EXPECT_EQ(info.size, 3000);
    EXPECT_EQ(info.sha256.size(), 64u);

    NullObserver observer;
    const DownloadResult result =
        DownloadInstaller({info.downloadUrl, env_.MakeFolder("dl").toStdString(), info.sha256, info.size}, observer);
    EXPECT_EQ(result.outcome, DownloadOutcome::kComplete) << result.error;
    EXPECT_EQ(result.filePath, env_.MakeFolder("dl").toStdString() + "/tamsu-recorder_1.4.10_amd64.deb");

    service_.Stop();
    EXPECT_EQ(CheckForUpgrade(info), UpgradeCheckResult::kPostFailed);
}

TEST_F(ServiceRoundTripTest, FeedbackIsTakenWhileTheServiceRuns)
{
    EXPECT_EQ(SendFeedback("qq: 12345", "录音没有声音 \"引号\" \\ 反斜杠\n第二行"), FeedbackResult::kSubmitted);
    service_.Stop();
    EXPECT_EQ(SendFeedback("a", "b"), FeedbackResult::kNetworkError);
}

TEST_F(ServiceRoundTripTest, PublicAddressIsStoredBesideOtherKeys)
{
    ASSERT_TRUE(WriteConfigString(config::kSection, config::kOutputDir, "/tmp/x"));
    PublicAddressThread();
    QString address;
    QString folder;
    ReadConfigString(config::kSection, config::kUserRealIp, QString(), address, config::kUserRealIpCapacity);
    ReadConfigString(config::kSection, config::kOutputDir, QString(), folder, config::kOutputDirCapacity);
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(folder, "/tmp/x");
}
