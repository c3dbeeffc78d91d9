// DownloadInstaller against local servers: the progress rule, and that every kind of broken
// transfer ends as a failure, in bounded time, leaving nothing behind; names stay inside the
// download folder.

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

TEST_F(InstallerDownloadTest, CompleteDownloadReportsHalfThenAll)
{
    const std::string sha = QCryptographicHash::hash(QByteArray::fromStdString(payload_), QCryptographicHash::Sha256)
                                .toHex()
                                .toUpper()
                                .toStdString();
    RecordingObserver observer;
    const DownloadResult result = Run(server_.Url("/files/setup_1.5.0.exe"), observer, sha, 2048);
    ASSERT_EQ(result.outcome, DownloadOutcome::kComplete) << result.error;
    EXPECT_EQ(observer.percents, (std::vector<int>{50, 100}));
    EXPECT_EQ(observer.lastReceived, 2048);
    EXPECT_EQ(result.filePath, (folder_ / "setup_1.5.0.exe").string());
    EXPECT_EQ(fs::file_size(result.filePath), 2048u);
}

TEST_F(InstallerDownloadTest, BrokenTransfersFail)
{
    struct Case {
        const char* what;
        std::string url;
        std::string sha;
        int64_t size;
    };
    const Case cases[] = {
        {"404", server_.Url("/missing/a.deb"), "", -1},
        {"no length", server_.Url("/chunked/a.deb"), "", -1},
        {"early end", server_.Url("/short/a.deb"), "", -1},
        {"other size", server_.Url("/files/a.deb"), "", 2000},
        {"other digest", server_.Url("/files/a.deb"), std::string(64, '0'), -1},
        {"scheme", "file:///etc/hostname", "", -1},
    };
    for (const Case& c : cases) {
        RecordingObserver observer;
        const DownloadResult result = Run(c.url, observer, c.sha, c.size);
        EXPECT_EQ(result.outcome, DownloadOutcome::kFailed) << c.what;
        EXPECT_FALSE(result.error.empty()) << c.what;
        EXPECT_EQ(FilesInFolder(), 0u) << c.what;
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
}

TEST_F(InstallerDownloadTest, HostileNamesStayInTheFolderAndCancelDeletesThePart)
{
    RecordingObserver observer;
    const DownloadResult hostile = Run(server_.Url("/files/x/.?name=../../x"), observer);
    ASSERT_EQ(hostile.outcome, DownloadOutcome::kComplete) << hostile.error;
    EXPECT_EQ(fs::path(hostile.filePath).parent_path(), folder_);
    EXPECT_EQ(FilesInFolder(), 1u);

    RecordingObserver cancelling;
    cancelling.cancelAtPercent = 50;
    const DownloadResult cancelled = Run(server_.Url("/files/a.deb"), cancelling);
    EXPECT_EQ(cancelled.outcome, DownloadOutcome::kCancelled);
    EXPECT_EQ(cancelling.percents, std::vector<int>{50});
    EXPECT_FALSE(fs::exists(folder_ / "a.deb"));
}
