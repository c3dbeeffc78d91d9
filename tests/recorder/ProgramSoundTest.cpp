// One program's sound against the private sound server: two programs play (440 Hz and 1 kHz, told
// apart by their application names), the recorder takes the first only, and that program is
// restarted halfway through the take.

#include "RecorderSoundFixture.h"

#include "Process.h"
#include "PulseContext.h"

#include <gtest/gtest.h>

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

// A sine of amplitude 0.4 (as PlayAs plays it) at full volume: its TonePower in dB.
constexpr double kPlayedDb = -10.97;

class ProgramSoundTest : public RecorderSoundFixture {
protected:
    // Two programs play: "tamsu-test-chosen" at 440 Hz and "tamsu-test-other" at 1 kHz. Records 4 s
    // of those programs_ takes into take_ (midway() runs after 2 s).
    void RecordTwoPrograms(const std::function<void(AudioRecorder&)>& midway)
    {
        chosen_ = PlayAs("tamsu-test-chosen", 440);
        other_ = PlayAs("tamsu-test-other", 1000);
        ASSERT_TRUE(chosen_ && other_ && Listed("tamsu-test-chosen") && Listed("tamsu-test-other"));
        take_ = Record(kSystemSound, "wav", {{2000, midway}}, 2000);
    }

    std::unique_ptr<Process> chosen_, other_;
    Take take_;
    const DecodedAudio& a_ = take_.audio;
};

TEST_F(ProgramSoundTest, RecordsTheChosenProgramOnlyAndFollowsItsRestart)
{
    programs_.only = "tamsu-test-chosen";
    RecordTwoPrograms([this](AudioRecorder&) {
        chosen_.reset(); // its stream ends ...
        chosen_ = PlayAs("tamsu-test-chosen", 440); // ... and a new one begins
        EXPECT_TRUE(chosen_);
    });
    const double chosenDb = ToneDb(a_, 440, 0.3, a_.Seconds() - 0.1);
    EXPECT_GT(chosenDb - ToneDb(a_, 1000, 0.3, a_.Seconds() - 0.1), 40);
    // Around the restart at most 0.5 s of the chosen program is missing (0.1 s pieces).
    int missing = 0;
    for (double t = 1.5; t < 3.5; t += 0.1)
        missing += ToneDb(a_, 440, t, t + 0.1) < chosenDb - 20;
    EXPECT_LE(missing, 5);
    EXPECT_GT(ToneDb(a_, 440, a_.Seconds() - 1, a_.Seconds() - 0.1), chosenDb - 3); // it is back in full
}

// Every program but the excluded one, at its level; one that starts playing midway joins.
TEST_F(ProgramSoundTest, LeavesTheExcludedProgramOutAndTakesOneThatStartsLater)
{
    programs_.excluded = {"tamsu-test-other"};
    std::unique_ptr<Process> late;
    RecordTwoPrograms([&late](AudioRecorder&) {
        late = PlayAs("tamsu-test-late", 700); // returns once the server plays it
        EXPECT_TRUE(late);
    });
    const double end = a_.Seconds() - 0.1;
    EXPECT_NEAR(ToneDb(a_, 440, 0.3, end), kPlayedDb, 1.5);
    EXPECT_LT(ToneDb(a_, 1000, 0.3, end), kPlayedDb - 40);
    EXPECT_NEAR(ToneDb(a_, 700, end - 1, end), kPlayedDb, 1.5);
    double joined = 0; // the first 0.1 s piece with the late tone within 6 dB of its level
    while (joined < end && ToneDb(a_, 700, joined, joined + 0.1) < kPlayedDb - 6)
        joined += 0.1;
    EXPECT_GT(joined, 1.5) << "the late program is heard before it started";
    EXPECT_LT(joined, take_.stepsDoneAt.at(0) + 0.5); // no later than 0.5 s after it started
}

} // namespace
