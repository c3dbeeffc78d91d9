// TakeTimeline: which positions become frames of the file (pauses, the end at Stop) and when a
// frame is made (sources that hold their samples, late sources). (The clock alone, without
// sources: RecorderSyntheticTest's silent mode.)

#include "TakeTimeline.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kFrame = 1000;
constexpr int64_t kAllowance = 400;

// Two sources whose samples tell their position: +(pos + 1) in the first, -(pos + 1) in the second.
struct TwoSources {
    SampleFifo a{AV_SAMPLE_FMT_S32, 1, 100'000};
    SampleFifo b{AV_SAMPLE_FMT_S32, 1, 100'000};
    TakeTimeline timeline{kFrame};
    std::vector<int32_t> outA = std::vector<int32_t>(kFrame), outB = std::vector<int32_t>(kFrame);
    uint8_t* planeA[1] = {reinterpret_cast<uint8_t*>(outA.data())};
    uint8_t* planeB[1] = {reinterpret_cast<uint8_t*>(outB.data())};
    std::vector<uint8_t* const*> buffers{planeA, planeB};

    TwoSources()
    {
        timeline.AddSource(&a, kAllowance);
        timeline.AddSource(&b, kAllowance);
    }
    static void Fill(SampleFifo& fifo, int64_t from, int64_t to, int sign)
    {
        std::vector<int32_t> v;
        for (int64_t p = from; p < to; ++p)
            v.push_back(static_cast<int32_t>(sign * (p + 1)));
        uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(v.data())};
        fifo.Write(planes, static_cast<int>(v.size()), from);
    }
};

} // namespace

TEST(TakeTimeline, PausesAreLeftOutAndStopEndsAtAWholeFrame)
{
    struct Case {
        const char* name;
        int64_t resumeAt; // -1: stopped while paused
        int64_t stopAt;
        std::vector<std::pair<int64_t, int64_t>> file; // the positions the file holds
    } cases[] = {
        {"stop inside a frame", 6000, 8000, {{1000, 3500}, {6000, 8500}}},
        {"stop at a frame's end", 6000, 8500, {{1000, 3500}, {6000, 8500}}},
        {"stop while paused", -1, 5000, {{1000, 4000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TwoSources s;
        TwoSources::Fill(s.a, 0, 20'000, 1);
        TwoSources::Fill(s.b, 0, 20'000, -1);
        s.timeline.Run(1000);
        s.timeline.Pause(3500);
        if (c.resumeAt >= 0)
            s.timeline.Run(c.resumeAt);
        s.timeline.Stop(c.stopAt);
        std::vector<int64_t> want;
        for (const auto& [from, to] : c.file)
            for (int64_t p = from; p < to; ++p)
                want.push_back(p + 1);
        size_t at = 0;
        int made = 0;
        while ((made = s.timeline.NextFrame(20'000, s.buffers)) > 0) {
            ASSERT_EQ(made, kFrame);
            for (int i = 0; i < made; ++i, ++at) {
                ASSERT_LT(at, want.size());
                ASSERT_EQ(s.outA[i], want[at]) << "file sample " << at;
                ASSERT_EQ(s.outB[i], -want[at]) << "file sample " << at;
            }
        }
        EXPECT_EQ(made, -1);
        EXPECT_EQ(at, want.size());
        EXPECT_EQ(s.timeline.Produced(), static_cast<int64_t>(want.size()));
    }
}

TEST(TakeTimeline, ASourceWithoutSamplesIsSilenceOnlyAfterItsAllowance)
{
    TwoSources s;
    TwoSources::Fill(s.a, 0, 20'000, 1);
    s.timeline.Run(0);
    EXPECT_EQ(s.timeline.ReadyAt(), kFrame + kAllowance);
    EXPECT_EQ(s.timeline.NextFrame(kFrame + kAllowance - 1, s.buffers), 0);
    ASSERT_EQ(s.timeline.NextFrame(kFrame + kAllowance, s.buffers), kFrame);
    EXPECT_EQ(s.outA[0], 1);
    EXPECT_EQ(s.outB[0], 0);
    // Once it delivers, a frame waits no longer than its samples.
    TwoSources::Fill(s.b, 1000, 3000, -1);
    ASSERT_EQ(s.timeline.NextFrame(2000, s.buffers), kFrame);
    EXPECT_EQ(s.outA[0], 1001);
    EXPECT_EQ(s.outB[0], -1001);
}
