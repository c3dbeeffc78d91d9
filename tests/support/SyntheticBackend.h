#pragma once
// SyntheticBackend: a CaptureBackend for tests whose clock stands still until the test moves it, so
// that a recording without sources (silent mode) runs in a fraction of real time. It has no
// devices: Open hands out streams that deliver nothing, and counts them.
//
// Thread-safety: every member from any thread.

#include "CaptureBackend.h"

#include <atomic>
#include <cstdint>
#include <memory>

class SyntheticBackend : public CaptureBackend {
public:
    int64_t NowNs() override { return now_.load(); }
    void SetNow(int64_t ns) { now_.store(ns); }
    std::unique_ptr<CaptureStream> Open(CaptureKind, CaptureSource&) override
    {
        ++opened_;
        return std::make_unique<CaptureStream>();
    }
    int Opened() const { return opened_.load(); } // streams opened so far

private:
    std::atomic<int64_t> now_{0};
    std::atomic<int> opened_{0};
};
