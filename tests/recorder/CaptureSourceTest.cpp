// CaptureSource: samples are placed by when they were captured, whatever the packet sizes, delays,
// stalls or the device's clock; holes are silence. (Each sample format's level in a recording: the
// sound tests.)

#include "CaptureSource.h"
#include "CaptureWorker.h"
#include "SyntheticDevice.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int64_t kEpochNs = 10'000'000'000; // the recording's position 0
constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kAllowance = CaptureSource::kGapNs * kRate / kSecond;
constexpr int64_t kSamplesPerMs = kRate / 1000; // 44 (a millisecond, rounded down)

int64_t PosOf(int64_t ns)
{
    return std::llround(static_cast<double>(ns - kEpochNs) * kRate / kSecond);
}

const CaptureSource::Options kMono{
    .outFormat = AV_SAMPLE_FMT_FLT, .outRate = kRate, .outChannels = 1, .epochNs = kEpochNs};

// One source as the recorder builds it (in mono: the channels play no part in the timing), read
// the way the recorder reads it: up to the last arrival less the allowance of a late source; the
// clicks found in it.
struct Lane {
    explicit Lane(const SyntheticDeviceSpec& spec)
        : fifo(AV_SAMPLE_FMT_FLT, 1, 6 * kRate), source(kMono, fifo), device(spec, kEpochNs)
    {
        // A monitor's lead (its samples arrive before they play) is said only in the server's reports.
        EXPECT_TRUE(source.Begin(spec.format, std::max<int64_t>(spec.latencyNs, 0)));
    }
    void ReadUpTo(int64_t pos)
    {
        constexpr int kChunk = 4096;
        float samples[kChunk];
        uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(samples)};
        while (readPos < pos) {
            const int n = static_cast<int>(std::min<int64_t>(kChunk, pos - readPos));
            fifo.Read(planes, 0, n, readPos);
            FindClicks(samples, static_cast<size_t>(n), readPos, device.Spec().clickLevel * 0.3f, 10 * kSamplesPerMs,
                       clicks);
            readPos += n;
        }
    }
    // Where the clicks captured belong, but for those captured in [quietFrom, quietTo).
    std::vector<int64_t> Expected(int64_t quietFrom = 0, int64_t quietTo = 0) const
    {
        std::vector<int64_t> out;
        for (const int64_t t : device.CapturedClicks())
            if (t < quietFrom || t >= quietTo)
                out.push_back(PosOf(t));
        return out;
    }

    SampleFifo fifo;
    CaptureSource source;
    SyntheticDevice device;
    std::vector<int64_t> clicks;
    int64_t readPos = 0;
    int holePacket = -1; // this packet is delivered as a hole (no data)
    int packets = 0;
};

// Delivers the lanes' packets in the order they arrive until untilNs, reading as it goes.
void Play(const std::vector<Lane*>& lanes, int64_t untilNs)
{
    for (;;) {
        Lane* next = nullptr;
        for (Lane* lane : lanes)
            if (!next || lane->device.NextArrival() < next->device.NextArrival())
                next = lane;
        if (next->device.NextArrival() > untilNs)
            break;
        const SyntheticDevice::Packet p = next->device.Take();
        const bool hole = next->packets++ == next->holePacket;
        next->source.Deliver(hole ? nullptr : p.data.data(), p.frames, p.arrivalNs);
        const SyntheticDeviceSpec& spec = next->device.Spec();
        if (spec.serverBlockFrames > 0) // the server's report, asked for after the packet
            next->source.Timing(p.arrivalNs, next->device.WrittenBy(p.arrivalNs), spec.latencyNs);
        for (Lane* lane : lanes)
            lane->ReadUpTo(PosOf(p.arrivalNs) - kAllowance);
    }
}

SyntheticDeviceSpec Spec(int format, int rate, int channels, int packetFrames, int64_t latencyNs, int64_t jitterNs)
{
    return {.format = {format, rate, channels}, .packetFrames = packetFrames, .latencyNs = latencyNs,
            .jitterNs = jitterNs, .clickOriginNs = kEpochNs + 100 * kMs,
            .holdFromNs = kEpochNs}; // (a hold is empty until a test sets holdToNs)
}

} // namespace

