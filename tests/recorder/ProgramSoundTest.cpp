// One program's sound against the private sound server: two programs play (440 Hz and 1 kHz, told
// apart by their application names), the recorder takes the first only, and that program is
// restarted halfway through the take.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "Process.h"
#include "PulseContext.h"
#include "RecorderTestUtil.h"
#include "SoundServerTest.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>

namespace {

// pacat under an application name of its own, playing a sine into "speaker" ("Stream started" on
// its standard output once the server plays it).
std::unique_ptr<Process> PlayAs(const std::string& name, int freq)
{
    auto p = std::make_unique<Process>(std::vector<std::string>{"bash", "-c",
        R"(exec pacat -v --client-name="$1" --raw --device=speaker --format=float32le --rate=44100 --channels=2 )"
        R"(--latency-msec=50 < <(exec sox -q -D -n -r 44100 -c 2 -b 32 -e floating-point -t raw - synth 86400 )"
        R"(sine "$2" vol 0.4) 2> >(grep -m1 -o --line-buffered "Stream started"; exec cat >/dev/null))",
        "bash", name, std::to_string(freq)});
    return p->WaitForOutput("Stream started", kProcessLimit) ? std::move(p) : nullptr;
}

// The recorder's own connection lists a stream of the program (PipeWire tells it a moment after pactl).
bool Listed(const std::string& name)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        for (const PulseSinkInput& input : PulseContext::Instance().Refresh().sinkInputs)
            if (input.appName == name)
                return true;
        SleepMs(20);
    }
    return false;
}

class ProgramSoundTest : public SoundServerTest {};

TEST_F(ProgramSoundTest, RecordsTheChosenProgramOnlyAndFollowsItsRestart)
{
    TestEnv env;
    const std::string folder = env.MakeFolder("out").toStdString();
    std::unique_ptr<Process> chosen = PlayAs("tamsu-test-chosen", 440);
    const std::unique_ptr<Process> other = PlayAs("tamsu-test-other", 1000);
    ASSERT_TRUE(chosen && other && Listed("tamsu-test-chosen") && Listed("tamsu-test-other"));

    RecordingPlan plan = MakePlan(folder, "wav", kSystemSound);
    plan.programs.only = "tamsu-test-chosen";
    SecondsLog owner;
    {
        AudioRecorder rec(&owner);
        ASSERT_EQ(rec.Open(plan), 0);
        rec.Run();
        SleepMs(2000);
        chosen.reset(); // its stream ends ...
        chosen = PlayAs("tamsu-test-chosen", 440); // ... and a new one begins
        ASSERT_TRUE(chosen);
        SleepMs(2000);
        rec.Stop();
    }
    DecodedAudio a;
    ASSERT_TRUE(DecodeAudioFile(folder + "/rec.wav", a));
    const auto db = [&a](double freq, double from, double to) {
        return 10 * std::log10(TonePower(a.left, a.sampleRate, freq, a.IndexAt(from), a.IndexAt(to)) + 1e-20);
    };
    const double chosenDb = db(440, 0.3, a.Seconds() - 0.1);
    EXPECT_GT(chosenDb - db(1000, 0.3, a.Seconds() - 0.1), 40);
    // Around the restart at most 0.5 s of the chosen program is missing (0.1 s pieces).
    int missing = 0;
    for (double t = 1.5; t < 3.5; t += 0.1)
        missing += db(440, t, t + 0.1) < chosenDb - 20;
    EXPECT_LE(missing, 5);
    EXPECT_GT(db(440, a.Seconds() - 1, a.Seconds() - 0.1), chosenDb - 3); // it is back in full
}

} // namespace
