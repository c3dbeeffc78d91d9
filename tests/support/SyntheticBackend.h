#pragma once
// SyntheticBackend: a CaptureBackend for tests. Its clock stands still until the test moves it, and
// its streams deliver only what the test hands them (as the sound server's loop would), so a whole
// recording runs in a fraction of real time without a sound server.
//
// Thread-safety: SetNow/NowNs from any thread. Begin/Deliver from one test thread; they run under
// the backend's lock, which a stream's destructor (the recorder's encode thread) also takes, so no
// delivery reaches a source whose stream is gone.

#include "CaptureBackend.h"
#include "CaptureSource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class SyntheticBackend : public CaptureBackend {
public:
    int64_t NowNs() override { return now_.load(); }
    void SetNow(int64_t ns) { now_.store(ns); }

    std::unique_ptr<CaptureStream> Open(CaptureKind kind, CaptureSource& source) override;

    // CaptureSource::Begin / Deliver of the open stream of kind; false when none is open.
    bool Begin(CaptureKind kind, const CaptureFormat& format, int64_t latencyNs);
    bool Deliver(CaptureKind kind, const void* data, int frames, int64_t arrivalNs);

    // Streams opened so far.
    int Opened() const;

private:
    class Stream;
    static int Index(CaptureKind kind) { return kind == CaptureKind::kMicrophone ? 1 : 0; }

    std::atomic<int64_t> now_{0};
    mutable std::mutex lock_;
    CaptureSource* sources_[2] = {}; // guarded by lock_
    int opened_ = 0;                 // guarded by lock_
};
