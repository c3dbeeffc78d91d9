// Echo cancellation without a sound server: which reference goes to the canceller with which
// microphone unit, and the echo path measured from the two signals.

#include "EchoCanceller.h"
#include "EchoPathEstimator.h"
#include "EchoReference.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int kUnit = EchoCanceller::kUnitPositions;

// Records what the canceller is given instead of cancelling.
struct WatchedCanceller : EchoCanceller {
    using EchoCanceller::EchoCanceller;
    float referenceLevel = 0; // the middle of the last reference unit, -1..1
    int delayMs = -1;

    int Cancel(webrtc::AudioFrame& reference, webrtc::AudioFrame&, int delay) override
    {
        referenceLevel = reference.data_[reference.samples_per_channel_ * 3 / 4] / 32768.0f;
        delayMs = delay;
        return 0;
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
    // near end: a 5 kHz tone of peak near; the reference given shiftMs late. The path found
    // (against the given reference), or none (-1).
    const struct {
        const char* name;
        double seconds, far;
        int echoMs;
        double near;
        int path;
        int shiftMs = 0;
    } cases[] = {
        {"40 ms", 1.5, 0.3, 40, 0, 40},
        {"150 ms under a voice, found as early as 40 ms", 0.7, 0.3, 150, 0.1, 150},
        {"the path shrank below the reference's shift", 1.5, 0.3, 40, 0, -60, 100},
        {"half a second", 2, 0.3, 495, 0, 495},
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
        EXPECT_NEAR(path.Estimate(c.shiftMs).value_or(-1), c.path, EchoPathEstimator::kBlockMs);
    }
}
