// The microphone's voice-processing stage: 10 ms units with carry-over and the failure rules of the
// two components. (What suppression and gain control do to a voice, each switched on alone and
// with its units walked as here: RecorderVoiceSoundTest.)

#include "VoiceProcessor.h"

#include <gtest/gtest.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kUnit = VoiceProcessor::kChunkSamples;
constexpr int kRate = VoiceProcessor::kSampleRate;

// A ramp that wraps, so every sample's position can be read back from its value.
std::vector<int16_t> Ramp(size_t count)
{
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<int16_t>(i % 30011);
    return out;
}

// A stage whose components pass units unchanged and fail on chosen calls.
class FailingVoiceProcessor : public VoiceProcessor {
public:
    std::vector<bool> noiseFails; // by call number; calls beyond the list succeed
    std::vector<bool> gainFails;
    bool gainAlwaysFails = false;

protected:
    int SuppressNoise(webrtc::AudioFrame&) override { return Fails(noiseFails, noiseCalls_++) ? -1 : 0; }
    int ControlGain(webrtc::AudioFrame&) override
    {
        return gainAlwaysFails || Fails(gainFails, gainCalls_++) ? -1 : 0;
    }

private:
    static bool Fails(const std::vector<bool>& plan, size_t call) { return call < plan.size() && plan[call]; }
    size_t noiseCalls_ = 0;
    size_t gainCalls_ = 0;
};

// Units come out whole, in order and as soon as they are complete, whatever the packet sizes (odd,
// empty, far larger than the accumulation buffer). A unit whose noise suppression fails yields
// nothing, silently. A failed gain control step ends the walk; the failed unit and the rest of the
// packet are kept for the next call, so no audio is lost; inside a packet larger than the
// accumulation buffer what waits never exceeds the buffer (the newest samples that do not fit are
// dropped, the oldest kept).
TEST(VoiceProcessor, WalkAndFailureRules)
{
    const size_t cap = VoiceProcessor::kAccumulationSamples;
    const struct {
        const char* name;
        std::vector<bool> noiseFails, gainFails;
        bool gainAlwaysFails;
        std::vector<size_t> packets;
        std::vector<size_t> units; // the input's units that come out (when nothing fails: all)
        size_t pending;
        size_t rest;      // fed once the components work again
        size_t recovered; // then the output: this much of the input, in order (0: not checked)
        size_t dropped;   // of the input, as it did not fit
    } cases[] = {
        {"nothing fails", {}, {}, false,
         {1, 319, 320, 321, 0, 639, 5 * kRate + 7, 64000, 64001, 1000, 3 * 64000 + 5, 17}, {}, 0, 0, 0, 0},
        {"noise suppression fails", {false, true, false, false}, {}, false, {4 * kUnit + 10}, {0, 2, 3}, 10, 0, 0, 0},
        {"gain control fails", {}, {false, false, true}, false, {5 * kUnit + 10}, {0, 1}, 3 * kUnit + 10,
         700, 7 * kUnit, 0},
        {"gain control always fails", {}, {}, true, {size_t(kRate), 2 * size_t(kRate)}, {},
         cap, 0, cap, 3 * size_t(kRate) - cap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int16_t> input =
            Ramp(std::accumulate(c.packets.begin(), c.packets.end(), c.rest));
        FailingVoiceProcessor vp;
        vp.noiseFails = c.noiseFails;
        vp.gainFails = c.gainFails;
        vp.gainAlwaysFails = c.gainAlwaysFails;
        ASSERT_EQ(vp.Init(true, true, 20), 0);
        const bool failing = !c.noiseFails.empty() || !c.gainFails.empty() || c.gainAlwaysFails;
        std::vector<int16_t> out;
        size_t fed = 0;
        for (const size_t n : c.packets) {
            vp.Process(input.data() + fed, n, out);
            fed += n;
            ASSERT_TRUE(failing || out.size() == fed / kUnit * kUnit) << "after " << fed << " samples";
        }
        std::vector<int16_t> units(input.begin(), input.begin() + (failing ? 0 : fed / kUnit * kUnit));
        for (const size_t u : c.units)
            units.insert(units.end(), input.begin() + u * kUnit, input.begin() + (u + 1) * kUnit);
        EXPECT_EQ(out, units);
        EXPECT_EQ(vp.PendingSamples(), failing ? c.pending : fed % kUnit);
        if (c.recovered == 0)
            continue;
        vp.gainAlwaysFails = false;
        vp.Process(input.data() + fed, c.rest, out);
        ASSERT_EQ(out.size(), c.recovered);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
        EXPECT_EQ(vp.PendingSamples(), input.size() - c.dropped - c.recovered);
    }
}

} // namespace

// Our own entry point: the WebRTC library carries a main() of its own that would otherwise be
// linked in place of GoogleTest's.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
