// The recorder against the private sound server: known tones played into the virtual speaker and
// microphone are found in the recordings at the right length, level and frequency.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "RecorderTestUtil.h"
#include "SoundPlayer.h"
#include "SoundServer.h"
#include "TestEnv.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;

class RecorderSound : public testing::Test {
protected:
    void SetUp() override
    {
        TAMSU_REQUIRE_SOUND_SERVER();
        ASSERT_TRUE(SoundServer::Reset());
        folder_ = env_.MakeFolder("out").toStdString();
    }
    void TearDown() override
    {
        speaker_.Stop();
        mic_.Stop();
        SoundServer::Reset();
    }

    // Opens a recorder for source with the given format, runs it for ms and stops it; the
    // decoded file. micPresent says whether the window saw a microphone.
    DecodedAudio Record(int source, const std::string& format, int ms, bool micPresent = true,
                        const std::string& name = "rec")
    {
        DecodedAudio audio;
        std::string path;
        {
            AudioRecorder rec(&owner_);
            auto params = MakeParams(folder_, format, micPresent);
            params.fileName = name + "." + format;
            params.sourceOverride = source;
            EXPECT_EQ(rec.Open(params), 0);
            rec.Run();
            SleepMs(ms);
            rec.Stop();
            path = rec.OutputPath();
        }
        std::string error;
        EXPECT_TRUE(DecodeAudioFile(path, audio, &error)) << error;
        return audio;
    }

    // Share of the signal's power at freq, measured over [from, to) seconds.
    static double Share(const DecodedAudio& a, double freq, double from, double to)
    {
        const auto b = static_cast<size_t>(from * a.sampleRate);
        const auto e = static_cast<size_t>(to * a.sampleRate);
        const double rms = Rms(a.left, b, e);
        return rms > 0 ? GoertzelPower(a.left, a.sampleRate, freq, b, e) / (rms * rms) : 0.0;
    }

    TestEnv env_;
    std::string folder_;
    SecondsLog owner_;
    SoundPlayer speaker_{"speaker"};
    SoundPlayer mic_{"mic-feed"};
};

} // namespace

TEST_F(RecorderSound, SystemSoundToneIsRecordedInMp3AndWav)
{
    ASSERT_TRUE(speaker_.PlayTone(440, 0.5));
    SleepMs(200);
    for (const char* format : {"mp3", "wav"}) {
        const DecodedAudio a = Record(kSystemSound, format, 4000, false, format);
        EXPECT_NEAR(a.Seconds(), 4.0, 0.15) << format;
        EXPECT_NEAR(DominantFrequency(a.left, a.sampleRate, 100, 2000, 10), 440, 10) << format;
        // A sine of peak 0.5 has an RMS of -9 dBFS.
        EXPECT_NEAR(RmsDb(a.left, kRate / 2, a.left.size() - kRate / 2), -9.0, 1.0) << format;
        EXPECT_GT(Share(a, 440, 0.5, 3.5), 0.9) << format;
    }
    // Seconds arrived while recording: 1, 2, 3 for each file.
    const auto secs = owner_.Seconds();
    EXPECT_GE(secs.size(), 6u);
}

TEST_F(RecorderSound, SystemSilenceStillGrowsInRealTime)
{
    const DecodedAudio a = Record(kSystemSound, "wav", 3000, false);
    EXPECT_NEAR(a.Seconds(), 3.0, 0.15);
    EXPECT_LT(RmsDb(a.left), -80.0);
    const auto secs = owner_.Seconds();
    ASSERT_FALSE(secs.empty());
    EXPECT_GE(secs.back(), 2);
    EXPECT_LE(secs.back(), 3);
}

TEST_F(RecorderSound, PauseKeepsOutWhatPlaysMeanwhile)
{
    std::string path;
    {
        AudioRecorder rec(&owner_);
        auto params = MakeParams(folder_, "wav", false);
        params.sourceOverride = kSystemSound;
        ASSERT_EQ(rec.Open(params), 0);
        ASSERT_TRUE(speaker_.PlayTone(440, 0.5));
        SleepMs(200);
        rec.Run();
        SleepMs(1500);
        rec.Pause();
        ASSERT_TRUE(speaker_.PlayTone(1000, 0.5)); // only during the pause
        SleepMs(2000);
        ASSERT_TRUE(speaker_.PlayTone(440, 0.5));
        SleepMs(200);
        rec.Run();
        SleepMs(1500);
        rec.Stop();
        path = rec.OutputPath();
    }
    DecodedAudio a;
    ASSERT_TRUE(DecodeAudioFile(path, a));
    EXPECT_NEAR(a.Seconds(), 3.0, 0.2); // wall time of running only
    // Nothing of the 1 kHz tone, everywhere 440 Hz.
    for (double t = 0.1; t + 0.2 < a.Seconds(); t += 0.2) {
        EXPECT_LT(Share(a, 1000, t, t + 0.2), 0.01) << "1 kHz from the pause at " << t << " s";
    }
    EXPECT_GT(Share(a, 440, 0.2, 1.2), 0.9);
    EXPECT_GT(Share(a, 440, 1.8, 2.8), 0.9);
}

