#include "InstallerDownload.h"

#include "HttpClient.h"
#include "ReleaseStatement.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

// Time-outs of the size request and of connecting for the data request, in seconds.
constexpr long kSizeRequestTimeoutSeconds = 10;
// Least time between two OnTransferStats calls: often enough for a lively speed figure, rare
// enough not to flood the UI thread.
constexpr auto kStatsInterval = std::chrono::milliseconds(250);

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
using Clock = std::chrono::steady_clock;

// State of one data request, shared by libcurl's callbacks on the download thread.
struct Transfer {
    explicit Transfer(DownloadObserver& o) : observer(o) {}

    DownloadObserver& observer;
    CURL* handle = nullptr;
    std::string path;
    FilePtr file;
    bool fileCreated = false;
    QCryptographicHash hash{QCryptographicHash::Sha256};
    int64_t total = 0;
    int64_t received = 0;
    int lastPercent = 0; // what the dialog shows when it opens
    bool cancelled = false;
    std::string error;
    Clock::time_point start = Clock::now();
    Clock::time_point lastStats = start - kStatsInterval; // the first chunk reports at once

    void ReportStats(bool force)
    {
        const auto now = Clock::now();
        if (!force && now - lastStats < kStatsInterval)
            return;
        lastStats = now;
        const double seconds = std::chrono::duration<double>(now - start).count();
        observer.OnTransferStats(received, total, seconds > 0 ? received / seconds : 0.0);
    }
};

// Opens the target for writing, replacing a regular file of that name but never following a
// link planted there.
FilePtr CreateTarget(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr)
        ::close(fd);
    return FilePtr(file);
}

// The first block of the data reply decides: a 2xx status and the announced length (when the
// reply names one) must match the size request, then the file is created.
bool BeginBody(Transfer& t)
{
    long status = 0;
    curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        t.error = "data request answered " + std::to_string(status);
        return false;
    }
    curl_off_t length = -1;
    curl_easy_getinfo(t.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0 && length != t.total) {
        t.error = "data request announced " + std::to_string(length) + " bytes, size request " +
                  std::to_string(t.total);
        return false;
    }
    t.file = CreateTarget(t.path);
    if (!t.file) {
        t.error = "cannot create " + t.path;
        return false;
    }
    t.fileCreated = true;
    return true;
}

// libcurl's write callback: the block in chunks of kDownloadChunkBytes, each after a cancel check,
// written, hashed and counted. Returning less than the block ends the transfer.
size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (!t.file && !BeginBody(t))
        return 0;
    for (size_t offset = 0; offset < bytes;) {
        if (t.observer.Cancelled()) {
            t.cancelled = true;
            return 0;
        }
        const size_t n = std::min<size_t>(kDownloadChunkBytes, bytes - offset);
        if (t.received + static_cast<int64_t>(n) > t.total) {
            t.error = "more data than announced";
            return 0;
        }
        if (std::fwrite(data + offset, 1, n, t.file.get()) != n) {
            t.error = "write to " + t.path + " failed";
            return 0;
        }
        t.hash.addData(QByteArrayView(data + offset, static_cast<qsizetype>(n)));
        t.received += static_cast<int64_t>(n);
        offset += n;
        const int percent = DownloadPercent(t.received, t.total);
        if (percent != t.lastPercent) {
            t.lastPercent = percent;
            t.observer.OnPercent(percent);
        }
        t.ReportStats(false);
    }
    return bytes;
}

// libcurl's progress callback: a cancel takes effect even while no data arrives.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    Transfer& t = *static_cast<Transfer*>(user);
    if (t.observer.Cancelled()) {
        t.cancelled = true;
        return 1;
    }
    return 0;
}

// The size request: the Content-Length of a 2xx HEAD reply, or -1 with error set.
int64_t RequestSize(const std::string& url, std::string& error)
{
    CurlEasy handle(curl_easy_init());
    if (!handle) {
        error = "no transfer handle";
        return -1;
    }
    CURL* h = handle.get();
    ApplyTransportOptions(h);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, kSizeRequestTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK) {
        error = std::string("size request: ") + curl_easy_strerror(code);
        return -1;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t length = -1;
    curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (status < 200 || status > 299) {
        error = "size request answered " + std::to_string(status);
        return -1;
    }
    if (length <= 0) {
        error = "size request gave no length";
        return -1;
    }
    return static_cast<int64_t>(length);
}

