#pragma once
// DownloadObserver: what DownloadInstaller asks of the one who shows a download. All methods are
// called on the download's worker thread; implementations hand anything visible to their UI
// thread themselves.

#include <cstdint>

class DownloadObserver {
public:
    virtual ~DownloadObserver() = default;
    // Asked before every chunk and while the transfer waits for data: true ends the transfer.
    virtual bool Cancelled() = 0;
    // The whole-number percentage changed (0..100).
    virtual void OnPercent(int percent) = 0;
    // Bytes so far, of total, and the average speed since the transfer began, at most a few
    // times a second and once at the end.
    virtual void OnTransferStats(int64_t received, int64_t total, double bytesPerSecond) = 0;
};