TEST_F(RecorderSound, MicrophoneToneAtDeviceRatesOf44100And48000)
{
    for (int rate : {44100, 48000}) {
        ASSERT_TRUE(SoundServer::Reset(rate));
        ASSERT_TRUE(mic_.PlayTone(1000, 0.5));
        SleepMs(200);
        for (const char* format : {"mp3", "wav"}) {
            const DecodedAudio a = Record(kMicrophone, format, 3000, true, format + std::to_string(rate));
            EXPECT_NEAR(a.Seconds(), 3.0, 0.15) << format << " " << rate;
            EXPECT_NEAR(DominantFrequency(a.left, a.sampleRate, 100, 4000, 10), 1000, 10) << format << " " << rate;
            EXPECT_NEAR(RmsDb(a.left, kRate / 2, a.left.size() - kRate / 2), -9.0, 1.5) << format << " " << rate;
        }
        mic_.Stop();
    }
}

TEST_F(RecorderSound, BothSourcesAreMixedAndTheMicrophoneAloneKeepsTheLength)
{
    ASSERT_TRUE(speaker_.PlayTone(440, 0.4));
    ASSERT_TRUE(mic_.PlayTone(1000, 0.4));
    SleepMs(200);
    DecodedAudio a = Record(kBoth, "mp3", 3000, true, "both");
    EXPECT_NEAR(a.Seconds(), 3.0, 0.2);
    EXPECT_GT(Share(a, 440, 1.0, 2.5), 0.3);
    EXPECT_GT(Share(a, 1000, 1.0, 2.5), 0.3);

    speaker_.Stop();
    SleepMs(200);
    a = Record(kBoth, "wav", 3000, true, "mic-alone");
    EXPECT_NEAR(a.Seconds(), 3.0, 0.2);
    EXPECT_GT(Share(a, 1000, 0.5, 2.5), 0.9);
}

TEST_F(RecorderSound, NoiseSuppressionAndGainControlWorkOnMp3Only)
{
    ASSERT_TRUE(mic_.PlayNoise(0.3));
    SleepMs(200);
    const DecodedAudio plain = Record(kMicrophone, "mp3", 3000, true, "noise-plain");
    WriteConfigString("global", "noise-check", "1");
    const DecodedAudio suppressed = Record(kMicrophone, "mp3", 3000, true, "noise-suppressed");
    const DecodedAudio wav = Record(kMicrophone, "wav", 3000, true, "noise-wav");
    WriteConfigString("global", "noise-check", "0");
    mic_.Stop();

    const size_t from = kRate, to = 2 * kRate; // after the suppressor has adapted
    const double plainDb = RmsDb(plain.left, from, to);
    const double suppressedDb = RmsDb(suppressed.left, from, to);
    EXPECT_LT(suppressedDb, plainDb - 10.0) << "white noise only " << plainDb - suppressedDb << " dB weaker";
    // Uniform noise of peak 0.3 has an RMS of 0.3 / sqrt(3), -15.2 dBFS; WAV keeps all of it.
    EXPECT_NEAR(RmsDb(wav.left, from, to), 20 * std::log10(0.3 / std::sqrt(3.0)), 1.0)
        << "WAV must ignore noise suppression";
    RecordProperty("noise_suppression_db", std::to_string(plainDb - suppressedDb));

    ASSERT_TRUE(mic_.PlayTone(1000, 0.02)); // a quiet voice, -37 dBFS
    SleepMs(200);
    const DecodedAudio quiet = Record(kMicrophone, "mp3", 3000, true, "quiet-plain");
    WriteConfigString("global", "agc-check", "1");
    WriteConfigString("global", "voice-size", "20");
    const DecodedAudio louder = Record(kMicrophone, "mp3", 3000, true, "quiet-agc");
    const DecodedAudio quietWav = Record(kMicrophone, "wav", 3000, true, "quiet-wav");
    const double gain = RmsDb(louder.left, from, to) - RmsDb(quiet.left, from, to);
    EXPECT_GT(gain, 10.0);
    EXPECT_NEAR(DominantFrequency(louder.left, kRate, 100, 4000, 10), 1000, 10);
    EXPECT_NEAR(RmsDb(quietWav.left, from, to), RmsDb(quiet.left, from, to), 1.5)
        << "WAV must ignore gain control";
    RecordProperty("gain_control_db", std::to_string(gain));
}

