// The recorder against the private sound server (PulseAudio and PipeWire): known tones played into
// the virtual speaker and microphone are found in the recordings at the right length, level and
// frequency, and the two sources of a mixed recording line up.

#include "RecorderSoundFixture.h"

#include "SoundServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>
#include <utility>

namespace {

class RecorderSound : public RecorderSoundFixture {};

TEST_F(RecorderSound, SystemSoundToneIsRecordedInMp3AndWav)
{
    ASSERT_TRUE(speaker_.PlayTone(440, 0.5));
    for (const char* format : {"mp3", "wav"}) {
        const DecodedAudio a = Record(kSystemSound, format, {}, 4000, false, format).audio;
        EXPECT_NEAR(a.Seconds(), 4.0, 0.15) << format;
        EXPECT_NEAR(DominantFrequency(a.left, a.sampleRate, 100, 2000, 10), 440, 10) << format;
        // A sine of peak 0.5 has an RMS of -9 dBFS.
        EXPECT_NEAR(RmsDb(a.left, kRate / 2, a.left.size() - kRate / 2), -9.0, 1.0) << format;
        EXPECT_GT(Share(a, 440, 0.5, 3.5), 0.9) << format;
    }
    // Seconds arrived while recording: 1, 2, 3 for each file.
    EXPECT_GE(owner_.Seconds().size(), 6u);
}

TEST_F(RecorderSound, MicrophoneToneAtDeviceRatesOf44100And48000)
{
    for (const auto& [rate, format] : {std::pair{44100, "mp3"}, std::pair{48000, "wav"}}) {
        SCOPED_TRACE(rate);
        ASSERT_TRUE(SoundServer::Reset(rate));
        ASSERT_TRUE(mic_.PlayTone(1000, 0.5));
        const DecodedAudio a = Record(kMicrophone, format, {}, 3000, true, format).audio;
        EXPECT_NEAR(a.Seconds(), 3.0, 0.15);
        EXPECT_NEAR(DominantFrequency(a.left, a.sampleRate, 100, 4000, 10), 1000, 10);
        EXPECT_NEAR(RmsDb(a.left, kRate / 2, a.left.size() - kRate / 2), -9.0, 1.5);
        mic_.Close(); // its sink goes with the next Reset
    }
}

TEST_F(RecorderSound, BothSourcesAreMixed)
{
    ASSERT_TRUE(speaker_.PlayTone(440, 0.4));
    ASSERT_TRUE(mic_.PlayTone(1000, 0.4));
    const DecodedAudio a = Record(kBoth, "mp3", {}, 3000).audio;
    EXPECT_NEAR(a.Seconds(), 3.0, 0.2);
    EXPECT_GT(Share(a, 440, 1.0, 2.5), 0.3);
    EXPECT_GT(Share(a, 1000, 1.0, 2.5), 0.3);
}

TEST_F(RecorderSound, MixedSourcesStayAlignedAcrossAPause)
{
    // The microphone hears what the speaker plays, with the channels swapped; clicks go into the
    // speaker's left channel only. In the file, left = system sound path, right = microphone path.
    ASSERT_EQ(SoundServer::Pactl({"unload-module", "module-remap-source"}), 0);
    ASSERT_GE(SoundServer::LoadModule("module-remap-source",
                                      {"master=speaker.monitor", "source_name=mic", "channel_map=front-right,front-left",
                                       "master_channel_map=front-left,front-right", "remix=no"}),
              0);
    ASSERT_GE(SoundServer::LoadModule("module-remap-sink",
                                      {"sink_name=speaker-left", "master=speaker", "channels=1", "channel_map=mono",
                                       "master_channel_map=front-left", "remix=no"}),
              0);
    SoundPlayer clicks("speaker-left", kRate, 1);
    ASSERT_TRUE(clicks.PlayClicks(0.5, 0.8));
    const auto pause = [](AudioRecorder& rec) {
        rec.Pause();
        SleepMs(700);
        rec.Run();
    };
    const DecodedAudio a = Record(kBoth, "wav", {{2000, pause}}, 2500).audio;
    clicks.Close();
    const auto left = FindLoudSpans(a.left, a.sampleRate, -30.0, 0.0005, 0.1);
    const auto right = FindLoudSpans(a.right, a.sampleRate, -30.0, 0.0005, 0.1);
    // Each left click with the nearest right one; a click cut in two by the pause may be heard
    // on one side only and stays unpaired.
    std::vector<std::pair<double, double>> offsets; // (time in the file, right - left)
    for (const auto& l : left) {
        double best = 1.0;
        for (const auto& r : right)
            if (std::abs(r.first - l.first) < std::abs(best))
                best = r.first - l.first;
        if (std::abs(best) <= 0.25)
            offsets.emplace_back(l.first, best);
    }
    ASSERT_GE(offsets.size(), 7u);
    std::vector<double> sorted;
    for (const auto& [at, o] : offsets)
        sorted.push_back(o);
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    // Neither the start nor the pause moves a source: every click, the first included, keeps the
    // offset of the others.
    for (const auto& [at, o] : offsets)
        EXPECT_LT(std::abs(o - median), 0.003)
            << "the click at " << at << " s " << o * 1000 << " ms off, the others " << median * 1000;
    // PulseAudio's remap source (the microphone here) passes each render block of the speaker on
    // one block after its monitor and reports no latency for it, so the microphone arrives up to a
    // block (about 10 ms with the players' latency) late; the recorder sees only what arrives.
    // PipeWire passes both at once.
    std::string info;
    SoundServer::Pactl({"info"}, &info);
    const double bound = info.find("PipeWire") != std::string::npos ? 0.003 : 0.015;
    EXPECT_LT(std::abs(median), bound) << "microphone " << median * 1000 << " ms off";
}

} // namespace
