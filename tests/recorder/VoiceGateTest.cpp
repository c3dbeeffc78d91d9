// Voice activation's gate on a level track: what of a take reaches the file, for the threshold,
// the attack (short dips bridged), the pre-roll, quiet stretches shorter and longer than the silence time (hangover and
// resume), and the end of the recording. (The levels of real samples: the sound test.)

#include "VoiceGate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <utility>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kFrame = 1152; // an MP3 frame
constexpr double kFrameSeconds = static_cast<double>(kFrame) / kRate;
constexpr double kQuiet = -200; // digital silence
constexpr double kVoice = -20;

struct Stretch {
    double seconds;
    double levelDb;
};
using Spans = std::vector<std::pair<double, double>>; // start and end, seconds of the take

// Runs the take through the gate as the encode thread does (frames queued, dropped and written in
// order) and returns the stretches of the take that were written, joined where they touch.
Spans Written(const std::vector<Stretch>& take, const VoiceGate::Settings& settings)
{
    VoiceGate gate(settings, kRate);
    std::deque<int64_t> queued; // start sample of each queued frame
    Spans written;
    auto apply = [&](VoiceGate::Verdict v) {
        for (; v.drop > 0; --v.drop)
            queued.pop_front();
        for (; v.write > 0; --v.write) {
            const double start = static_cast<double>(queued.front()) / kRate;
            queued.pop_front();
            if (!written.empty() && std::abs(written.back().second - start) < 1e-9)
                written.back().second = start + kFrameSeconds;
            else
                written.push_back({start, start + kFrameSeconds});
        }
    };
    int64_t at = 0;
    double end = 0;
    for (const Stretch& s : take) {
        end += s.seconds;
        for (; static_cast<double>(at + kFrame) <= end * kRate + 0.5; at += kFrame) {
            queued.push_back(at);
            apply(gate.Push(kFrame, s.levelDb));
        }
    }
    apply(gate.Finish());
    EXPECT_TRUE(queued.empty());
    return written;
}

TEST(VoiceGateTest, WritesTheVoicedStretchesWithPreRollAndTail)
{
    const VoiceGate::Settings standard; // -40 dBFS, 0.2 s, 0.5 s before, 3 s of silence, 0.5 s after
    const VoiceGate::Settings shortSilence{.silenceSeconds = 1}, lowThreshold{.thresholdDb = -50};

    const struct {
        const char* name;
        std::vector<Stretch> take;
        VoiceGate::Settings settings;
        Spans want;
    } cases[] = {
        {"silence only", {{5, kQuiet}}, standard, {}},
        {"below the threshold", {{1, kQuiet}, {3, -45}, {1, kQuiet}}, standard, {}},
        {"a lower threshold hears it", {{1, kQuiet}, {3, -45}, {1, kQuiet}}, lowThreshold, {{0.5, 4.5}}},
        {"shorter than the attack", {{1, kQuiet}, {0.15, kVoice}, {2, kQuiet}}, standard, {}},
        {"clicks apart do not add up", {{1, kQuiet}, {0.1, kVoice}, {0.15, kQuiet}, {0.1, kVoice}, {2, kQuiet}}, standard, {}},
        {"syllables with short dips between", {{1, kQuiet}, {0.12, kVoice}, {0.05, kQuiet}, {0.12, kVoice}, {4, kQuiet}},
         standard, {{0.5, 1.79}}},
        // The take: 2 s silence, 3 s voice, 4 s silence, 2 s voice, then 1 s until the stop.
        {"two voiced stretches", {{2, kQuiet}, {3, kVoice}, {4, kQuiet}, {2, kVoice}, {1, kQuiet}}, standard,
         {{1.5, 5.5}, {8.5, 11.5}}},
        {"a pause shorter than the silence is kept", {{1, kQuiet}, {2, kVoice}, {2.5, kQuiet}, {1, kVoice}, {5, kQuiet}},
         standard, {{0.5, 7}}},
        {"a shorter silence time splits it", {{1, kQuiet}, {2, kVoice}, {1.5, kQuiet}, {1, kVoice}, {0.2, kQuiet}},
         shortSilence, {{0.5, 3.5}, {4, 5.7}}},
        {"sound from the start", {{1, kVoice}, {4, kQuiet}}, standard, {{0, 1.5}}},
    };
    for (const auto& c : cases) {
        const Spans got = Written(c.take, c.settings);
        ASSERT_EQ(got.size(), c.want.size()) << c.name;
        for (size_t i = 0; i < got.size(); ++i) {
            // Whole frames: each edge within a frame (and the pre-roll's rounding) of the ideal.
            EXPECT_NEAR(got[i].first, c.want[i].first, 2 * kFrameSeconds) << c.name << " span " << i;
            EXPECT_LE(got[i].first, c.want[i].first + 1e-9) << c.name << ": the pre-roll is cut";
            EXPECT_NEAR(got[i].second, c.want[i].second, 2 * kFrameSeconds) << c.name << " span " << i;
        }
    }
}

} // namespace
