// The microphone's voice-processing stage: 10 ms units with carry-over, noise suppression and gain
// control effects, large input, and the failure rules of the two components.

#include "VoiceProcessor.h"

#include <gtest/gtest.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <utility>
#include <string>
#include <vector>

namespace {

constexpr size_t kUnit = VoiceProcessor::kChunkSamples;
constexpr int kRate = VoiceProcessor::kSampleRate;
constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> WhiteNoise(size_t count, double amplitude, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    std::vector<int16_t> out(count);
    for (auto& s : out)
        s = static_cast<int16_t>(std::lround(dist(gen)));
    return out;
}

std::vector<int16_t> Tone(size_t count, double frequency, double amplitude)
{
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * frequency * i / kRate)));
    return out;
}

// A ramp that wraps, so every sample's position can be read back from its value.
std::vector<int16_t> Ramp(size_t count)
{
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<int16_t>(i % 30011);
    return out;
}

double RmsDb(const std::vector<int16_t>& s, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    const double rms = std::sqrt(sum / double(to - from));
    return 20 * std::log10(std::max(rms, 1e-9) / 32768.0);
}

struct Switches {
    const char* name;
    bool noise;
    bool gain;
};

const Switches kAllSwitches[] = {
    {"noise and gain", true, true},
    {"noise only", true, false},
    {"gain only", false, true},
    {"neither (pass-through)", false, false},
};

// Each combination of the switches takes 1000 bytes as one 640-byte unit with 360 bytes waiting,
// then 920 more bytes as two units with nothing waiting; sound goes in, sound comes out.
TEST(VoiceProcessor, CarriesPartialUnitOverInEveryCombination)
{
    const std::vector<int16_t> input = Tone(960, 440, 3000);
    for (const Switches& sw : kAllSwitches) {
        SCOPED_TRACE(sw.name);
        VoiceProcessor vp;
        ASSERT_EQ(vp.Init(sw.noise, sw.gain, 20), 0);
        std::vector<int16_t> out;
        vp.Process(input.data(), 500, out); // 1000 bytes
        EXPECT_EQ(out.size() * 2, 640u);
        EXPECT_EQ(vp.PendingSamples() * 2, 360u);
        vp.Process(input.data() + 500, 460, out); // 920 bytes
        EXPECT_EQ(out.size() * 2, 640u + 1280u);
        EXPECT_EQ(vp.PendingSamples(), 0u);
        const bool anySound = std::any_of(out.begin(), out.end(), [](int16_t s) { return s != 0; });
        EXPECT_TRUE(anySound);
    }
}

// With both components off the units pass unchanged, so the walk itself can be checked sample by
// sample: odd packet sizes, empty packets and packets far larger than the accumulation buffer
// come out complete, in order, without a gap or a repeat.
TEST(VoiceProcessor, WalksUnitsInOrderWhateverThePacketSizes)
{
    const size_t sizes[] = {1, 319, 320, 321, 0, 639, 5 * kRate + 7, 64000, 64001, 1000, 3 * 64000 + 5, 17};
    const size_t total = std::accumulate(std::begin(sizes), std::end(sizes), size_t{0});
    const std::vector<int16_t> input = Ramp(total);

    VoiceProcessor vp;
    ASSERT_EQ(vp.Init(false, false, 20), 0);
    std::vector<int16_t> out;
    size_t fed = 0;
    for (size_t n : sizes) {
        vp.Process(input.data() + fed, n, out);
        fed += n;
        ASSERT_EQ(out.size(), fed / kUnit * kUnit) << "after " << fed << " samples";
        ASSERT_EQ(vp.PendingSamples(), fed % kUnit);
        ASSERT_LT(vp.PendingSamples(), kUnit);
    }
    EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
}

// Five seconds and more in one call, with both components on: every whole unit is processed.
TEST(VoiceProcessor, ProcessesVeryLargeInputInOneCall)
{
    const size_t count = 5 * kRate + 123;
    const std::vector<int16_t> input = WhiteNoise(count, 4000, 7);
    VoiceProcessor vp;
    ASSERT_EQ(vp.Init(true, true, 20), 0);
    std::vector<int16_t> out;
    vp.Process(input.data(), count, out);
    EXPECT_EQ(out.size(), 5u * kRate);
    EXPECT_EQ(vp.PendingSamples(), 123u);
}

