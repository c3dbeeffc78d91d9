// Echo cancellation without a sound server: which reference goes to the canceller with which
// microphone unit, and the echo path measured from the two signals.

#include "EchoCanceller.h"
#include "EchoPathEstimator.h"
#include "EchoReference.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <vector>

namespace {

constexpr int kUnit = EchoCanceller::kUnitPositions;

// Records what the canceller is given instead of cancelling.
struct WatchedCanceller : EchoCanceller {
    using EchoCanceller::EchoCanceller;
    float referenceLevel = 0; // the middle of the last reference unit, -1..1
    int delayMs = -1;
    bool library = false; // the library cancels as well

    int Cancel(webrtc::AudioFrame& reference, webrtc::AudioFrame& unit, int delay) override
    {
        referenceLevel = reference.data_[reference.samples_per_channel_ * 3 / 4] / 32768.0f;
        delayMs = delay;
        return library ? EchoCanceller::Cancel(reference, unit, delay) : 0;
    }
};

// The system sound of block k (kUnit positions from k * kUnit) is a constant of its own.
float Mark(int64_t block) { return static_cast<float>(block % 90 + 1) / 100; }

void WriteBlocks(EchoReference& ref, int64_t first, int64_t count)
{
    for (int64_t k = first; k < first + count; ++k) {
        const std::vector<float> block(kUnit, Mark(k));
        ref.Write(k * kUnit, block.data(), kUnit);
    }
}

} // namespace

