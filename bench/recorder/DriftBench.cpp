// Drift: a synthetic device whose clock runs 200 ppm fast (or slow) against the clock of the
// arrival times delivers a click a second through CaptureSource into a SampleFifo for one simulated
// hour; the clicks read back are compared with where they belong (the moment they sounded). No
// sound server: the hour takes seconds.

#include "BenchSections.h"
#include "BenchTable.h"
#include "CaptureSource.h"
#include "SyntheticDevice.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kEpochNs = 10 * kSecond; // the recording's position 0
// One simulated hour, as the goal says.
constexpr int kSimulatedSeconds = 3600;
// The device: packets of 50 ms as the sound server's streams deliver them, 20 ms from capture to
// arrival, and each packet up to 30 ms later still (a busy machine).
constexpr int kPacketFrames = 2205;
constexpr int64_t kLatencyNs = 20 * kMs;
constexpr int64_t kJitterNs = 30 * kMs;
// Clicks after this are "settled": the first packets of a stream place it roughly.
constexpr int64_t kSettledAfterNs = 10 * kSecond;
// Found and expected clicks farther apart than this do not belong together.
constexpr int64_t kMatchTolerance = kRate / 20;
constexpr double kGoalMs = 5;

int64_t PosOf(int64_t ns)
{
    return std::llround(static_cast<double>(ns - kEpochNs) * kRate / kSecond);
}

double SamplesToMs(int64_t samples) { return static_cast<double>(samples) * 1000.0 / kRate; }

struct DriftResult {
    size_t expected = 0;
    size_t found = 0;
    int64_t lastError = 0;   // samples, last click found against where it belongs (+: too late)
    int64_t worstSettled = 0; // samples, largest |error| after kSettledAfterNs
    double seconds = 0;       // wall time of the simulation
};

// One hour of the device through a source as the recorder builds it (stereo float planes, read up
// to the last arrival less the allowance of a late source).
DriftResult Simulate(double ppm)
{
    const auto began = std::chrono::steady_clock::now();
    SyntheticDeviceSpec spec;
    spec.format = {AV_SAMPLE_FMT_S16, kRate, 2};
    spec.packetFrames = kPacketFrames;
    spec.ppm = ppm;
    spec.latencyNs = kLatencyNs;
    spec.jitterNs = kJitterNs;
    spec.clickOriginNs = kEpochNs + 100 * kMs;
    spec.clickPeriodNs = kSecond;
    SyntheticDevice device(spec, kEpochNs);
    SampleFifo fifo(AV_SAMPLE_FMT_FLTP, 2, 6 * kRate);
    CaptureSource::Options options;
    options.outFormat = AV_SAMPLE_FMT_FLTP;
    options.outRate = kRate;
    options.epochNs = kEpochNs;
    CaptureSource source(options, fifo);
    source.Begin(spec.format, spec.latencyNs);

    constexpr int kChunk = 4096;
    std::vector<float> left(kChunk), right(kChunk);
    uint8_t* planes[2] = {reinterpret_cast<uint8_t*>(left.data()), reinterpret_cast<uint8_t*>(right.data())};
    const int64_t allowance = CaptureSource::kGapNs * kRate / kSecond;
    std::vector<int64_t> found;
    int64_t readPos = 0;
    const int64_t end = kEpochNs + static_cast<int64_t>(kSimulatedSeconds) * kSecond;
    while (device.NextArrival() < end) {
        const SyntheticDevice::Packet p = device.Take();
        source.Deliver(p.data.data(), p.frames, p.arrivalNs);
        for (const int64_t until = PosOf(p.arrivalNs) - allowance; readPos < until;) {
            const int n = static_cast<int>(std::min<int64_t>(kChunk, until - readPos));
            fifo.Read(planes, 0, n, readPos);
            FindClicks(left.data(), static_cast<size_t>(n), readPos, spec.clickLevel / 2, kRate / 100, found);
            readPos += n;
        }
    }

    DriftResult r;
    std::vector<int64_t> expected;
    for (const int64_t t : device.CapturedClicks())
        if (PosOf(t) < readPos)
            expected.push_back(PosOf(t));
    r.expected = expected.size();
    r.found = found.size();
    for (const int64_t f : found) {
        const auto it = std::min_element(expected.begin(), expected.end(),
                                         [f](int64_t a, int64_t b) { return std::llabs(a - f) < std::llabs(b - f); });
        if (it == expected.end() || std::llabs(f - *it) > kMatchTolerance)
            continue;
        r.lastError = f - *it;
        if (*it >= PosOf(kEpochNs + kSettledAfterNs))
            r.worstSettled = std::max<int64_t>(r.worstSettled, std::llabs(r.lastError));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return r;
}

} // namespace

void RunDriftBench(const BenchContext& ctx)
{
    BenchTable table("Drift: a device clock 200 ppm off (and on time, for the jitter alone), one simulated hour "
                     "through CaptureSource and SampleFifo",
                     {"device clock", "clicks found / expected", "last click error ms", "largest error after 10 s ms",
                      "simulated in s"});
    for (const double ppm : {0.0, 200.0, -200.0}) {
        const DriftResult r = Simulate(ppm);
        const double last = SamplesToMs(r.lastError);
        table.AddRow({BenchTable::Format("%+.0f ppm", ppm), BenchTable::Format("%zu / %zu", r.found, r.expected),
                      BenchTable::Format("%+.2f (goal within ±%.0f: %s)", last, kGoalMs,
                                         std::fabs(last) < kGoalMs && r.found > 0 ? "met" : "missed"),
                      BenchTable::Format("%.2f", SamplesToMs(r.worstSettled)), BenchTable::Format("%.1f", r.seconds)});
    }
    table.AddNote(BenchTable::Format(
        "SyntheticDevice (tests/support): s16 stereo %d Hz by its own clock, packets of %d frames arriving %lld ms "
        "after capture plus 0-%lld ms at random, a click every second of true time; CaptureSource to fltp stereo, "
        "read from the SampleFifo as the encoder reads it (up to the last arrival less CaptureSource::kGapNs). Error: "
        "position of the click found in the FIFO less the position of the moment it sounded (+: placed late).",
        kRate, kPacketFrames, static_cast<long long>(kLatencyNs / kMs), static_cast<long long>(kJitterNs / kMs)));
    table.Print(ctx.report);
}
