// The microphone's voice processing in recordings from the private sound server: the stored
// "noise-check" and "agc-check" take effect (that a WAV plan has none: RecordingPlanTest); the
// stored voice activation keeps only the voiced stretches of the sound.

#include "RecorderSoundFixture.h"

#include "ConfigStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

// Start and end (seconds) of the stretches of s whose 10 ms windows lie above thresholdDb.
std::vector<std::pair<double, double>> LoudSpans(const std::vector<float>& s, int rate, double thresholdDb)
{
    const size_t window = static_cast<size_t>(rate / 100);
    std::vector<std::pair<double, double>> spans;
    bool inside = false;
    for (size_t at = 0; at + window <= s.size(); at += window) {
        const bool loud = RmsDb(s, at, at + window) > thresholdDb;
        const double t = static_cast<double>(at) / rate;
        if (loud && !inside)
            spans.push_back({t, t});
        if (loud)
            spans.back().second = t + static_cast<double>(window) / rate;
        inside = loud;
    }
    return spans;
}

class RecorderVoiceSound : public RecorderSoundFixture {
protected:
    DecodedAudio RecordMic(const std::string& name) { return Record(kMicrophone, "mp3", {}, 2500, true, name).audio; }
};

TEST_F(RecorderVoiceSound, NoiseSuppressionAndGainControlTakeEffect)
{
    ASSERT_TRUE(mic_.PlayNoise(0.3));
    const DecodedAudio plain = RecordMic("noise-plain");
    WriteConfigString("global", "noise-check", "1");
    const DecodedAudio suppressed = RecordMic("noise-suppressed");
    WriteConfigString("global", "noise-check", "0");

    const size_t from = kRate, to = 2 * kRate; // after the suppressor has adapted
    const double plainDb = RmsDb(plain.left, from, to);
    const double suppressedDb = RmsDb(suppressed.left, from, to);
    EXPECT_LT(suppressedDb, plainDb - 10.0) << "white noise only " << plainDb - suppressedDb << " dB weaker";

    ASSERT_TRUE(mic_.PlayTone(1000, 0.02)); // a quiet voice, -37 dBFS
    const DecodedAudio quiet = RecordMic("quiet-plain");
    WriteConfigString("global", "agc-check", "1");
    WriteConfigString("global", "voice-size", "20");
    const DecodedAudio louder = RecordMic("quiet-agc");
    const double gain = RmsDb(louder.left, from, to) - RmsDb(quiet.left, from, to);
    EXPECT_GT(gain, 10.0);
    EXPECT_GT(PowerShare(louder.left, kRate, 1000, from, to), 0.8) << "the voice is no longer a tone";
}

// Voice activation from the stored settings (1 s of silence pauses): 1 s quiet, 1.5 s tone, 2 s
// quiet, 1 s tone, 0.5 s quiet. The file holds both tones whole, 0.5 s before each and 0.5 s
// after the first: about 4.5 s of the 6 s.
TEST_F(RecorderVoiceSound, VoiceActivationKeepsTheVoicedStretches)
{
    ASSERT_TRUE(speaker_.Open());
    WriteConfigString("global", "voice-activation", "1");
    WriteConfigString("global", "voice-activation-silence", "1");
    const auto tone = [this](double hz) { return [this, hz](AudioRecorder&) { ASSERT_TRUE(speaker_.PlayTone(hz, 0.25)); }; };
    const auto quiet = [this](AudioRecorder&) { ASSERT_TRUE(speaker_.Open()); }; // silence
    const Take take = Record(kSystemSound, "wav", {{1000, tone(440)}, {1500, quiet}, {2000, tone(660)}, {1000, quiet}}, 500);

    const std::vector<std::pair<double, double>> spans = LoudSpans(take.audio.left, kRate, -30);
    ASSERT_EQ(spans.size(), 2u) << take.audio.Seconds() << " s";
    EXPECT_NEAR(spans[0].first, 0.5, 0.1) << "the pre-roll";
    EXPECT_NEAR(spans[0].second - spans[0].first, 1.5, 0.1);
    EXPECT_NEAR(spans[1].first - spans[0].second, 1.0, 0.15) << "the first tone's tail and the second's pre-roll";
    EXPECT_NEAR(spans[1].second - spans[1].first, 1.0, 0.1);
    EXPECT_GT(Share(take.audio, 440, spans[0].first, spans[0].second), 0.9);
    EXPECT_GT(Share(take.audio, 660, spans[1].first, spans[1].second), 0.9);
    EXPECT_LT(take.audio.Seconds(), take.spanSeconds - 1.2) << "the quiet stretches are left out";
}

} // namespace