TEST(EchoCancellation, EachMicrophoneUnitGetsTheReferenceOfItsOwnSpan)
{
    EchoReference ref;
    WriteBlocks(ref, 0, 20);
    WriteBlocks(ref, 120, 10); // the system sound stalled from block 20 to 120
    WatchedCanceller echo(ref);
    ASSERT_EQ(echo.Init(), 0);
    webrtc::AudioFrame unit; // 10 ms at 32 kHz, mono
    unit.UpdateFrame(0, 0, nullptr, 320, 32000, webrtc::AudioFrame::kNormalSpeech, webrtc::AudioFrame::kVadUnknown);

    const struct {
        const char* name;
        int64_t micPos;       // where the microphone unit was captured
        int64_t referencePos; // the reference given with it
        float level;          // its content (0: silence)
        int delayMs;
    } cases[] = {
        {"first unit", 3 * kUnit, 3 * kUnit, Mark(3), 0},
        {"the next one follows on", 4 * kUnit, 4 * kUnit, Mark(4), 0},
        {"placement moved by 3 ms (drift): the reference follows on", 5 * kUnit + 132, 5 * kUnit, Mark(5), 2},
        {"and stays there", 6 * kUnit + 132, 6 * kUnit, Mark(6), 2},
        {"microphone back after a pause of its stream", 10 * kUnit, 10 * kUnit, Mark(10), 0},
        {"microphone jumped back", 2 * kUnit, 2 * kUnit, Mark(2), 0},
        {"the system sound stalled: silence, not later sound", 50 * kUnit, 50 * kUnit, 0, 0},
        {"system sound back", 121 * kUnit, 121 * kUnit, Mark(121), 0},
        {"system sound not written yet: silence after a bounded wait", 200 * kUnit, 200 * kUnit, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(echo.Process(unit, c.micPos), 0);
        EXPECT_EQ(echo.LastReferencePos(), c.referencePos);
        EXPECT_NEAR(echo.referenceLevel, c.level, 0.002);
        EXPECT_EQ(echo.delayMs, c.delayMs);
    }
}

TEST(EchoCancellation, TheEchoPathIsMeasuredWhenAnEchoIsClear)
{
    // Far end: noise of peak 0.3 (none: silence); echo: half of it echoMs later (-1: other noise);
    // near end: a 5 kHz tone of peak near; the reference given shiftMs late; the path held so far.
    // The path found (against the given reference), or none (-1).
    const struct {
        const char* name;
        double seconds, far;
        int echoMs;
        double near;
        int path;
        int shiftMs = 0;
        std::optional<int> held = std::nullopt;
    } cases[] = {
        {"40 ms", 1.5, 0.3, 40, 0, 40},
        {"150 ms under a voice, found as early as 40 ms", 0.7, 0.3, 150, 0.1, 150},
        {"the path shrank below the reference's shift", 1.5, 0.3, 40, 0, -60, 100},
        {"half a second", 2, 0.3, 495, 0, 495},
        {"a path held that matches as well is kept", 1.5, 0.3, 40, 0, 45, 0, 45},
        {"a path held that no longer matches is left", 1.5, 0.3, 150, 0, 150, 0, 40},
        {"less than half a second heard", 0.45, 0.3, 40, 0, -1},
        {"nothing played", 1.5, 0, 40, 0.1, -1},
        {"the microphone hears other noise", 1.5, 0.3, -1, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> noise(-c.far, c.far);
        const int n = static_cast<int>(c.seconds * 32000), lag = c.echoMs * 32, shift = c.shiftMs * 32;
        std::vector<int16_t> far(n), reference(n), mic(n);
        for (int i = 0; i < n; ++i) {
            far[i] = static_cast<int16_t>(noise(random) * 32767);
            reference[i] = i >= shift ? far[i - shift] : 0;
            const double echo = c.echoMs < 0 ? noise(random) : i >= lag ? far[i - lag] / 65534.0 : 0;
            mic[i] = static_cast<int16_t>((echo + c.near * std::sin(2 * M_PI * 5000 * i / 32000)) * 16383);
        }
        EchoPathEstimator path;
        for (int i = 0; i < n; i += 320) // the canceller's units
            path.Add(&reference[i], &mic[i], std::min(320, n - i));
        EXPECT_NEAR(path.Estimate(c.shiftMs, c.held).value_or(-1), c.path, EchoPathEstimator::kBlockMs);
    }
}

TEST(EchoCancellation, TheEchoIsTakenOutAndTheRoomsVoiceKept)
{
    // Far end: noise up to 8 kHz (16000 random values a second, Lanczos-interpolated, so that it
    // can be heard at any moment); the microphone hears half of it echoMs later (movedMs from 3 s
    // on) and from 3 s on a 5 kHz tone of peak tone. Through the canceller with the library left
    // out (WatchedCanceller) unless library: how much of the echo is gone over the last of six
    // seconds (or the half second from fromUnit on; at least minDrop, at most maxDrop dB), the tone
    // kept within 1 dB.
    const struct {
        const char* name;
        int echoMs, movedMs;
        double tone, minDrop, maxDrop;
        int fromUnit = 500, units = 100;
        bool library = false;
        int glitchUnit = -1; // from here, 35 ms of what the microphone heard a second before
        int referenceGapMs = 0; // the system sound has this much silence at 3 s and goes on later by as much
        int micJumpMs = 0;      // the microphone loses this much at 3 s and is placed on by as much
    } cases[] = {
        {"150 ms: out as soon as the path is found (0.7 s)", 150, 150, 0, 30, 200, 80, 50},
        {"40 ms", 40, 40, 0, 30, 200},
        {"150 ms: the path found, the reference shifted", 150, 150, 0, 30, 200},
        {"beyond half a second: left as it is", 600, 600, 0, -2, 1},
        {"the path moves from 40 to 150 ms", 40, 150, 0, 25, 200},
        {"the path moves from 150 to 40 ms", 150, 40, 0, 25, 200},
        {"the echo slips by 12 ms within the model (the graph moved a stream): out again within 0.2 s", 40, 52, 0,
         25, 200, 320, 20},
        {"the same: while it is out of place, the output is taken down", 40, 52, 0, 12, 200, 300, 20},
        {"the echo slips 15 ms deeper and is followed: the reference spliced on without a click", 40, 55, 0, 45, 200,
         350, 250},
        {"the system sound slips 23 ms behind at 3 s, after silence: seeded again within 0.3 s", 40, 40, 0, 25, 200, 330,
         20, false, -1, 23},
        {"the microphone loses 140 ms and is placed on by as much: the model cancels on at once", 40, 40, 0, 40, 200,
         300, 20, false, -1, 0, 140},
        {"35 ms of other sound in the microphone's stream (a glitch): the model kept", 40, 40, 0, 40, 200, 405, 60,
         false, 400},
        {"a voice joins: kept, most of the echo still out", 40, 40, 0.1, 10, 200},
        {"the same with the library: its suppressor is left out while the filter holds the echo", 40, 40, 0.1, 10,
         200, 500, 100, true},
    };
    std::mt19937 random(5);
    std::uniform_real_distribution<double> noise(-0.3, 0.3);
    std::vector<double> values(8 * 16000);
    for (double& v : values)
        v = noise(random);
    const auto far = [&](double t) {
        const double x = t * 16000 + 16000; // from a second on: the echo reaches back before 0
        double v = 0;
        for (int k = static_cast<int>(x) - 7; k <= static_cast<int>(x) + 8; ++k) {
            const double d = M_PI * (x - k);
            v += values[k] * (std::abs(d) < 1e-9 ? 1 : 8 * std::sin(d) * std::sin(d / 8) / (d * d));
        }
        return v;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EchoReference ref;
        WatchedCanceller echo(ref);
        ASSERT_EQ(echo.Init(), 0);
        echo.library = c.library;
        webrtc::AudioFrame unit;
        std::vector<float> block(kUnit);
        int16_t mic[320];
        double heard = 0, left = 0, tone = 0;
        const auto writeReference = [&](int w) {
            for (int i = 0; i < kUnit; ++i) {
                const double t = (w * kUnit + i) / 44100.0, gap = c.referenceGapMs / 1000.0;
                block[i] = t < 3 ? static_cast<float>(far(t)) : t < 3 + gap ? 0.0f : static_cast<float>(far(t - gap));
            }
            ref.Write(w * kUnit, block.data(), kUnit);
        };
        constexpr int kAhead = 20; // units of the reference written ahead of the microphone
        for (int w = 0; w < kAhead; ++w)
            writeReference(w);
        for (int u = 0; u < 600; ++u) {
            writeReference(u + kAhead);
            const int64_t jump = u >= 300 ? c.micJumpMs * 441 / 10 : 0;
            for (int i = 0; i < 320; ++i) {
                const double t = (u * 320 + i) / 32000.0 + jump / 44100.0;
                const bool glitch = c.glitchUnit >= 0 && u * 320 + i >= c.glitchUnit * 320 &&
                                    u * 320 + i < c.glitchUnit * 320 + 35 * 32;
                const double lag = (t < 3 ? c.echoMs : c.movedMs) / 1000.0 + (glitch ? 1 : 0);
                mic[i] = static_cast<int16_t>(
                    (0.5 * far(t - lag) + (t < 3 ? 0 : c.tone * std::sin(2 * M_PI * 5000 * t))) * 32767);
            }
            unit.UpdateFrame(-1, 0, mic, 320, 32000, webrtc::AudioFrame::kNormalSpeech,
                             webrtc::AudioFrame::kVadUnknown, 1);
            ASSERT_EQ(echo.Process(unit, u * kUnit + jump), 0);
            for (int i = 0; u >= c.fromUnit && u < c.fromUnit + c.units && i < 320; ++i) {
                const double sine = std::sin(2 * M_PI * 5000 * (u * 320 + i) / 32000.0), near = c.tone * 32767 * sine;
                heard += std::pow(mic[i] - near, 2);
                left += std::pow(unit.data_[i] - near, 2);
                tone += unit.data_[i] * sine; // the tone's amplitude times half the samples
            }
        }
        const double drop = 10 * std::log10(heard / std::max(left, 1.0));
        EXPECT_GE(drop, c.minDrop);
        EXPECT_LE(drop, c.maxDrop);
        if (c.tone > 0) {
            EXPECT_NEAR(20 * std::log10(tone / 16000 / (c.tone * 32767)), 0, 1);
        }
    }
}
