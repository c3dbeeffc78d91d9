// The sound-test harness end to end: what SoundPlayer plays into "speaker" and "mic-feed" arrives
// at their monitors and at the virtual microphone, also when the microphone runs at 48000 Hz.

#include "AudioAnalysis.h"
#include "SoundPlayer.h"
#include "SoundServer.h"
#include "SoundServerTest.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

namespace {

struct SimpleFree { void operator()(pa_simple* s) const { pa_simple_free(s); } };

// Records seconds of the left channel of a source at the given rate; empty on failure.
std::vector<float> Record(const std::string& source, int rate, double seconds)
{
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<uint32_t>(rate), 2};
    // Small fragments: the data arrives as it is played, not in the server's default 2 s pieces.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(10000, &spec));
    int error = 0;
    std::unique_ptr<pa_simple, SimpleFree> stream(
        pa_simple_new(nullptr, "TamsuTests", PA_STREAM_RECORD, source.c_str(), "harness check", &spec, nullptr, &attr, &error));
    if (!stream) {
        ADD_FAILURE() << "cannot record from " << source << ": " << pa_strerror(error);
        return {};
    }
    std::vector<float> interleaved(static_cast<size_t>(seconds * rate) * 2);
    if (pa_simple_read(stream.get(), interleaved.data(), interleaved.size() * sizeof(float), &error) < 0) {
        ADD_FAILURE() << "reading " << source << " failed: " << pa_strerror(error);
        return {};
    }
    std::vector<float> left(interleaved.size() / 2);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = interleaved[2 * i];
    return left;
}

class SoundHarnessTest : public SoundServerTest {};

TEST_F(SoundHarnessTest, ATonePlayedIntoASinkArrivesWhereTheRecorderListens)
{
    struct Case {
        const char* sink;
        const char* source;
        int micFeedRate; // rate of "mic-feed" and so of "mic"
        double freq;
    } cases[] = {
        {"speaker", "speaker.monitor", 44100, 440},
        {"mic-feed", "mic", 44100, 1000},
        {"mic-feed", "mic", 48000, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " at " + std::to_string(c.micFeedRate));
        ASSERT_TRUE(SoundServer::Reset(c.micFeedRate));
        SoundPlayer player(c.sink);
        ASSERT_TRUE(player.PlayTone(c.freq, 0.5));
        EXPECT_TRUE(player.Playing());
        int rate = std::string(c.source) == "mic" ? c.micFeedRate : 44100;
        std::vector<float> heard = Record(c.source, rate, 0.5);
        ASSERT_FALSE(heard.empty());
        size_t from = static_cast<size_t>(0.1 * rate); // the recorder's own start
        EXPECT_NEAR(DominantFrequency(heard, rate, 100, 2000, 10, from), c.freq, 10);
        EXPECT_NEAR(RmsDb(heard, from), 20 * std::log10(0.5 / std::sqrt(2.0)), 1.0);

        player.Stop();
        EXPECT_FALSE(player.Playing());
        heard = Record(c.source, rate, 0.3);
        EXPECT_LT(RmsDb(heard, static_cast<size_t>(0.1 * rate)), -80.0) << "sound after Stop";
    }
}

TEST_F(SoundHarnessTest, ARecorderOpenedAfterPlayHearsTheSignalAtOnce)
{
    // The sinks are new (SetUp), so an idle sink has rendered up to 2 s ahead: a stream joining it
    // would be held back that long, and a recorder on its monitor would get nothing meanwhile.
    // The player waits that out in Play, so what follows Play is live.
    constexpr double kHeldBackSeconds = 1.0; // far above a live start (~0.3 s), below the 2 s stall
    SoundPlayer player("speaker");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(player.PlayTone(440, 0.5));
        auto start = std::chrono::steady_clock::now();
        std::vector<float> heard = Record("speaker.monitor", 44100, 0.3);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_FALSE(heard.empty());
        EXPECT_LT(seconds, kHeldBackSeconds) << "the recorder got no data for a while";
        EXPECT_NEAR(RmsDb(heard, 2205), 20 * std::log10(0.5 / std::sqrt(2.0)), 1.0);
        player.Stop(); // the stream stays open: the next round starts at once too
    }
}

TEST_F(SoundHarnessTest, NoiseAndClicks)
{
    SoundPlayer player("speaker");
    ASSERT_TRUE(player.PlayNoise(0.6));
    std::vector<float> heard = Record("speaker.monitor", 44100, 0.6);
    ASSERT_FALSE(heard.empty());
    // Uniform noise in [-a, a] has RMS a / sqrt(3).
    EXPECT_NEAR(Rms(heard, 8820), 0.6 / std::sqrt(3.0), 0.02);

    ASSERT_TRUE(player.PlayClicks(0.1, 0.8)); // replaces the noise
    heard = Record("speaker.monitor", 44100, 1.0);
    ASSERT_FALSE(heard.empty());
    auto clicks = FindLoudSpans(heard, 44100, -40.0, 0.001, 0.01);
    clicks.erase(clicks.begin(), std::find_if(clicks.begin(), clicks.end(),
                                     [](const auto& span) { return span.first >= 0.2; }));
    ASSERT_GE(clicks.size(), 5u);
    for (size_t i = 1; i < clicks.size(); ++i) {
        EXPECT_NEAR(clicks[i].first - clicks[i - 1].first, 0.1, 0.0015);
        EXPECT_LE(clicks[i].second - clicks[i].first, 0.0025);
    }
}

TEST(SoundPlayerWithoutSink, ReportsThatItCannotPlay)
{
    TAMSU_REQUIRE_SOUND_SERVER();
    SoundPlayer player("no-such-sink");
    EXPECT_FALSE(player.PlayTone(440, 0.5));
    EXPECT_FALSE(player.Playing());
}

} // namespace
