// The microphone's voice processing in recordings from the private sound server: the stored
// "noise-check" and "agc-check" work on MP3 and are ignored for WAV.

#include "RecorderSoundFixture.h"

#include "ConfigStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

class RecorderVoiceSound : public RecorderSoundFixture {
protected:
    DecodedAudio RecordMic(const std::string& format, const std::string& name)
    {
        return Record(kMicrophone, format, {}, 2500, true, name).audio;
    }
};

TEST_F(RecorderVoiceSound, NoiseSuppressionAndGainControlWorkOnMp3Only)
{
    ASSERT_TRUE(mic_.PlayNoise(0.3));
    const DecodedAudio plain = RecordMic("mp3", "noise-plain");
    WriteConfigString("global", "noise-check", "1");
    const DecodedAudio suppressed = RecordMic("mp3", "noise-suppressed");
    const DecodedAudio wav = RecordMic("wav", "noise-wav");
    WriteConfigString("global", "noise-check", "0");

    const size_t from = kRate, to = 2 * kRate; // after the suppressor has adapted
    const double plainDb = RmsDb(plain.left, from, to);
    const double suppressedDb = RmsDb(suppressed.left, from, to);
    EXPECT_LT(suppressedDb, plainDb - 10.0) << "white noise only " << plainDb - suppressedDb << " dB weaker";
    // Uniform noise of peak 0.3 has an RMS of 0.3 / sqrt(3), -15.2 dBFS; WAV keeps all of it.
    EXPECT_NEAR(RmsDb(wav.left, from, to), 20 * std::log10(0.3 / std::sqrt(3.0)), 1.0)
        << "WAV must ignore noise suppression";
    RecordProperty("noise_suppression_db", std::to_string(plainDb - suppressedDb));

    ASSERT_TRUE(mic_.PlayTone(1000, 0.02)); // a quiet voice, -37 dBFS
    const DecodedAudio quiet = RecordMic("mp3", "quiet-plain");
    WriteConfigString("global", "agc-check", "1");
    WriteConfigString("global", "voice-size", "20");
    const DecodedAudio louder = RecordMic("mp3", "quiet-agc");
    const DecodedAudio quietWav = RecordMic("wav", "quiet-wav");
    const double gain = RmsDb(louder.left, from, to) - RmsDb(quiet.left, from, to);
    EXPECT_GT(gain, 10.0);
    EXPECT_NEAR(DominantFrequency(louder.left, kRate, 100, 4000, 10), 1000, 10);
    EXPECT_NEAR(RmsDb(quietWav.left, from, to), RmsDb(quiet.left, from, to), 1.5)
        << "WAV must ignore gain control";
    RecordProperty("gain_control_db", std::to_string(gain));
}

} // namespace
