// DownloadInstaller against local servers: the progress rule, and that every kind of broken
// transfer ends as a failure, in bounded time, leaving nothing behind; names stay inside the
// download folder; a cancelled transfer and a release that does not verify leave nothing either.
// Then a release signed by the real tamsu-service with a key from its keygen.

#include "InstallerDownload.h"
#include "LocalServer.h"
#include "Process.h"
#include "ReleaseStatement.h"
#include "ServiceProcess.h"
#include "TestEnv.h"
#include "UpgradeCheck.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;

class RecordingObserver : public DownloadObserver {
public:
    bool Cancelled() override { return cancelAtPercent >= 0 && !percents.empty() && percents.back() >= cancelAtPercent; }
    void OnPercent(int percent) override { percents.push_back(percent); }
    void OnTransferStats(int64_t, int64_t, double) override {}

    int cancelAtPercent = -1;
    std::vector<int> percents;
};

class InstallerDownloadTest : public testing::Test {
protected:
    void SetUp() override
    {
        // "missing": 404; "short": the announced length, then the connection ends early;
        // "chunked": no length; anything else: 2048 bytes in two writes of 1024.
        server_.Http().Get(R"(/(\w+)/(.*))", [this](const httplib::Request& req, httplib::Response& r) {
            const std::string kind = req.matches[1];
            if (kind == "missing") {
                r.status = 404;
                r.set_content(R"({"ret":404})", "application/json");
            } else if (kind == "chunked") {
                r.set_chunked_content_provider("application/octet-stream", [this](size_t, httplib::DataSink& sink) {
                    sink.write(payload_.data(), payload_.size());
                    sink.done();
                    return true;
                });
            } else {
                r.set_content_provider(payload_.size(), "application/octet-stream",
                                       [this, kind](size_t offset, size_t length, httplib::DataSink& sink) {
                                           sink.write(payload_.data() + offset, std::min<size_t>(length, 1024));
                                           return kind != "short";
                                       });
            }
        });
        server_.Start();
    }

    std::string payload_ = std::string(1024, 'a') + std::string(1024, 'b');
    TestEnv env_;
    fs::path folder_ = env_.MakeFolder("download").toStdString();
    LocalHttpServer server_;
};

} // namespace

