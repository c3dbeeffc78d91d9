// SourceGroup: streams of one program joining, leaving, stalling and muted, mixed by capture time.
// Each lane plays a constant level in exactly timed 50 ms packets on a clock the test moves.

#include "SourceGroup.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kPacket = kRate / 20;
constexpr int64_t kPacketNs = 50'000'000;

struct Lane {
    float level;
    int firstPacket, lastPacket; // delivers packets [first, last)
    bool leaves;                 // Leave after its last packet (else it just stops)
    float gain = 1;
};
struct Case {
    const char* name;
    std::vector<Lane> lanes;
    double from, to;  // seconds checked
    float expected;   // the mix there
    size_t lanesLeft; // lanes not yet freed at the end
};

TEST(SourceGroupTest, MixesTheStreamsThatArePlaying)
{
    const std::vector<Case> cases = {
        {"two at once", {{0.1f, 0, 40, false}, {0.2f, 0, 40, false}}, 0.5, 1.9, 0.3f, 2},
        {"one joins late, its first packets kept", {{0.1f, 0, 40, false}, {0.2f, 20, 40, false}}, 1.02, 1.9, 0.3f, 2},
        {"one leaves", {{0.1f, 0, 20, true}, {0.2f, 0, 40, false}}, 1.05, 1.9, 0.2f, 1},
        {"one stalls, the other is not held up", {{0.1f, 0, 20, false}, {0.2f, 0, 40, false}}, 1.05, 1.6, 0.2f, 2},
        {"restarted: the old leaves, the new joins", {{0.3f, 0, 20, true}, {0.3f, 21, 40, false}}, 1.1, 1.9, 0.3f, 1},
        {"muted", {{0.1f, 0, 40, false, 0.0f}, {0.2f, 0, 40, false}}, 0.5, 1.9, 0.2f, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int64_t now = 0;
        SampleFifo out(AV_SAMPLE_FMT_FLTP, 2, kRate * 6);
        SourceGroup group({.outFormat = AV_SAMPLE_FMT_FLTP}, out, [&now] { return now; });
        for (int packet = 0; packet <= 40; ++packet) {
            now = packet * kPacketNs; // a stream joins before its first sample is captured
            for (size_t id = 0; id < c.lanes.size(); ++id)
                if (packet == c.lanes[id].firstPacket) {
                    group.Join(static_cast<uint32_t>(id)).Begin({AV_SAMPLE_FMT_FLT, kRate, 2}, 0);
                    group.SetGain(static_cast<uint32_t>(id), c.lanes[id].gain);
                }
            now += kPacketNs; // the packet's last sample was captured just now
            for (size_t id = 0; id < c.lanes.size(); ++id) {
                const Lane& lane = c.lanes[id];
                if (packet >= lane.firstPacket && packet < lane.lastPacket) {
                    const std::vector<float> samples(2 * kPacket, lane.level);
                    group.Join(static_cast<uint32_t>(id)).Deliver(samples.data(), kPacket, now);
                }
                if (packet == lane.lastPacket && lane.leaves)
                    group.Leave(static_cast<uint32_t>(id));
            }
        }
        std::vector<float> left(static_cast<size_t>((c.to - c.from) * kRate)), right(left.size());
        uint8_t* planes[] = {reinterpret_cast<uint8_t*>(left.data()), reinterpret_cast<uint8_t*>(right.data())};
        EXPECT_EQ(out.Read(planes, 0, static_cast<int>(left.size()), static_cast<int64_t>(c.from * kRate)),
                  static_cast<int>(left.size()));
        const auto off = std::find_if(left.begin(), left.end(), [&](float v) { return std::fabs(v - c.expected) >= 1e-4f; });
        EXPECT_EQ(off, left.end()) << *off << " at " << c.from + double(off - left.begin()) / kRate << " s";
        EXPECT_EQ(group.Lanes(), c.lanesLeft);
    }
}

} // namespace
