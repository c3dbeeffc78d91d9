// DownloadInstaller against local servers: the progress rule, and that every kind of broken
// transfer ends as a failure, in bounded time, leaving nothing behind; names stay inside the
// download folder; a cancelled transfer leaves nothing either.

#include "InstallerDownload.h"
#include "LocalServer.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

class RecordingObserver : public DownloadObserver {
public:
    bool Cancelled() override { return cancelAtPercent >= 0 && !percents.empty() && percents.back() >= cancelAtPercent; }
    void OnPercent(int percent) override { percents.push_back(percent); }
    void OnTransferStats(int64_t received, int64_t, double) override { lastReceived = received; }

    int cancelAtPercent = -1;
    std::vector<int> percents;
    int64_t lastReceived = 0;
};

class InstallerDownloadTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("tamsu-download-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        // "missing": 404; "short": the announced length, then the connection ends early;
        // "chunked": no length; anything else: 2048 bytes in two writes of 1024.
        server_.Http().Get(R"(/(\w+)/(.*))", [this](const httplib::Request& req, httplib::Response& r) {
            const std::string kind = req.matches[1];
            if (kind == "missing") {
                r.status = 404;
                r.set_content(R"({"ret":404})", "application/json");
            } else if (kind == "chunked") {
                r.set_chunked_content_provider("application/octet-stream", [this](size_t offset, httplib::DataSink& sink) {
                    if (offset == 0)
                        sink.write(payload_.data(), payload_.size());
                    else
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
    void TearDown() override { fs::remove_all(folder_); }

    DownloadResult Run(const std::string& url, RecordingObserver& observer, const std::string& sha = {},
                       int64_t size = -1)
    {
        return DownloadInstaller(DownloadRequest{url, folder_.string(), sha, size}, observer);
    }
    size_t FilesInFolder() const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
    }

    std::string payload_ = std::string(1024, 'a') + std::string(1024, 'b');
    fs::path folder_;
    LocalHttpServer server_;
};

} // namespace

TEST_F(InstallerDownloadTest, OnlyAWholeVerifiedTransferIsKeptAndOnlyInsideTheFolder)
{
    const std::string sha = QCryptographicHash::hash(QByteArray::fromStdString(payload_), QCryptographicHash::Sha256)
                                .toHex()
                                .toUpper()
                                .toStdString();
    const auto kComplete = DownloadOutcome::kComplete;
    const auto kFailed = DownloadOutcome::kFailed;
    struct Case {
        const char* what;
        std::string url;
        std::string sha;
        int64_t size;
        int cancelAt; // percent
        DownloadOutcome outcome;
        std::string kept; // the file's name when it is kept
    };
    const Case cases[] = {
        {"complete", server_.Url("/files/setup_1.5.0.exe"), sha, 2048, -1, kComplete, "setup_1.5.0.exe"},
        {"hostile name", server_.Url("/files/x/.?name=../../x"), "", -1, -1, kComplete, kFallbackInstallerName},
        {"cancelled", server_.Url("/files/a.deb"), "", -1, 50, DownloadOutcome::kCancelled, ""},
        {"404", server_.Url("/missing/a.deb"), "", -1, -1, kFailed, ""},
        {"no length", server_.Url("/chunked/a.deb"), "", -1, -1, kFailed, ""},
        {"early end", server_.Url("/short/a.deb"), "", -1, -1, kFailed, ""},
        {"other size", server_.Url("/files/a.deb"), "", 2000, -1, kFailed, ""},
        {"other digest", server_.Url("/files/a.deb"), std::string(64, '0'), -1, -1, kFailed, ""},
        {"scheme", "file:///etc/hostname", "", -1, -1, kFailed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingObserver observer;
        observer.cancelAtPercent = c.cancelAt;
        const DownloadResult result = Run(c.url, observer, c.sha, c.size);
        EXPECT_EQ(result.outcome, c.outcome) << result.error;
        EXPECT_EQ(result.error.empty(), c.outcome != kFailed);
        EXPECT_EQ(FilesInFolder(), c.kept.empty() ? 0u : 1u) << "a partial file is left behind";
        if (!c.kept.empty()) {
            EXPECT_EQ(result.filePath, (folder_ / c.kept).string());
            EXPECT_EQ(fs::file_size(result.filePath), 2048u);
            EXPECT_EQ(observer.lastReceived, 2048);
        }
        if (c.outcome != kFailed) {
            EXPECT_EQ(observer.percents, c.kept.empty() ? std::vector<int>{50} : (std::vector<int>{50, 100}));
        }
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
}