TEST_F(InstallerDownloadTest, OnlyAWholeVerifiedTransferIsKeptAndOnlyInsideTheFolder)
{
    const std::string sha =
        QCryptographicHash::hash(QByteArray::fromStdString(payload_), QCryptographicHash::Sha256).toHex().toUpper().toStdString();
    // The release key and another one; signatures over the payload's statement and altered ones.
    ASSERT_GE(sodium_init(), 0);
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES], secretKey[crypto_sign_SECRETKEYBYTES];
    unsigned char otherPublic[crypto_sign_PUBLICKEYBYTES], otherSecret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    crypto_sign_keypair(otherPublic, otherSecret);
    const std::string key = EncodeBase64(publicKey, sizeof publicKey);
    const auto sign = [&](const char* version, const char* file, int64_t size, const unsigned char* with = nullptr) {
        return ReleaseStatement(version, file, size, sha).Sign(with ? with : secretKey);
    };
    const std::string good = sign("1.5.0", "a.deb", 2048);
    using enum DownloadOutcome;
    // what, address, digest and size from the service (empty, -1: none), cancelled at percent,
    // outcome, the name of the file kept (empty: none), signature, the program's public key
    // (empty: none built in)
    using Row = std::tuple<const char*, std::string, std::string, int64_t, int, DownloadOutcome, std::string, std::string, std::string>;
    const Row cases[] = {
        {"complete", server_.Url("/files/setup_1.5.0.exe"), sha, 2048, -1, kComplete, "setup_1.5.0.exe", "", ""},
        {"hostile name", server_.Url("/files/x/.?name=../../x"), "", -1, -1, kComplete, kFallbackInstallerName, "", ""},
        {"cancelled", server_.Url("/files/a.deb"), "", -1, 50, kCancelled, "", "", ""},
        {"404", server_.Url("/missing/a.deb"), "", -1, -1, kFailed, "", "", ""},
        {"no length", server_.Url("/chunked/a.deb"), "", -1, -1, kFailed, "", "", ""},
        {"early end", server_.Url("/short/a.deb"), "", -1, -1, kFailed, "", "", ""},
        {"other size", server_.Url("/files/a.deb"), "", 2000, -1, kFailed, "", "", ""},
        {"other digest", server_.Url("/files/a.deb"), std::string(64, '0'), -1, -1, kUnverified, "", "", ""},
        {"scheme", "file:///etc/hostname", "", -1, -1, kFailed, "", "", ""},
        {"signed", server_.Url("/files/a.deb"), sha, 2048, -1, kComplete, "a.deb", good, key},
        {"signed, no digest from the service", server_.Url("/files/a.deb"), "", -1, -1, kComplete, "a.deb", good, key},
        {"no signature", server_.Url("/files/a.deb"), sha, 2048, -1, kUnverified, "", "", key},
        {"other key", server_.Url("/files/a.deb"), sha, 2048, -1, kUnverified, "", sign("1.5.0", "a.deb", 2048, otherSecret), key},
        {"other size", server_.Url("/files/a.deb"), sha, 2048, -1, kUnverified, "", sign("1.5.0", "a.deb", 2047), key},
        {"other file", server_.Url("/files/a.deb"), sha, 2048, -1, kUnverified, "", sign("1.5.0", "a.sh", 2048), key},
        {"other version", server_.Url("/files/a.deb"), sha, 2048, -1, kUnverified, "", sign("1.5.1", "a.deb", 2048), key},
        {"not base64", server_.Url("/files/a.deb"), sha, 2048, -1, kUnverified, "", "*" + good.substr(1), key},
        {"no key built in", server_.Url("/files/a.deb"), sha, 2048, -1, kComplete, "a.deb", "", ""},
    };
    for (const auto& [what, url, digest, size, cancelAt, outcome, kept, signature, builtInKey] : cases) {
        SCOPED_TRACE(what);
        RecordingObserver observer;
        observer.cancelAtPercent = cancelAt;
        const DownloadResult result = DownloadInstaller({url, folder_.string(), digest, size, "1.5.0", signature, builtInKey}, observer);
        EXPECT_EQ(result.outcome, outcome) << result.error;
        const bool ended = outcome == kComplete || outcome == kCancelled;
        EXPECT_EQ(result.error.empty(), ended);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), kept.empty() ? 0 : 1) << "a partial file is left behind";
        if (!kept.empty()) {
            EXPECT_EQ(result.filePath, (folder_ / kept).string());
            EXPECT_EQ(fs::file_size(result.filePath), 2048u);
        }
        if (ended) {
            EXPECT_EQ(observer.percents, kept.empty() ? std::vector<int>{50} : (std::vector<int>{50, 100}));
        }
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
}

// keygen -> the service signs its release -> the program's check and download accept it.
TEST_F(InstallerDownloadTest, AReleaseSignedByTheServiceIsAccepted)
{
    const std::string prefix = (folder_ / "release").string();
    const Process::Result keygen = RunProcess({ServiceProcess::BinaryPath(), "keygen", "--out", prefix});
    ASSERT_EQ(keygen.code, 0) << keygen.err;
    std::string key;
    std::getline(std::ifstream(prefix + ".pub"), key);
    ServiceProcess service({"--release-key", prefix + ".key"});
    ASSERT_TRUE(service.Start()) << service.Error();
    service.WriteReleaseManifest("1.5.0", "tamsu recorder_1.5.0.deb", payload_);
    env_.Set("TAMSU_SERVICE_URL", service.BaseUrl());
    UpgradeInfo info;
    ASSERT_EQ(CheckForUpgrade(info), UpgradeCheckResult::kNewer);
    fs::create_directories(folder_ / "downloads");
    RecordingObserver observer;
    const DownloadResult result = DownloadInstaller(
        {info.downloadUrl, (folder_ / "downloads").string(), info.sha256, info.size, info.versionText, info.signature, key},
        observer);
    EXPECT_EQ(result.outcome, DownloadOutcome::kComplete) << result.error;
    EXPECT_EQ(fs::file_size(result.filePath), payload_.size());
}
