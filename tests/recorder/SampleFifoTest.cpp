// SampleFifo: where written samples land on the timeline (gaps, overlaps, late samples, overflow),
// in packed and planar layouts, and a writer and a reader at the same time.

#include "SampleFifo.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <random>
#include <thread>
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
struct Case {
    const char* name;
    std::vector<Op> ops;
};

Op W(int64_t pos, int count) { return {false, pos, count, {}}; }
Op R(int64_t pos, int count, std::vector<Span> expect) { return {true, pos, count, std::move(expect)}; }

} // namespace

TEST(SampleFifo, SamplesLandWhereTheyWereCaptured)
{
    const Case cases[] = {
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
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (planar ? " (planar)" : " (packed)"));
            SampleFifo fifo(format, 2, kCapacity);
            EXPECT_EQ(fifo.EndPos(), SampleFifo::kNoPosition);
            int writes = 0;
            for (const Op& op : c.ops) {
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

// A writer (blocks of any size, with gaps) and a reader (frames) at the same time: every sample
// read is the one written at its position, or silence where nothing was.
TEST(SampleFifo, WriterAndReaderAtTheSameTime)
{
    constexpr int kCapacity = 8192;
    constexpr int kFrame = 1024;
    constexpr int64_t kTotal = 400'000;
    struct Block {
        int64_t pos;
        int count;
    };
    std::vector<Block> plan;
    std::vector<bool> written(kTotal, false);
    std::mt19937 random(7);
    for (int64_t pos = 0; pos < kTotal;) {
        if (random() % 10 == 0)
            pos += 1 + random() % 3000; // a gap
        const int count = static_cast<int>(std::min<int64_t>(1 + random() % 1500, kTotal - pos));
        if (count <= 0)
            break;
        plan.push_back({pos, count});
        for (int i = 0; i < count; ++i)
            written[static_cast<size_t>(pos + i)] = true;
        pos += count;
    }

    SampleFifo fifo(AV_SAMPLE_FMT_S32, 1, kCapacity);
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<int64_t> readTo{0};
    bool writerDone = false; // guarded by lock
    fifo.SetDataCallback([&] {
        { std::lock_guard<std::mutex> g(lock); }
        changed.notify_all();
    });

    std::thread writer([&] {
        // Writer thread: writes the plan's blocks (values: position + 1) no further than the FIFO
        // holds ahead of the reader; shares the FIFO and readTo (waits on lock/changed).
        std::vector<int32_t> buf;
        for (const Block& b : plan) {
            {
                std::unique_lock<std::mutex> g(lock);
                changed.wait(g, [&] { return b.pos + b.count - readTo.load() <= kCapacity; });
            }
            buf.resize(static_cast<size_t>(b.count));
            for (int i = 0; i < b.count; ++i)
                buf[static_cast<size_t>(i)] = static_cast<int32_t>(b.pos + i + 1);
            uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(buf.data())};
            fifo.Write(planes, b.count, b.pos);
        }
        {
            std::lock_guard<std::mutex> g(lock);
            writerDone = true;
        }
        changed.notify_all();
    });

    // Reader (this thread): frames that are complete, then the rest once the writer is done.
    int64_t wrong = 0;
    std::vector<int32_t> frame(kFrame);
    uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(frame.data())};
    for (int64_t pos = 0; pos < kTotal; pos += kFrame) {
        {
            std::unique_lock<std::mutex> g(lock);
            changed.wait(g, [&] { return writerDone || fifo.EndPos() >= pos + kFrame; });
        }
        const int n = static_cast<int>(std::min<int64_t>(kFrame, kTotal - pos));
        fifo.Read(planes, 0, n, pos);
        for (int i = 0; i < n; ++i) {
            const int64_t p = pos + i;
            wrong += frame[static_cast<size_t>(i)] != (written[static_cast<size_t>(p)] ? p + 1 : 0);
        }
        {
            std::lock_guard<std::mutex> g(lock);
            readTo = pos + n;
        }
        changed.notify_all();
    }
    writer.join();
    EXPECT_EQ(wrong, 0) << "samples read at the wrong position or lost";
}
