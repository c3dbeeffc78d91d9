// Echo cancellation on the private sound server's loopback rig: the far end played into "speaker"
// comes back into the microphone 40 ms later (module-loopback); a microphone-only MP3 with "echo-check" on holds
// little of it and all of the near end's voice, also while both talk.

#include "RecorderSoundFixture.h"

#include "ConfigStore.h"
#include "SoundServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

class RecorderEchoSound : public RecorderSoundFixture {
protected:
    // Level (dB) of everything but the near end's tone.
    static double EchoDb(const DecodedAudio& a, double from, double to)
    {
        const size_t b = a.IndexAt(from), e = a.IndexAt(to);
        const double all = Rms(a.left, b, e);
        return 10 * std::log10(std::max(all * all - TonePower(a.left, a.sampleRate, kNear, b, e), 1e-20));
    }
    static constexpr double kNear = 5000;
};

TEST_F(RecorderEchoSound, FarEndSuppressedNearEndKept)
{
    // The far end talks for 4 s, then both at once for 3 s, then the near end alone.
    // Speakers the microphone hears: what "speaker" plays reaches "mic-feed" 40 ms later.
    ASSERT_GE(SoundServer::LoadModule("module-loopback",
                                      {"source=speaker.monitor", "sink=mic-feed", "latency_msec=40"}), 0);
    const std::vector<Step> turns = {{4000, [&](AudioRecorder&) { mic_.PlayTone(kNear, 0.1); }},
                                     {3000, [&](AudioRecorder&) { speaker_.Open(); /* silence */ }}};
    auto record = [&](const char* echo) {
        WriteConfigString(config::kSection, config::kEchoCheck, echo);
        mic_.Open();
        EXPECT_TRUE(speaker_.PlayNoise(0.3));
        SleepMs(300);
        return Record(kMicrophone, "mp3", turns, 3000, true, std::string("echo-") + echo).audio;
    };
    const DecodedAudio off = record("0");
    const DecodedAudio on = record("1");

    // The far end after the canceller's first 2 s; the near end while both talk, and alone.
    const double erle = EchoDb(off, 2, 3.8) - EchoDb(on, 2, 3.8);
    EXPECT_GT(erle, 20) << "far end only " << erle << " dB weaker";
    const double doubleTalk = ToneDb(on, kNear, 4.5, 6.8) - ToneDb(off, kNear, 4.5, 6.8);
    EXPECT_NEAR(doubleTalk, 0, 6) << "near end changed by " << doubleTalk << " dB while both talk";
    const double near = ToneDb(on, kNear, 7.5, 9.5) - ToneDb(off, kNear, 7.5, 9.5);
    EXPECT_NEAR(near, 0, 2) << "near end changed by " << near << " dB";
    RecordProperty("erle_db", std::to_string(erle));
    RecordProperty("double_talk_db", std::to_string(doubleTalk));
    RecordProperty("near_end_db", std::to_string(near));
}

} // namespace