// Steady white noise at -24 dBFS: once the suppressor has learnt it, the output is far weaker.
TEST(VoiceProcessor, NoiseSuppressionLowersWhiteNoise)
{
    const size_t count = 4 * kRate;
    const std::vector<int16_t> input = WhiteNoise(count, 3000, 11);
    VoiceProcessor vp;
    ASSERT_EQ(vp.Init(true, false, 20), 0);
    std::vector<int16_t> out;
    for (size_t pos = 0; pos < count; pos += 441) // packets of an odd size
        vp.Process(input.data() + pos, std::min<size_t>(441, count - pos), out);
    ASSERT_EQ(out.size(), count);
    // Judge the last two seconds (the suppressor estimates the noise during the first ones).
    const double inDb = RmsDb(input, 2 * kRate, count);
    const double outDb = RmsDb(out, 2 * kRate, count);
    std::printf("white noise: in %.1f dBFS, out %.1f dBFS, %.1f dB lower\n", inDb, outDb, inDb - outDb);
    EXPECT_GT(inDb - outDb, 10.0);
}

// A quiet 1 kHz tone at -40 dBFS with gain 20 dB comes out clearly louder; with gain 0 it does not.
TEST(VoiceProcessor, GainControlRaisesQuietTone)
{
    struct Case {
        int gainDb;
        double minRiseDb;
        double maxRiseDb;
    };
    const Case cases[] = {{20, 16.0, 22.0}, {0, -3.0, 3.0}};
    const size_t count = 3 * kRate;
    const std::vector<int16_t> input = Tone(count, 1000, 328); // about -40 dBFS peak
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gainDb);
        VoiceProcessor vp;
        ASSERT_EQ(vp.Init(false, true, c.gainDb), 0);
        std::vector<int16_t> out;
        vp.Process(input.data(), count, out);
        ASSERT_EQ(out.size(), count);
        const double rise = RmsDb(out, kRate, count) - RmsDb(input, kRate, count);
        std::printf("1 kHz at -40 dBFS, gain %d dB: %.1f dB louder\n", c.gainDb, rise);
        EXPECT_GT(rise, c.minRiseDb);
        EXPECT_LT(rise, c.maxRiseDb);
    }
}

// A loud tone with gain 20 dB is held near the 3 dBFS target by the limiter instead of clipping.
TEST(VoiceProcessor, GainControlLimitsLoudToneToTarget)
{
    const size_t count = 3 * kRate;
    const std::vector<int16_t> input = Tone(count, 1000, 16000); // -6 dBFS peak
    VoiceProcessor vp;
    ASSERT_EQ(vp.Init(false, true, 20), 0);
    std::vector<int16_t> out;
    vp.Process(input.data(), count, out);
    ASSERT_EQ(out.size(), count);
    int peak = 0;
    for (size_t i = kRate; i < count; ++i)
        peak = std::max(peak, std::abs(int(out[i])));
    const double peakDb = 20 * std::log10(peak / 32768.0);
    std::printf("1 kHz at -6 dBFS, gain 20 dB: peak %.1f dBFS\n", peakDb);
    EXPECT_LT(peakDb, -2.0);
    EXPECT_GT(peakDb, -4.0);
}

// The gain from "voice-size" (0..100 in the window) is clamped to the library's range instead of
// making the stage fail.
TEST(VoiceProcessor, ClampsCompressionGainToLibraryRange)
{
    const std::pair<int, int> cases[] = {{-5, 0}, {0, 0}, {20, 20}, {90, 90}, {100, 90}};
    for (auto [given, used] : cases) {
        VoiceProcessor vp;
        EXPECT_EQ(vp.Init(true, true, given), 0) << given;
        EXPECT_EQ(vp.CompressionGainDb(), used) << given;
    }
}

