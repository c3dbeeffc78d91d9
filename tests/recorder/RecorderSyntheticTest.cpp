// AudioRecorder without sources ("audio-mute-check") on a clock the test drives: the file follows
// the clock across pause and Stop, and a recording of several seconds runs in a fraction of that.
// On the real clock: a recorder destroyed while recording, and Open failures. (Recordings of the
// sources: RecorderSoundTest and RecorderFaultTest; their placement: CaptureSourceTest.)

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "FileBytes.h"
#include "RecorderTestUtil.h"
#include "SyntheticBackend.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <QFile>

#include <memory>
#include <numeric>

namespace {

constexpr int kRate = 44100;
constexpr int kWavFrame = 1024;
constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kOpenAt = 1000 * kSecond; // the fake clock at Open
constexpr int64_t kStep = 10 * kMs;         // the fake clock moves in steps of this

// One recording on the synthetic clock: it moves on in steps, and after each recorded second the
// test waits (real time) until the recorder has written up to a second less.
class Session {
public:
    // Opens a recorder of format into folder; its result in opened.
    Session(const std::string& folder, const std::string& format, bool voiceActivated)
    {
        backend.SetNow(kOpenAt);
        RecordingPlan plan = MakePlan(folder, format);
        plan.voiceActivated = voiceActivated;
        opened = rec->Open(plan);
    }
    void Advance(int64_t ns)
    {
        for (const int64_t end = now + ns; now < end;) {
            now += kStep;
            backend.SetNow(now);
            if (rec->GetState() == kRecording && (recorded_ += kStep) % kSecond == 0) {
                EXPECT_TRUE(owner.WaitForSecond(recorded_ / kSecond - 1)) << "the recorder does not follow the clock";
            }
        }
    }
    // Lets the clock run past the last frame and ends the recorder; the file's path.
    std::string Finish()
    {
        Advance(600 * kMs);
        const std::string path = rec->OutputPath();
        rec.reset();
        return path;
    }

    SyntheticBackend backend;
    SecondsLog owner;
    std::unique_ptr<AudioRecorder> rec = std::make_unique<AudioRecorder>(&owner, &backend);
    int opened = -1;
    int64_t now = kOpenAt;

private:
    int64_t recorded_ = 0;
};

class RecorderSynthetic : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteConfigString(config::kSection, config::kAudioMuteCheck, "1")); }
    TestEnv env_;
    std::string folder_ = env_.MakeFolder("out").toStdString();
};

} // namespace

// Without sources ("audio-mute-check"), the file follows the clock: silence of the length of the
// time recorded, in whole frames, a header that counts it, seconds in order. A voice-activated take
// in which nothing was heard still ends as a playable file (an MP3 without a frame has no length a
// player can read) and reports no seconds.
TEST_F(RecorderSynthetic, SilentModeFollowsTheClock)
{
    struct Step {
        char op; // Run, Pause, Stop, Advance the clock by ms
        int ms = 0;
    };
    const struct {
        const char* name;
        const char* format;
        std::vector<Step> steps;
        int ms; // recorded
        bool voiceActivated = false;
    } cases[] = {
        {"run, pause, run, stop", "wav",
         {{'R'}, {'A', 2500}, {'P'}, {'A', 1000}, {'R'}, {'A', 1000}, {'S'}}, 3500},
        {"stopped while paused", "mp3", {{'R'}, {'A', 800}, {'P'}, {'A', 300}, {'S'}}, 800},
        {"stopped before run", "wav", {{'A', 300}, {'S'}}, 0},
        {"voice-activated, nothing heard", "mp3", {{'R'}, {'A', 900}, {'S'}}, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(folder_, c.format, c.voiceActivated);
        ASSERT_EQ(s.opened, 0);
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
        const std::string path = s.Finish();
        DecodedAudio audio;
        std::string error;
        ASSERT_TRUE(DecodeAudioFile(path, audio, &error)) << error;
        const int frame = std::string(c.format) == "wav" ? kWavFrame : 1152;
        // (Nothing heard: one frame of silence.)
        const int64_t want = c.voiceActivated ? frame : static_cast<int64_t>(c.ms) * kRate / 1000;
        EXPECT_GE(static_cast<int64_t>(audio.left.size()), want);
        EXPECT_LT(static_cast<int64_t>(audio.left.size()), want + frame);
        EXPECT_LT(Rms(audio.left), 1e-6);
        std::vector<int64_t> seconds(audio.left.size() / kRate); // 1, 2, ... each once, in order
        std::iota(seconds.begin(), seconds.end(), 1);
        EXPECT_EQ(s.owner.Seconds(), seconds);
        if (std::string(c.format) == "wav") {
            EXPECT_EQ(audio.left.size() % kWavFrame, 0u);
            EXPECT_EQ(ExpectWavSizesMatchFile(path), audio.left.size());
        }
    }
}

TEST_F(RecorderSynthetic, DestroyingWithoutStopFinishesTheFile)
{
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

// (A folder that cannot be written is refused before Open: RecordingPlanTest.)
TEST_F(RecorderSynthetic, OpenFailsCleanlyWhereNoFileCanBeWritten)
{
    for (const auto& [folder, fileName] : {std::pair{env_.Root().toStdString() + "/missing/folder", "a.wav"},
                                           std::pair{folder_, "no-extension"}}) {
        AudioRecorder rec(nullptr);
        RecordingPlan plan;
        plan.folder = folder;
        plan.fileName = fileName;
        plan.format = "wav";
        plan.silent = true;
        EXPECT_LT(rec.Open(plan), 0) << folder << "/" << fileName;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/" + fileName)));
        // A second Open on the same recorder is refused too.
        EXPECT_LT(rec.Open(MakePlan(folder_, "wav")), 0);
    }
}
