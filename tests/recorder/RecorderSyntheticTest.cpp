// AudioRecorder on a synthetic backend (a clock and streams the test drives): what the file holds
// across pause, a stalled source and Stop, and in silent mode; recordings of several seconds run in
// a fraction of that. On the real clock: Open failures, and a recorder destroyed while recording.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "FileBytes.h"
#include "RecorderTestUtil.h"
#include "SyntheticBackend.h"
#include "SyntheticDevice.h"
#include "TestEnv.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>

#include <memory>

namespace {

constexpr int kRate = 44100;
constexpr int kWavFrame = 1024;
constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kOpenAt = 1000 * kSecond; // the fake clock at Open
constexpr int64_t kStep = 10 * kMs;         // the fake clock moves in steps of this

int64_t PosOf(int64_t ns)
{
    return (ns - kOpenAt) * kRate / kSecond; // whole steps: exact
}

// One recording on the synthetic backend: the clock moves on in steps, the devices' packets are
// delivered once they arrived, and after each recorded second the test waits (real time) until
// the recorder has written up to a second less, so that the FIFOs never overflow.
class Session {
public:
    explicit Session(const std::string& folder) : folder_(folder) { backend.SetNow(kOpenAt); }

    int Open(const std::string& format, bool micPresent)
    {
        rec = std::make_unique<AudioRecorder>(&owner, &backend);
        const int opened = rec->Open(MakePlan(folder_, format, kBoth, micPresent));
        for (auto& [kind, device] : devices)
            backend.Begin(kind, device.Spec().format, device.Spec().latencyNs);
        return opened;
    }
    void Advance(int64_t ns)
    {
        for (const int64_t end = now + ns; now < end;) {
            now += kStep;
            backend.SetNow(now);
            for (auto& [kind, device] : devices)
                while (device.NextArrival() <= now) {
                    const SyntheticDevice::Packet p = device.Take();
                    backend.Deliver(kind, p.data.data(), p.frames, p.arrivalNs);
                }
            if (rec->GetState() == kRecording && (recorded_ += kStep) % kSecond == 0) {
                EXPECT_TRUE(owner.WaitForSecond(recorded_ / kSecond - 1)) << "the recorder does not follow the clock";
            }
        }
    }
    // Stops, lets the clock run past the last frame and ends the recorder; the file's path.
    std::string Finish(bool stop = true)
    {
        if (stop)
            rec->Stop();
        Advance(600 * kMs);
        const std::string path = rec->OutputPath();
        rec.reset();
        return path;
    }

    SyntheticBackend backend;
    SecondsLog owner;
    std::vector<std::pair<CaptureKind, SyntheticDevice>> devices;
    std::unique_ptr<AudioRecorder> rec;
    int64_t now = kOpenAt;

private:
    std::string folder_;
    int64_t recorded_ = 0;
};

// Seconds 1, 2, ... up to the whole seconds of samples, each once, in order.
void ExpectSecondsInOrder(const std::vector<int64_t>& seconds, size_t samples)
{
    std::vector<int64_t> want;
    for (int64_t s = 1; s <= static_cast<int64_t>(samples / kRate); ++s)
        want.push_back(s);
    EXPECT_EQ(seconds, want);
}

SyntheticDeviceSpec Device(int format, int rate, int packetFrames, int64_t latencyNs, int clickChannel)
{
    SyntheticDeviceSpec s;
    s.format = {format, rate, 2};
    s.packetFrames = packetFrames;
    s.latencyNs = latencyNs;
    s.jitterNs = 2 * kMs;
    s.clickChannel = clickChannel;
    s.clickOriginNs = kOpenAt + 100 * kMs;
    return s;
}

class RecorderSynthetic : public testing::Test {
protected:
    TestEnv env_;
    std::string folder_ = env_.MakeFolder("out").toStdString();
};

} // namespace

// System sound (clicks on the left) and microphone (clicks on the right, at the same moments)
// mixed: run, pause, resume, the microphone stalls for 1.5 s, stop.
TEST_F(RecorderSynthetic, MixedSourcesStayAlignedAcrossPauseAndAStalledMicrophone)
{
    Session s(folder_);
    s.devices.emplace_back(CaptureKind::kSystemSound,
                           SyntheticDevice(Device(AV_SAMPLE_FMT_S32, 48000, 2400, 5 * kMs, 0), kOpenAt));
    s.devices.emplace_back(CaptureKind::kMicrophone,
                           SyntheticDevice(Device(AV_SAMPLE_FMT_S16, 44100, 882, 30 * kMs, 1), kOpenAt));
    s.devices[1].second.Suspend(kOpenAt + 5500 * kMs, kOpenAt + 7000 * kMs);
    ASSERT_EQ(s.Open("wav", true), 0);
    EXPECT_EQ(s.backend.Opened(), 2);
    s.Advance(500 * kMs);
    s.rec->Run();
    s.Advance(2500 * kMs);
    s.rec->Pause();
    s.Advance(1500 * kMs);
    s.rec->Run();
    s.Advance(4500 * kMs);
    const std::string path = s.Finish();

    // Where a moment of the timeline lands in the file: [0.5, 3.0) s then [4.5, 9.0) s.
    const int64_t run = PosOf(kOpenAt + 500 * kMs), pause = PosOf(kOpenAt + 3000 * kMs),
                  resume = PosOf(kOpenAt + 4500 * kMs), stop = PosOf(kOpenAt + 9000 * kMs);
    auto inFile = [&](const std::vector<int64_t>& times) {
        std::vector<int64_t> out;
        for (const int64_t t : times) {
            const int64_t p = PosOf(t);
            if (p >= run && p < pause)
                out.push_back(p - run);
            else if (p >= resume && p < stop)
                out.push_back(pause - run + p - resume);
        }
        return out;
    };
    DecodedAudio audio;
    ASSERT_TRUE(DecodeAudioFile(path, audio));
    const int64_t span = (pause - run) + (stop - resume);
    const auto length = static_cast<int64_t>(audio.left.size());
    EXPECT_GE(length, span);
    EXPECT_LT(length, span + kWavFrame);

    std::vector<int64_t> left, right; // system sound, microphone
    FindClicks(audio.left.data(), audio.left.size(), 0, 0.05f, kRate / 100, left);
    FindClicks(audio.right.data(), audio.right.size(), 0, 0.05f, kRate / 100, right);
    constexpr int64_t kTolerance = 2 * kRate / 1000; // 2 ms
    const ClickMatch system = MatchClicks(left, inFile(s.devices[0].second.CapturedClicks()), kTolerance);
    const ClickMatch mic = MatchClicks(right, inFile(s.devices[1].second.CapturedClicks()), kTolerance);
    const ClickMatch pair = MatchClicks(right, left, kTolerance, 0, length);
    EXPECT_GE(system.expected, 27);
    EXPECT_EQ(system.missing + system.stray, 0) << "system sound missing or out of place";
    EXPECT_EQ(mic.expected, system.expected - 6) << "the microphone's stall holds 6 clicks";
    EXPECT_EQ(mic.missing + mic.stray, 0) << "microphone missing or out of place";
    EXPECT_EQ(pair.stray, 0);
    ExpectSecondsInOrder(s.owner.Seconds(), audio.left.size());
}