TEST(VoiceProcessor, DropsInputBeforeInit)
{
    const std::vector<int16_t> input = Ramp(1000);
    VoiceProcessor vp;
    std::vector<int16_t> out;
    vp.Process(input.data(), input.size(), out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(vp.PendingSamples(), 0u);
}

// A stage whose components pass units unchanged and fail on chosen calls.
class FailingVoiceProcessor : public VoiceProcessor {
public:
    std::vector<bool> noiseFails; // by call number; calls beyond the list succeed
    std::vector<bool> gainFails;
    bool gainAlwaysFails = false;

protected:
    int SuppressNoise(webrtc::AudioFrame&) override { return Fails(noiseFails, noiseCalls_++) ? -1 : 0; }
    int ControlGain(webrtc::AudioFrame&) override
    {
        return gainAlwaysFails || Fails(gainFails, gainCalls_++) ? -1 : 0;
    }

private:
    static bool Fails(const std::vector<bool>& plan, size_t call) { return call < plan.size() && plan[call]; }
    size_t noiseCalls_ = 0;
    size_t gainCalls_ = 0;
};

std::vector<int16_t> Units(const std::vector<int16_t>& input, std::initializer_list<size_t> units)
{
    std::vector<int16_t> out;
    for (size_t u : units)
        out.insert(out.end(), input.begin() + u * kUnit, input.begin() + (u + 1) * kUnit);
    return out;
}

TEST(VoiceProcessor, UnitWithFailedNoiseSuppressionYieldsNothing)
{
    const std::vector<int16_t> input = Ramp(4 * kUnit + 10);
    FailingVoiceProcessor vp;
    vp.noiseFails = {false, true, false, false};
    ASSERT_EQ(vp.Init(true, true, 20), 0);
    std::vector<int16_t> out;
    testing::internal::CaptureStdout();
    vp.Process(input.data(), input.size(), out);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(out, Units(input, {0, 2, 3}));
    EXPECT_EQ(vp.PendingSamples(), 10u);
}

// A failed gain control step ends the walk; the failed unit and the rest of the packet are kept
// and processed by the next call, so no audio is lost.
TEST(VoiceProcessor, FailedGainControlKeepsRestForNextCall)
{
    const std::vector<int16_t> input = Ramp(5 * kUnit + 10 + 700);
    FailingVoiceProcessor vp;
    vp.gainFails = {false, false, true};
    ASSERT_EQ(vp.Init(false, true, 20), 0);
    std::vector<int16_t> out;

    testing::internal::CaptureStdout();
    vp.Process(input.data(), 5 * kUnit + 10, out);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "failed in WebRtcAgc_Process\n");
    EXPECT_EQ(out, Units(input, {0, 1}));
    EXPECT_EQ(vp.PendingSamples(), 3 * kUnit + 10);

    vp.Process(input.data() + 5 * kUnit + 10, 700, out);
    EXPECT_EQ(out.size(), 7 * kUnit);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
    EXPECT_EQ(vp.PendingSamples(), input.size() - 7 * kUnit);
}

// The failure also ends the walk inside a packet larger than the accumulation buffer: what waits
// never exceeds the buffer; the newest samples that do not fit are dropped, the oldest are kept.
TEST(VoiceProcessor, FailingGainControlNeverOverflowsTheBuffer)
{
    const size_t cap = VoiceProcessor::kAccumulationSamples;
    const std::vector<int16_t> input = Ramp(3 * kRate);
    FailingVoiceProcessor vp;
    vp.gainAlwaysFails = true;
    ASSERT_EQ(vp.Init(true, true, 20), 0);
    std::vector<int16_t> out;
    testing::internal::CaptureStdout();
    vp.Process(input.data(), kRate, out);
    vp.Process(input.data() + kRate, 2 * kRate, out);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "failed in WebRtcAgc_Process\nfailed in WebRtcAgc_Process\n");
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(vp.PendingSamples(), cap);

    vp.gainAlwaysFails = false;
    vp.Process(nullptr, 0, out);
    ASSERT_EQ(out.size(), cap);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
    EXPECT_EQ(vp.PendingSamples(), 0u);
}

} // namespace

// Our own entry point: the WebRTC library carries a main() of its own that would otherwise be
// linked in place of GoogleTest's.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
