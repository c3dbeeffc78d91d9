// The recorder against the private sound server while the server changes under it: a microphone
// suspended or unplugged, the default output switched, the server restarted, every device gone.
// Every take keeps growing in real time (its length is the time it ran) with the system sound in
// it as long as there is one. The speaker plays 440 Hz and the microphone hears 1 kHz; WAV.

#include "RecorderSoundFixture.h"

#include "SoundServer.h"

#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kSpeakerHz = 440;
constexpr double kMicHz = 1000;
// Peak of every tone: the mix of two stays well below full scale.
constexpr double kToneAmplitude = 0.4;
// A take holds the time from Run to Stop: 0.1 s covers the stop's last frame and the clocks'
// reading of it.
constexpr double kSpanTolerance = 0.1;
// A share of at least this says a tone is in a stretch (two equal tones give 0.5 each, three 0.33);
// below kAbsentShare it is not.
constexpr double kPresentShare = 0.2;
constexpr double kAbsentShare = 0.01;
// A source follows a device change within half a second; its new stream may start late by as much.
constexpr double kFollowSeconds = 1.0;

class RecorderFault : public RecorderSoundFixture {
protected:
    void PlayBothTones()
    {
        ASSERT_TRUE(speaker_.PlayTone(kSpeakerHz, kToneAmplitude));
        ASSERT_TRUE(mic_.PlayTone(kMicHz, kToneAmplitude));
    }
};

// A pactl call as a step of a recording.
std::function<void(AudioRecorder&)> PactlStep(std::vector<std::string> args)
{
    return [args](AudioRecorder&) { EXPECT_EQ(SoundServer::Pactl(args), 0) << args.front(); };
}

TEST_F(RecorderFault, MicrophoneSuspendedOrUnpluggedCostsNeitherTheTakeNorTheSystemSound)
{
    struct Case {
        const char* name;
        std::function<void(AudioRecorder&)> fault; // 1.5 s into the take
        std::function<void(AudioRecorder&)> back;  // 2 s later
    };
    // (pipewire-pulse keeps a virtual source running when it is told to suspend it: there the
    // first case only checks that the request costs nothing.)
    const Case cases[] = {
        {"suspended", PactlStep({"suspend-source", "mic", "1"}), PactlStep({"suspend-source", "mic", "0"})},
        {"unplugged", PactlStep({"unload-module", "module-remap-source"}),
         [](AudioRecorder&) { EXPECT_TRUE(SoundServer::PlugMicrophone()); }},
    };
    PlayBothTones();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Take take = Record(kBoth, "wav", {{1500, c.fault}, {2000, c.back}}, 2000, true, c.name);
        const DecodedAudio& a = take.audio;
        EXPECT_NEAR(a.Seconds(), take.spanSeconds, kSpanTolerance);

        // The system tone in every quarter second to the end, and at its level before the fault
        // (the median of the quarter seconds: a loaded server may drop a moment of its own, which
        // the recorder cannot bring back; the fault must not lower the level for good).
        const double before = ToneDb(a, kSpeakerHz, 0.3, 1.3);
        std::vector<double> levels;
        for (double t = 1.3; t + 0.25 <= a.Seconds() - 0.05; t += 0.25) {
            EXPECT_GT(Share(a, kSpeakerHz, t, t + 0.25), kPresentShare) << "system sound at " << t << " s";
            levels.push_back(ToneDb(a, kSpeakerHz, t, t + 0.25));
        }
        ASSERT_FALSE(levels.empty());
        std::sort(levels.begin(), levels.end());
        EXPECT_NEAR(levels[levels.size() / 2], before, 1.0) << "system sound level after the fault";
        EXPECT_GT(Share(a, kMicHz, 0.3, 1.3), kPresentShare);
        EXPECT_GT(Share(a, kMicHz, take.stepsDoneAt[1] + kFollowSeconds, a.Seconds() - 0.05), kPresentShare)
            << "the microphone did not come back";
    }
}