// Deletes what a download that did not complete left behind.
void RemovePartialFile(const Transfer& t)
{
    if (t.fileCreated)
        std::remove(t.path.c_str());
}

bool SameDigest(const std::string& expected, const QByteArray& actualHex)
{
    return QByteArray::fromStdString(expected).toLower() == actualHex;
}

// The checks of a whole file against what the upgrade reply promised; empty when it passes.
std::string VerifyRelease(const DownloadRequest& request, int64_t size, const std::string& digestHex)
{
    if (!request.sha256.empty() && !SameDigest(request.sha256, QByteArray::fromStdString(digestHex)))
        return "its SHA-256 differs from the release's";
    if (request.publicKey.empty())
        return {};
    if (request.signature.empty())
        return "the release carries no signature";
    const ReleaseStatement statement(request.version, ReleaseStatement::AddressFileName(request.url), size, digestHex);
    if (!statement.Verify(request.publicKey, request.signature))
        return "its release signature does not verify";
    return {};
}

} // namespace

int DownloadPercent(int64_t received, int64_t total)
{
    if (total <= 0)
        return 0;
    // Single precision, truncated: 2048 of 2048 bytes are exactly 100, 1024 exactly 50.
    const float percent = static_cast<float>(received) / static_cast<float>(total) * 100.0f;
    return std::clamp(static_cast<int>(percent), 0, 100);
}

std::string BuiltInReleaseKey()
{
#ifdef TAMSU_RELEASE_PUBLIC_KEY
    return TAMSU_RELEASE_PUBLIC_KEY;
#else
    return {};
#endif
}

std::string InstallerFileName(const std::string& url)
{
    const std::string name = ReleaseStatement::AddressFileName(url);
    const bool control = std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    if (name.empty() || name == "." || name == ".." || control || name.size() > kMaxInstallerNameBytes)
        return kFallbackInstallerName;
    return name;
}

DownloadResult DownloadInstaller(const DownloadRequest& request, DownloadObserver& observer)
{
    DownloadResult result;
    if (observer.Cancelled()) {
        result.outcome = DownloadOutcome::kCancelled;
        return result;
    }
    EnsureCurlGlobalInit();
    const int64_t total = RequestSize(request.url, result.error);
    if (total < 0)
        return result;
    if (request.expectedSize >= 0 && request.expectedSize != total) {
        result.error = "the service announced " + std::to_string(request.expectedSize) +
                       " bytes, the download " + std::to_string(total);
        return result;
    }

    CurlEasy handle(curl_easy_init());
    if (!handle) {
        result.error = "no transfer handle";
        return result;
    }
    Transfer t(observer);
    t.handle = handle.get();
    t.path = request.folder + "/" + InstallerFileName(request.url);
    t.total = total;
    CURL* h = handle.get();
    ApplyTransportOptions(h);
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kDownloadStallSeconds);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    const CURLcode code = curl_easy_perform(h);

    if (t.file && std::fclose(t.file.release()) != 0 && t.error.empty())
        t.error = "write to " + t.path + " failed";
    if (t.fileCreated)
        result.filePath = t.path;
    t.ReportStats(true);
    if (t.cancelled) {
        RemovePartialFile(t);
        result.outcome = DownloadOutcome::kCancelled;
        return result;
    }
    if (code != CURLE_OK && t.error.empty())
        t.error = curl_easy_strerror(code);
    if (t.error.empty() && t.received != t.total)
        t.error = "the transfer stopped at " + std::to_string(t.received) + " of " + std::to_string(t.total);
    if (!t.error.empty()) {
        RemovePartialFile(t); // a package that is not the whole release is not kept around
        result.error = t.error;
        return result;
    }
    const std::string refused = VerifyRelease(request, t.received, t.hash.result().toHex().toStdString());
    if (!refused.empty()) {
        RemovePartialFile(t); // never left where the user or the desktop might open it
        result.outcome = DownloadOutcome::kUnverified;
        result.error = t.path + ": " + refused;
        return result;
    }
    result.outcome = DownloadOutcome::kComplete;
    return result;
}