TEST_F(RecorderSound, WithoutMicrophoneMicOnlyFailsAndBothFallsBackToSystemSound)
{
    // No capture device at all: opening the microphone fails cleanly, nothing is left behind.
    ASSERT_EQ(SoundServer::Pactl({"unload-module", "module-remap-source"}), 0);
    {
        AudioRecorder rec(nullptr);
        auto params = MakeParams(folder_, "mp3", true);
        params.fileName = "mic-missing.mp3";
        params.sourceOverride = kMicrophone;
        EXPECT_LT(rec.Open(params), 0);
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(folder_ + "/mic-missing.mp3")));

    // The window saw no microphone: both sources fall back to system sound only.
    ASSERT_TRUE(speaker_.PlayTone(440, 0.5));
    SleepMs(200);
    AudioRecorder rec(nullptr);
    auto params = MakeParams(folder_, "wav", false);
    params.fileName = "fallback.wav";
    params.sourceOverride = kBoth;
    ASSERT_EQ(rec.Open(params), 0);
    EXPECT_EQ(rec.GetSource(), kSystemSound);
    rec.Run();
    SleepMs(2000);
    rec.Stop();
}

TEST_F(RecorderSound, StopEndsEveryThreadPromptlyWhileTheMicrophoneIsSilentOrTheSpeakerVanishes)
{
    // The microphone delivers nothing: the encode thread waits on an empty FIFO.
    ASSERT_EQ(SoundServer::Pactl({"suspend-source", "mic", "1"}), 0);
    {
        AudioRecorder rec(nullptr);
        auto params = MakeParams(folder_, "wav", true);
        params.fileName = "mic-silent.wav";
        params.sourceOverride = kMicrophone;
        ASSERT_EQ(rec.Open(params), 0);
        rec.Run();
        SleepMs(1000);
        rec.Stop();
        // The destructor joins every thread; a hang here fails the test by its time-out.
    }
    DecodedAudio a;
    EXPECT_TRUE(DecodeAudioFile(folder_ + "/mic-silent.wav", a));

    // Every device disappears in the middle of a recording: the file goes on in real time and is
    // complete. (The server may first move the loopback stream to another device, whose buffered
    // audio then adds up to half a second.)
    ASSERT_EQ(SoundServer::Pactl({"suspend-source", "mic", "0"}), 0);
    ASSERT_TRUE(speaker_.PlayTone(440, 0.5));
    SleepMs(200);
    std::string path;
    {
        AudioRecorder rec(nullptr);
        auto params = MakeParams(folder_, "wav", false);
        params.fileName = "speaker-gone.wav";
        params.sourceOverride = kSystemSound;
        ASSERT_EQ(rec.Open(params), 0);
        rec.Run();
        SleepMs(1500);
        speaker_.Stop();
        ASSERT_TRUE(SoundServer::RemoveAllDevices());
        SleepMs(1500);
        rec.Stop();
        path = rec.OutputPath();
    }
    ASSERT_TRUE(DecodeAudioFile(path, a));
    EXPECT_GT(a.Seconds(), 2.8);
    EXPECT_LT(a.Seconds(), 3.6);
    EXPECT_GT(Share(a, 440, 0.3, 1.0), 0.9);
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
    SleepMs(300);

    std::string path;
    {
        AudioRecorder rec(nullptr);
        auto params = MakeParams(folder_, "wav", true);
        params.sourceOverride = kBoth;
        ASSERT_EQ(rec.Open(params), 0);
        rec.Run();
        SleepMs(2000);
        rec.Pause();
        SleepMs(700);
        rec.Run();
        SleepMs(2500);
        rec.Stop();
        path = rec.OutputPath();
    }
    clicks.Stop();
    DecodedAudio a;
    ASSERT_TRUE(DecodeAudioFile(path, a));
    const auto left = FindLoudSpans(a.left, a.sampleRate, -30.0, 0.0005, 0.1);
    const auto right = FindLoudSpans(a.right, a.sampleRate, -30.0, 0.0005, 0.1);
    // Each left click with the nearest right one; a click cut in two by the pause may be heard
    // on one side only and stays unpaired.
    int paired = 0;
    for (const auto& l : left) {
        double best = 1.0;
        for (const auto& r : right)
            if (std::abs(r.first - l.first) < std::abs(best))
                best = r.first - l.first;
        if (std::abs(best) > 0.25)
            continue;
        ++paired;
        EXPECT_LT(std::abs(best), 0.010) << "click at " << l.first << " s: microphone " << best * 1000 << " ms off";
    }
    EXPECT_GE(paired, 7);
}