TEST_F(RecorderFault, SystemSoundFollowsTheDefaultSink)
{
    constexpr double kHeadphonesHz = 1500;
    ASSERT_GE(SoundServer::LoadModule("module-null-sink",
                                      {"sink_name=headphones", "rate=44100", "channels=2",
                                       SoundServer::DescriptionArg("sink_properties", "Headphones")}),
              0);
    // Playing before the switch: a sink that already plays in real time delivers at once.
    SoundPlayer headphones("headphones");
    ASSERT_TRUE(headphones.PlayTone(kHeadphonesHz, kToneAmplitude));
    PlayBothTones();
    const Take take = Record(kBoth, "wav", {{2000, PactlStep({"set-default-sink", "headphones"})}}, 3000);
    const DecodedAudio& a = take.audio;
    EXPECT_NEAR(a.Seconds(), take.spanSeconds, kSpanTolerance);

    // (The server may move the speaker's stream along to the new default sink, as a desktop does:
    // its tone may stay.)
    const double switched = take.stepsDoneAt[0], after = switched + kFollowSeconds, end = a.Seconds() - 0.05;
    EXPECT_GT(Share(a, kSpeakerHz, 0.3, switched), kPresentShare);
    EXPECT_LT(Share(a, kHeadphonesHz, 0.3, switched), kAbsentShare);
    EXPECT_GT(Share(a, kHeadphonesHz, after, end), kPresentShare) << "the new default sink is not recorded";
    EXPECT_NEAR(ToneDb(a, kHeadphonesHz, after, end), ToneDb(a, kSpeakerHz, 0.3, switched), 1.0);
    for (auto [from, to] : {std::pair{0.3, switched}, std::pair{after, end}})
        EXPECT_GT(Share(a, kMicHz, from, to), kPresentShare) << "microphone from " << from << " s";
}

TEST_F(RecorderFault, ServerRestartCostsOnlyTheTimeItWasGone)
{
    if (!SoundServer::Restartable())
        GTEST_SKIP() << "restarting needs the test server of scripts/sound-server.sh";
    // Other tones after the restart: what the file holds then can only come from the new server.
    constexpr double kSpeakerAfterHz = 660, kMicAfterHz = 1200;
    PlayBothTones();
    const auto restart = [&](AudioRecorder&) {
        ASSERT_TRUE(SoundServer::Restart());
        ASSERT_TRUE(speaker_.PlayTone(kSpeakerAfterHz, kToneAmplitude));
        ASSERT_TRUE(mic_.PlayTone(kMicAfterHz, kToneAmplitude));
    };
    const Take take = Record(kBoth, "wav", {{1500, restart}}, 3500);
    const DecodedAudio& a = take.audio;
    EXPECT_NEAR(a.Seconds(), take.spanSeconds, kSpanTolerance);

    EXPECT_GT(Share(a, kSpeakerHz, 0.3, 1.3), kPresentShare);
    EXPECT_GT(Share(a, kMicHz, 0.3, 1.3), kPresentShare);
    // The streams find the new server within half a second of its start; a new null sink that
    // starts playing may hold its monitor back up to another second.
    const double from = take.stepsDoneAt[0] + 1.5, to = a.Seconds() - 0.05;
    EXPECT_GT(Share(a, kSpeakerAfterHz, from, to), kPresentShare) << "system sound after the restart";
    EXPECT_GT(Share(a, kMicAfterHz, from, to), kPresentShare) << "microphone after the restart";
}

TEST_F(RecorderFault, EveryDeviceGoneKeepsTheTakeGrowing)
{
    ASSERT_TRUE(speaker_.PlayTone(kSpeakerHz, kToneAmplitude));
    const auto removeAll = [&](AudioRecorder&) {
        // (A PipeWire server keeps a stream whose sink is gone, but no longer takes its data.)
        speaker_.Close();
        EXPECT_TRUE(SoundServer::RemoveAllDevices());
    };
    const Take take = Record(kSystemSound, "wav", {{1500, removeAll}}, 1500, false);
    const DecodedAudio& a = take.audio;
    EXPECT_NEAR(a.Seconds(), take.spanSeconds, kSpanTolerance);
    EXPECT_GT(Share(a, kSpeakerHz, 0.3, 1.3), 0.9);
}

} // namespace
