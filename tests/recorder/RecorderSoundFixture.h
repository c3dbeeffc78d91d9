#pragma once
// RecorderSoundFixture: base of the recorder's tests against the private sound server. Each test
// starts from the server's standard layout in a private folder, with players on "speaker" (the
// system sound) and "mic-feed" (heard on "mic"), and records on a timetable: things happen to the
// server at given moments while the recorder runs, and the file is compared with the time it ran.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "RecorderTestUtil.h"
#include "SoundPlayer.h"
#include "SoundServerTest.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class RecorderSoundFixture : public SoundServerTest {
protected:
    static constexpr int kRate = 44100;

    // Something done to the server or the recorder afterMs after the step before it has finished
    // (the first: after Run).
    struct Step {
        int afterMs;
        std::function<void(AudioRecorder&)> action;
    };
    struct Take {
        DecodedAudio audio;
        double spanSeconds = 0;          // from Run to Stop, by the test's clock
        std::vector<double> stepsDoneAt; // seconds after Run at which each step had finished
    };

    // Pauses for pauseMs, afterMs after the step before.
    static Step PauseStep(int afterMs, int pauseMs)
    {
        return {afterMs, [pauseMs](AudioRecorder& rec) {
                    rec.Pause();
                    SleepMs(pauseMs);
                    rec.Run();
                }};
    }

    void TearDown() override
    {
        speaker_.Close();
        mic_.Close();
        SoundServerTest::TearDown();
    }

    // Records source into name.format: Run, the steps, Stop endMs after the last step; the decoded
    // file. micPresent says whether the plan saw a microphone.
    Take Record(int source, const std::string& format, const std::vector<Step>& steps, int endMs,
                bool micPresent = true, const std::string& name = "rec")
    {
        using Clock = std::chrono::steady_clock;
        const auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
        Take take;
        std::string path;
        {
            AudioRecorder rec(&owner_);
            RecordingPlan plan = MakePlan(folder_, format, source, micPresent);
            plan.fileName = name + "." + format;
            plan.programs = programs_;
            EXPECT_EQ(rec.Open(plan), 0);
            rec.Run();
            const Clock::time_point run = Clock::now();
            for (const Step& step : steps) {
                SleepMs(step.afterMs);
                step.action(rec);
                take.stepsDoneAt.push_back(since(run));
            }
            SleepMs(endMs);
            rec.Stop();
            take.spanSeconds = since(run);
            path = rec.OutputPath();
        }
        std::string error;
        EXPECT_TRUE(DecodeAudioFile(path, take.audio, &error)) << error;
        return take;
    }

    // Share (0..1) of the left channel's power that lies near freq over [from, to) seconds.
    static double Share(const DecodedAudio& a, double freq, double from, double to)
    {
        return PowerShare(a.left, a.sampleRate, freq, a.IndexAt(from), a.IndexAt(to));
    }
    // Level (dB) of the left channel's tone near freq over [from, to) seconds.
    static double ToneDb(const DecodedAudio& a, double freq, double from, double to)
    {
        return 10 * std::log10(TonePower(a.left, a.sampleRate, freq, a.IndexAt(from), a.IndexAt(to)) + 1e-20);
    }

    TestEnv env_;
    std::string folder_ = env_.MakeFolder("out").toStdString();
    SecondsLog owner_;
    ProgramChoice programs_; // whose sound the takes record as the system sound (all by default)
    SoundPlayer speaker_{"speaker"};
    SoundPlayer mic_{"mic-feed"};
};
