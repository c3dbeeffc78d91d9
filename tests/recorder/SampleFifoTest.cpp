// SampleFifo: where written samples land on the timeline (gaps, overlaps, late samples, overflow),
// in packed and planar layouts. (A writer and a reader on two threads: every recording from the
// sound server, also in the thread-sanitizer build.)

#include "SampleFifo.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <gtest/gtest.h>

#include <vector>

namespace {

// Sample values tell which write put them where: write w at position p holds (w + 1) * 1e6 + p
// (negated in the second channel); silence is 0.
int32_t Value(int write, int64_t pos)
{
    return static_cast<int32_t>((write + 1) * 1'000'000 + pos);
}

struct Span {
    int write; // -1: silence
    int count;
};
struct Op {
    bool read;
    int64_t pos;
    int count;
    std::vector<Span> expect; // reads only
};

Op W(int64_t pos, int count) { return {false, pos, count, {}}; }
Op R(int64_t pos, int count, std::vector<Span> expect) { return {true, pos, count, std::move(expect)}; }

} // namespace

TEST(SampleFifo, SamplesLandWhereTheyWereCaptured)
{
    const std::pair<const char*, std::vector<Op>> cases[] = {
        {"gap read as silence", {W(0, 50), W(70, 30), R(0, 100, {{0, 50}, {-1, 20}, {1, 30}})}},
        {"overlap head dropped", {W(0, 50), W(30, 40), R(0, 70, {{0, 50}, {1, 20}})}},
        {"late samples dropped",
         {W(0, 50), R(0, 50, {{0, 50}}), W(30, 40), W(10, 20), R(50, 30, {{1, 20}, {-1, 10}})}},
        {"read ahead of the writer", {R(0, 40, {{-1, 40}}), W(20, 40), R(40, 30, {{0, 20}, {-1, 10}})}},
        {"overflow drops the oldest", {W(0, 80), W(80, 60), R(0, 140, {{-1, 40}, {0, 40}, {1, 60}})}},
        {"block larger than the FIFO keeps its end", {W(0, 250), R(0, 250, {{-1, 150}, {0, 100}})}},
        {"gap longer than the FIFO", {W(0, 50), W(1000, 30), R(0, 1030, {{-1, 1000}, {1, 30}})}},
        {"silence of a gap overflows",
         {W(0, 60), W(120, 30), R(0, 150, {{-1, 50}, {0, 10}, {-1, 60}, {1, 30}})}},
    };
    constexpr int kCapacity = 100;
    constexpr int kOffset = 3; // reads land this far into the buffer
    for (const AVSampleFormat format : {AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P}) {
        const bool planar = format == AV_SAMPLE_FMT_S32P;
        for (const auto& [name, ops] : cases) {
            SCOPED_TRACE(std::string(name) + (planar ? " (planar)" : " (packed)"));
            SampleFifo fifo(format, 2, kCapacity);
            EXPECT_EQ(fifo.EndPos(), SampleFifo::kNoPosition);
            int writes = 0;
            for (const Op& op : ops) {
                // Channel ch of sample i at plane/index: planar plane ch index i, packed plane 0 index 2i+ch.
                std::vector<int32_t> buf(static_cast<size_t>(2 * (op.count + kOffset)), 7);
                int32_t* l = buf.data();
                int32_t* r = planar ? buf.data() + op.count + kOffset : nullptr;
                auto at = [&](int ch, int i) -> int32_t& {
                    return planar ? (ch ? r : l)[i] : l[2 * i + ch];
                };
                uint8_t* planes[2] = {reinterpret_cast<uint8_t*>(l), reinterpret_cast<uint8_t*>(r)};
                if (!op.read) {
                    for (int i = 0; i < op.count; ++i) {
                        at(0, i) = Value(writes, op.pos + i);
                        at(1, i) = -Value(writes, op.pos + i);
                    }
                    fifo.Write(planes, op.count, op.pos);
                    ++writes;
                    continue;
                }
                fifo.Read(planes, kOffset, op.count, op.pos);
                int i = 0;
                for (const Span& run : op.expect) {
                    for (int k = 0; k < run.count; ++k, ++i) {
                        const int32_t want = run.write < 0 ? 0 : Value(run.write, op.pos + i);
                        ASSERT_EQ(at(0, kOffset + i), want) << "position " << op.pos + i;
                        ASSERT_EQ(at(1, kOffset + i), -want) << "position " << op.pos + i;
                    }
                }
                ASSERT_EQ(i, op.count);
                EXPECT_EQ(at(0, 0), 7) << "wrote before the offset";
            }
        }
    }
}
