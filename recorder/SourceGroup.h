#pragma once
// SourceGroup: one source of a recording made of several streams that come and go (every playback
// stream of one program), mixed by their capture times into the source's SampleFifo.
//
// Each stream that joins gets its own CaptureSource and FIFO (a lane) on the recording's timeline.
// Whenever a lane gets samples, the group sums the lanes up to the position every live lane has
// reached and writes the sum into the output FIFO, so streams that deliver in different packets
// still line up by when their sound was captured. A lane is waited for while it keeps up (its
// samples reach within kLagNs of now, or it joined less than kJoinWaitNs ago and is still placing
// its first packets); one that falls behind (a stream that went quiet or stalled) is not, and what
// it delivers too late is dropped. A lane that left is mixed until it is drained, then freed.
// Each lane has a gain (its device's volume, which a stream of one playback stream does not carry).
// Without any lane nothing is written: the recording reads silence there, it never ends.
//
// Thread-safety: Join and Leave from one thread (the stream's upkeep, the encode thread), the mix
// on the lanes' capture workers, TakePeak from any thread; one mutex guards the lanes.

#include "CaptureSource.h"
#include "SampleFifo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class SourceGroup {
public:
    // A lane that delivered nothing for this long (or its first samples not within this of now)
    // is not waited for: less than the recording's allowance (CaptureSource::kGapNs), so the mix
    // still reaches the file in time, more than a packet and the server's latency.
    static constexpr int64_t kLagNs = 250'000'000;
    // A new stream holds its first packets while its placement settles (CaptureSource); the group
    // waits for it that long before mixing on without it.
    static constexpr int64_t kJoinWaitNs = 250'000'000;
    // How often a lane's samples move the mix on when another lane holds it back: a fraction of
    // kLagNs, so a lane that fell behind stops holding the others back soon after.
    static constexpr int64_t kMixPeriodNs = 50'000'000;
    // ... and when it held the mix back: a packet of the server or two, so that fifty streams
    // are not mixed a thousand times a second, while a stopping recording (whose workers take
    // every packet at once) still gets its last samples at once.
    static constexpr int64_t kMinMixGapNs = 10'000'000;

    // options: of the lanes' sources (the recording's format and epoch). nowNs: the clock of the
    // capture times (the backend's).
    SourceGroup(const CaptureSource::Options& options, SampleFifo& out, std::function<int64_t()> nowNs);
    ~SourceGroup();
    SourceGroup(const SourceGroup&) = delete;
    SourceGroup& operator=(const SourceGroup&) = delete;

    // Stream id joins; its CaptureSource stays valid until Leave(id). Joining an id twice gives the
    // same lane.
    CaptureSource& Join(uint32_t id);
    // Stream id delivers nothing more (its stream and worker are gone).
    void Leave(uint32_t id);
    // Lane id's samples are mixed at gain (linear, 0 = muted) from now on; 1 when never set.
    void SetGain(uint32_t id, float gain);
    // Lanes not yet freed (tests, logs).
    size_t Lanes() const;
    // The highest absolute sample value (0..1) of the mix since the last call.
    float TakePeak();

private:
    struct Lane;
    void Mix(const Lane& written); // a lane got samples
    void MixLocked();      // lock_ held
    int64_t ToPos(int64_t ns) const;

    const CaptureSource::Options options_;
    SampleFifo& out_;
    const std::function<int64_t()> nowNs_;
    const int64_t lag_, joinWait_, allowance_; // kLagNs, kJoinWaitNs, CaptureSource::kGapNs in samples
    mutable std::mutex lock_;
    std::map<uint32_t, std::unique_ptr<Lane>> lanes_; // lock_
    int64_t mixedEnd_ = SampleFifo::kNoPosition;      // lock_: everything before it was mixed
    int64_t lastMixNs_ = INT64_MIN / 2;                // lock_: when the mix last looked at the lanes
    std::vector<std::vector<uint8_t>> sum_, part_;     // lock_: one chunk, per plane
    float peak_ = 0;                                   // lock_: of the mix since TakePeak
};
