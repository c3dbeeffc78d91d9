#pragma once
// SyntheticDevice: a capture device for tests. It hears a click train (on every channel) in true
// time (the clock of the arrival times), samples it by its own clock (which may run fast or slow)
// and hands it out in packets with arrival times: latency, random delay, a suspension (nothing
// captured) or a held delivery (packets queue up and arrive together). FindClicks finds the clicks
// again in what a recording made of it.
//
// Thread-safety: none; one thread uses a device.

#include "CaptureSource.h"

#include <cstdint>
#include <random>
#include <vector>

struct SyntheticDeviceSpec {
    CaptureFormat format;               // packed s16, s32 or flt
    int packetFrames = 2205;
    double ppm = 0;                     // the device's clock against true time (+ runs fast)
    int64_t latencyNs = 0;              // capture to arrival, at best
    int64_t jitterNs = 0;               // each packet arrives up to this much later still
    int serverBlockFrames = 0;          // > 0: the server writes the stream in blocks of this size
    float clickLevel = 0.5f;
    int64_t clickOriginNs = 0;          // the clicks sound at origin + k * period, k >= 0
    int64_t clickPeriodNs = 250'000'000;
    uint32_t seed = 1;
    int64_t suspendFromNs = -1, suspendToNs = -1; // captures nothing then; its sample count goes on after
    int64_t holdFromNs = -1, holdToNs = -1;       // packets due then arrive together at its end
};

class SyntheticDevice {
public:
    struct Packet {
        std::vector<uint8_t> data; // interleaved
        int frames = 0;
        int64_t arrivalNs = 0;
        double endNs = 0; // true time just after its last sample
    };

    // Captures from startNs on.
    SyntheticDevice(const SyntheticDeviceSpec& spec, int64_t startNs);

    int64_t NextArrival() { return Peek().arrivalNs; }
    Packet Take();
    // The server's timing report at atNs (after the last packet taken arrived): the samples it had
    // written into the stream by then, in whole blocks.
    int64_t WrittenBy(int64_t atNs) const;
    const SyntheticDeviceSpec& Spec() const { return spec_; }
    // True times of the clicks in the packets taken so far.
    const std::vector<int64_t>& CapturedClicks() const { return clicks_; }

private:
    Packet& Peek();

    SyntheticDeviceSpec spec_;
    double dtNs_;          // a device sample period in true time
    double timeNs_;        // true time of the next sample captured
    int64_t lastArrival_ = 0;
    int64_t takenFrames_ = 0;
    double takenEndNs_ = 0; // true time just after the last sample taken
    bool pending_ = false;
    Packet next_;
    std::vector<int64_t> clicks_;
    std::vector<int64_t> nextClicks_;
    std::mt19937 random_;
};

// Positions (first + index) of the clicks in s[0, n) appended to clicks: the peak of |s| from a
// sample at or above threshold, at least spacing after the last click already in clicks.
void FindClicks(const float* s, size_t n, int64_t first, float threshold, int spacing, std::vector<int64_t>& clicks);

// Found clicks against the positions where they belong, both sorted, within [from, to): an expected
// click with no found one within tol is missing, a found one with no expected one within tol is
// stray; worst is the largest distance of a found click from its expected one.
struct ClickMatch {
    int expected = 0;
    int missing = 0;
    int stray = 0;
    int64_t worst = 0;
};
ClickMatch MatchClicks(const std::vector<int64_t>& found, const std::vector<int64_t>& expected, int64_t tol,
                       int64_t from = INT64_MIN, int64_t to = INT64_MAX);