// Without sources ("audio-mute-check"), the file follows the clock: silence of the length of the
// time recorded, in whole frames, a header that counts it, seconds in order.
TEST_F(RecorderSynthetic, SilentModeFollowsTheClock)
{
    ASSERT_TRUE(WriteConfigString(config::kSection, config::kAudioMuteCheck, "1"));
    struct Step {
        char op; // Run, Pause, Stop, Advance the clock by ms
        int ms = 0;
    };
    const struct {
        const char* name;
        const char* format;
        std::vector<Step> steps;
        int ms; // recorded
    } cases[] = {
        {"run, pause, run, stop", "wav",
         {{'R'}, {'A', 2500}, {'P'}, {'A', 1000}, {'R'}, {'A', 1000}, {'S'}}, 3500},
        {"stopped while paused", "mp3", {{'R'}, {'A', 800}, {'P'}, {'A', 300}, {'S'}}, 800},
        {"stopped before run", "wav", {{'A', 300}, {'S'}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(folder_);
        ASSERT_EQ(s.Open(c.format, true), 0);
        EXPECT_EQ(s.backend.Opened(), 0);
        for (const Step& step : c.steps) {
            if (step.op == 'R')
                s.rec->Run();
            else if (step.op == 'P')
                s.rec->Pause();
            else if (step.op == 'S')
                s.rec->Stop();
            else
                s.Advance(step.ms * kMs);
        }
        const std::string path = s.Finish(false);
        DecodedAudio audio;
        std::string error;
        ASSERT_TRUE(DecodeAudioFile(path, audio, &error)) << error;
        const int64_t want = static_cast<int64_t>(c.ms) * kRate / 1000;
        const int frame = std::string(c.format) == "wav" ? kWavFrame : 1152;
        EXPECT_GE(static_cast<int64_t>(audio.left.size()), want);
        EXPECT_LT(static_cast<int64_t>(audio.left.size()), want + frame);
        EXPECT_LT(Rms(audio.left), 1e-6);
        ExpectSecondsInOrder(s.owner.Seconds(), audio.left.size());
        if (std::string(c.format) == "wav") {
            EXPECT_EQ(audio.left.size() % kWavFrame, 0u);
            EXPECT_EQ(ExpectWavSizesMatchFile(path), audio.left.size());
        }
    }
}


TEST_F(RecorderSynthetic, DestroyingWithoutStopFinishesTheFile)
{
    ASSERT_TRUE(WriteConfigString(config::kSection, config::kAudioMuteCheck, "1"));
    std::string path;
    {
        AudioRecorder rec(nullptr);
        ASSERT_EQ(rec.Open(MakePlan(folder_, "mp3")), 0);
        rec.Run();
        SleepMs(1000);
        path = rec.OutputPath();
    } // the program quits while recording
    DecodedAudio audio;
    ASSERT_TRUE(DecodeAudioFile(path, audio));
    EXPECT_NEAR(audio.Seconds(), 1.0, 0.15);
}

TEST_F(RecorderSynthetic, OpenFailsCleanlyWhereNoFileCanBeWritten)
{
    ASSERT_TRUE(WriteConfigString(config::kSection, config::kAudioMuteCheck, "1"));
    const QString readOnly = env_.MakeFolder("read-only");
    ::chmod(readOnly.toLocal8Bit().constData(), 0555);
    struct Case {
        std::string folder;
        std::string fileName;
    } cases[] = {
        {env_.Root().toStdString() + "/missing/folder", "a.wav"},
        {readOnly.toStdString(), "a.mp3"},
        {folder_, "no-extension"},
    };
    for (const Case& c : cases) {
        if (c.folder == readOnly.toStdString() && ::geteuid() == 0)
            continue; // root writes anywhere
        AudioRecorder rec(nullptr);
        RecordingPlan plan;
        plan.folder = c.folder;
        plan.fileName = c.fileName;
        plan.format = "wav";
        plan.silent = true;
        EXPECT_LT(rec.Open(plan), 0) << c.folder << "/" << c.fileName;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(c.folder + "/" + c.fileName)));
        // A second Open on the same recorder is refused too.
        EXPECT_LT(rec.Open(MakePlan(folder_, "wav")), 0);
    }
}
