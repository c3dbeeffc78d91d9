// The microphone's voice processing in recordings from the private sound server: the stored
// "noise-check" and "agc-check" take effect. (That a WAV plan has none: RecordingPlanTest.)

#include "RecorderSoundFixture.h"

#include "ConfigStore.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
    RecordProperty("noise_suppression_db", std::to_string(plainDb - suppressedDb));

    ASSERT_TRUE(mic_.PlayTone(1000, 0.02)); // a quiet voice, -37 dBFS
    const DecodedAudio quiet = RecordMic("quiet-plain");
    WriteConfigString("global", "agc-check", "1");
    WriteConfigString("global", "voice-size", "20");
    const DecodedAudio louder = RecordMic("quiet-agc");
    const double gain = RmsDb(louder.left, from, to) - RmsDb(quiet.left, from, to);
    EXPECT_GT(gain, 10.0);
    EXPECT_GT(PowerShare(louder.left, kRate, 1000, from, to), 0.8) << "the voice is no longer a tone";
    RecordProperty("gain_control_db", std::to_string(gain));
}

} // namespace
