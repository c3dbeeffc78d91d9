// Echo cancellation on the private sound server's loopback rig: the far end played into "speaker"
// comes back into the microphone 40 ms later (module-loopback); a microphone-only MP3 with "echo-check" on holds
// little of it and all of the near end's voice.

#include "RecorderSoundFixture.h"

#include "ConfigStore.h"
#include "SoundServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

constexpr double kNear = 5000;

// Level (dB) of everything but the near end's tone.
double EchoDb(const DecodedAudio& a, double from, double to)
{
    const size_t b = a.IndexAt(from), e = a.IndexAt(to);
    const double all = Rms(a.left, b, e);
    return 10 * std::log10(std::max(all * all - TonePower(a.left, a.sampleRate, kNear, b, e), 1e-20));
}

using RecorderEchoSound = RecorderSoundFixture;

TEST_F(RecorderEchoSound, FarEndSuppressedNearEndKept)
{
    // The far end talks for 5 s, then the near end.
    // Speakers the microphone hears: what "speaker" plays reaches "mic-feed" 40 ms later. Both
    // null sinks run on one clock, so the loopback's rate control is off: with it, the path walks
    // about a sample a second (a drifting echo is another case than the one checked here).
    ASSERT_GE(SoundServer::LoadModule("module-loopback", {"source=speaker.monitor", "sink=mic-feed",
                                                          "latency_msec=40", "adjust_time=0"}), 0);
    const std::vector<Step> turns = {{5000, [&](AudioRecorder&) {
                                          speaker_.Open(); // silence
                                          mic_.PlayTone(kNear, 0.1);
                                      }}};
    auto record = [&](const char* echo) {
        WriteConfigString(config::kSection, config::kEchoCheck, echo);
        mic_.Open();
        EXPECT_TRUE(speaker_.PlayNoise(0.3));
        SleepMs(300);
        return Record(kMicrophone, "mp3", turns, 3500, true, std::string("echo-") + echo).audio;
    };
    const DecodedAudio off = record("0");
    const DecodedAudio on = record("1");

    // The far end once the canceller has converged: it finds the echo path 0.6-1.2 s in and is
    // converged about half a second later (more on a loaded machine); the near end after the turn.
    // Without the canceller the far end is there, far above what the microphone holds once it stopped.
    const double heard = EchoDb(off, 3.2, 4.8) - EchoDb(off, 5.5, 8);
    EXPECT_GT(heard, 30) << "the rig's loopback brought the far end only " << heard << " dB above the quiet";
    const double erle = EchoDb(off, 3.2, 4.8) - EchoDb(on, 3.2, 4.8);
    EXPECT_GT(erle, 20) << "far end only " << erle << " dB weaker";
    const double near = ToneDb(on, kNear, 5.5, 8) - ToneDb(off, kNear, 5.5, 8);
    EXPECT_NEAR(near, 0, 2) << "near end changed by " << near << " dB";
}

} // namespace