TEST(CaptureSource, SourcesWithDifferentPacketsAndDelaysLineUp)
{
    struct Case {
        const char* name;
        SyntheticDeviceSpec a, b;
        int64_t holdA, holdB; // the first packets of this span arrive together at its end
    } cases[] = {
        {"s32 48 kHz 100 ms packets / s16 44.1 kHz mono 10 ms packets",
         Spec(AV_SAMPLE_FMT_S32, 48000, 2, 4800, 10 * kMs, 10 * kMs),
         Spec(AV_SAMPLE_FMT_S16, 44100, 1, 441, 40 * kMs, 3 * kMs), 0, 0},
        {"first packets 300 / 150 ms late: float 32 kHz / s16 48 kHz with 20 ms delays",
         Spec(AV_SAMPLE_FMT_FLT, 32000, 2, 1024, 5 * kMs, 5 * kMs),
         Spec(AV_SAMPLE_FMT_S16, 48000, 1, 960, 30 * kMs, 20 * kMs), 300 * kMs, 150 * kMs},
        {"a sink's monitor, played 12 ms after it arrives / a microphone",
         Spec(AV_SAMPLE_FMT_FLT, 44100, 2, 2302, -12 * kMs, 1 * kMs),
         Spec(AV_SAMPLE_FMT_S16, 44100, 2, 2302, 0, 1 * kMs), 0, 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.b.seed = 2;
        c.a.serverBlockFrames = c.b.serverBlockFrames = 256;
        c.a.holdToNs = kEpochNs + c.holdA;
        c.b.holdToNs = kEpochNs + c.holdB;
        Lane a(c.a), b(c.b);
        Play({&a, &b}, kEpochNs + 20 * kSecond);
        // Aligned from the first click on: the placement never has to catch up.
        const int64_t settled = PosOf(kEpochNs);
        const ClickMatch pair = MatchClicks(b.clicks, a.clicks, 2 * kSamplesPerMs, settled);
        EXPECT_GE(pair.expected, 70);
        EXPECT_EQ(pair.missing + pair.stray, 0) << "the sources more than 2 ms apart";
        const ClickMatch ta = MatchClicks(a.clicks, a.Expected(), 5 * kSamplesPerMs, settled, a.readPos);
        const ClickMatch tb = MatchClicks(b.clicks, b.Expected(), 5 * kSamplesPerMs, settled, b.readPos);
        EXPECT_EQ(ta.missing + ta.stray + tb.missing + tb.stray, 0) << "more than 5 ms from where they belong";
    }
}

TEST(CaptureSource, DeviceClock200PpmOffStaysInPlaceForTenMinutes)
{
    for (const double ppm : {200.0, -200.0}) {
        SCOPED_TRACE(ppm);
        SyntheticDeviceSpec spec = Spec(AV_SAMPLE_FMT_S16, 44100, 1, 2205, 20 * kMs, 5 * kMs);
        spec.ppm = ppm;
        spec.clickPeriodNs = kSecond;
        Lane lane(spec);
        // (Uncorrected, the difference would reach 120 ms.)
        const int64_t end = kEpochNs + 600 * kSecond;
        Play({&lane}, end);
        const std::vector<int64_t> expected = lane.Expected();
        // Every click within 3 ms of where it belongs, from the moment the clock difference shows.
        const ClickMatch all = MatchClicks(lane.clicks, expected, 3 * kSamplesPerMs, PosOf(kEpochNs + 15 * kSecond),
                                           PosOf(end - 10 * kSecond));
        EXPECT_GE(all.expected, 570);
        EXPECT_EQ(all.missing + all.stray, 0) << "worst " << all.worst << " samples";
        // The device's clock pulls the placement to one side: a fast one's samples land late.
        EXPECT_LT(lane.source.Misplacement() * ppm, 0);
        EXPECT_LE(std::abs(lane.source.Misplacement()), 5 * kSamplesPerMs);
    }
}

TEST(CaptureSource, StallsAndHolesLeaveSilenceAndKeepTheRestInPlace)
{
    constexpr int64_t kFrom = kEpochNs + 3 * kSecond, kTo = kEpochNs + 5 * kSecond;
    struct Case {
        const char* name;
        int64_t suspendTo, holdTo; // from kFrom: capture stops, or delivery stops and the packets queue up
        int holePacket;
        int64_t quietFrom, quietTo; // clicks captured here are not expected (a found one must be in place)
    } cases[] = {
        {"device suspended 2 s", kTo, 0, -1, kFrom, kTo},
        {"delivery stalled 2 s", 0, kTo, -1, kFrom - 100 * kMs, kTo}, // what was held may be missing
        {"a hole", 0, 0, 41, kEpochNs + 2050 * kMs, kEpochNs + 2100 * kMs}, // (the click at 2.06 s)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SyntheticDeviceSpec spec = Spec(AV_SAMPLE_FMT_S32, 44100, 2, 2205, 20 * kMs, 0);
        spec.clickPeriodNs = 70 * kMs;
        spec.suspendFromNs = spec.holdFromNs = kFrom;
        spec.suspendToNs = c.suspendTo;
        spec.holdToNs = c.holdTo;
        Lane lane(spec);
        lane.holePacket = c.holePacket;
        Play({&lane}, kEpochNs + 8 * kSecond);
        const ClickMatch m = MatchClicks(lane.clicks, lane.Expected(c.quietFrom, c.quietTo), kSamplesPerMs, INT64_MIN,
                                         lane.readPos);
        EXPECT_GE(m.expected, 70);
        EXPECT_EQ(m.missing, 0);
        EXPECT_EQ(MatchClicks(lane.clicks, lane.Expected(), kSamplesPerMs, INT64_MIN, lane.readPos).stray, 0)
            << "sound out of place";
    }
}

TEST(CaptureWorker, PacketsFromTheLoopThreadArriveWholeAndInOrder)
{
    // Another thread plays the sound server's loop: packets of random sizes (a slow sine), each with
    // its timing report, faster than real time; the worker must place every sample, in order.
    constexpr int64_t kTotal = 20 * kRate;
    constexpr int kPeriod = 1000; // the sine's period, in samples
    SampleFifo fifo(AV_SAMPLE_FMT_FLT, 1, static_cast<int>(kTotal) + kRate);
    CaptureSource source(kMono, fifo);
    {
        CaptureWorker worker(source);
        worker.Begin({AV_SAMPLE_FMT_FLT, kRate, 1}, 0);
        std::thread loop([&] {
            std::mt19937 random(3);
            std::vector<float> packet;
            for (int64_t sent = 0; sent < kTotal;) {
                const int n = static_cast<int>(std::min<int64_t>(std::uniform_int_distribution<int>(1, 3000)(random),
                                                                 kTotal - sent));
                packet.resize(static_cast<size_t>(n));
                for (int i = 0; i < n; ++i)
                    packet[static_cast<size_t>(i)] = static_cast<float>(0.5 * std::sin(2 * M_PI * static_cast<double>(sent + i) / kPeriod));
                const int64_t arrival = kEpochNs + (sent + n) * kSecond / kRate;
                worker.Packet(packet.data(), n, sizeof(float), arrival);
                worker.Timing(arrival, sent + n, 0);
                sent += n;
                std::this_thread::sleep_for(std::chrono::microseconds(100)); // the server's pace, sped up
            }
        });
        loop.join();
    } // the worker hands over everything queued before it ends
    std::vector<float> out(static_cast<size_t>(kTotal));
    uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(out.data())};
    const int captured = fifo.Read(planes, 0, static_cast<int>(kTotal), 0);
    EXPECT_GE(captured, kTotal - kRate / 10) << "samples lost";
    // A sample lost, doubled or out of order is a step larger than the sine ever makes.
    int breaks = 0;
    for (size_t i = kRate; i + 1 < static_cast<size_t>(captured); ++i)
        breaks += std::fabs(out[i + 1] - out[i]) > 1.1 * M_PI / kPeriod;
    EXPECT_EQ(breaks, 0) << "samples out of order, doubled or lost";
}
