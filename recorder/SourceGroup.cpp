#include "SourceGroup.h"

#include <glog/logging.h>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// A lane's FIFO: the group mixes within a packet or two of its arrival, so two seconds is plenty.
constexpr int kLaneSeconds = 2;
// Samples summed per step (one small buffer per plane).
constexpr int kChunk = 4096;

// A lane's level is not measured: the group measures what it mixes.
CaptureSource::Options Unmeasured(CaptureSource::Options options)
{
    options.measurePeak = false;
    return options;
}

} // namespace

struct SourceGroup::Lane {
    Lane(const CaptureSource::Options& options, int64_t joinedPos)
        : fifo(options.outFormat, options.outChannels, options.outRate * kLaneSeconds), source(Unmeasured(options), fifo),
          joinedPos(joinedPos)
    {
    }
    SampleFifo fifo;
    CaptureSource source;
    int64_t joinedPos;
    float gain = 1;
    bool left = false;
    bool limiting = true; // the group's lock_: its samples were the last mix's limit (or it is new)
    int64_t end = SampleFifo::kNoPosition; // the group's lock_: its FIFO's end at the last mix
};

SourceGroup::SourceGroup(const CaptureSource::Options& options, SampleFifo& out, std::function<int64_t()> nowNs)
    : options_(options), out_(out), nowNs_(std::move(nowNs)),
      lag_(av_rescale(kLagNs, options.outRate, 1'000'000'000)),
      joinWait_(av_rescale(kJoinWaitNs, options.outRate, 1'000'000'000)),
      allowance_(av_rescale(CaptureSource::kGapNs, options.outRate, 1'000'000'000))
{
    const auto format = static_cast<AVSampleFormat>(options_.outFormat);
    const size_t planes = av_sample_fmt_is_planar(format) ? options_.outChannels : 1;
    const size_t bytes = static_cast<size_t>(kChunk) * av_get_bytes_per_sample(format) *
                         (av_sample_fmt_is_planar(format) ? 1 : options_.outChannels);
    sum_.assign(planes, std::vector<uint8_t>(bytes));
    part_.assign(planes, std::vector<uint8_t>(bytes));
}

SourceGroup::~SourceGroup() = default;

int64_t SourceGroup::ToPos(int64_t ns) const
{
    return av_rescale(ns - options_.epochNs, options_.outRate, 1'000'000'000);
}

CaptureSource& SourceGroup::Join(uint32_t id)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::unique_ptr<Lane>& lane = lanes_[id];
    if (!lane || lane->left) {
        // A lane of that id that left is replaced: its worker is gone, nothing writes into it.
        lane = std::make_unique<Lane>(options_, ToPos(nowNs_()));
        lane->fifo.SetDataCallback([this, written = lane.get()] { Mix(*written); });
    }
    return lane->source;
}

void SourceGroup::Leave(uint32_t id)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (auto it = lanes_.find(id); it != lanes_.end())
        it->second->left = true;
    MixLocked(); // frees it when nothing of it waits to be mixed
}

void SourceGroup::SetGain(uint32_t id, float gain)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (auto it = lanes_.find(id); it != lanes_.end())
        it->second->gain = std::clamp(gain, 0.0f, 1.0f);
}

size_t SourceGroup::Lanes() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return lanes_.size();
}

float SourceGroup::TakePeak()
{
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(peak_, 0.0f);
}

void SourceGroup::Mix(const Lane& written)
{
    std::lock_guard<std::mutex> guard(lock_);
    // A program's streams bring a few hundred packets a second between them, and each mix looks
    // at every lane. A lane that did not hold the last mix back cannot move it on (only time can:
    // a lane that falls behind is no longer waited for), so it looks every kMixPeriodNs; one that
    // did, every kMinMixGapNs.
    if (nowNs_() - lastMixNs_ < (written.limiting ? kMinMixGapNs : kMixPeriodNs))
        return;
    MixLocked();
}

void SourceGroup::MixLocked()
{
    lastMixNs_ = nowNs_();
    const int64_t now = ToPos(lastMixNs_);
    // How far every lane that keeps up has delivered; without such a lane, all that is held.
    int64_t limit = INT64_MAX;
    int64_t held = SampleFifo::kNoPosition;
    for (auto& [id, lane] : lanes_) {
        const int64_t end = lane->end = lane->fifo.EndPos();
        held = std::max(held, end);
        if (lane->left)
            continue;
        if (end == SampleFifo::kNoPosition ? now - lane->joinedPos < joinWait_ : now - end < lag_)
            limit = std::min(limit, end == SampleFifo::kNoPosition ? mixedEnd_ : end);
    }
    if (limit == INT64_MAX)
        limit = held;
    for (auto& [id, lane] : lanes_)
        lane->limiting = lane->end == SampleFifo::kNoPosition || lane->end <= limit;
    // Nothing older than the recording's allowance is of use: the file has passed it.
    const int64_t from = limit == SampleFifo::kNoPosition
        ? limit
        : std::max(mixedEnd_, limit - allowance_);
    if (from < limit) {
        const auto format = static_cast<AVSampleFormat>(options_.outFormat);
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        std::vector<uint8_t*> sum, part;
        for (size_t p = 0; p < sum_.size(); ++p) {
            sum.push_back(sum_[p].data());
            part.push_back(part_[p].data());
        }
        for (int64_t pos = from; pos < limit;) {
            const int count = static_cast<int>(std::min<int64_t>(kChunk, limit - pos));
            const int values = count * (planar ? 1 : options_.outChannels);
            av_samples_set_silence(sum.data(), 0, count, options_.outChannels, format);
            for (auto& [id, lane] : lanes_) {
                if (lane->fifo.Read(part.data(), 0, count, pos) == 0 || lane->gain == 0)
                    continue; // nothing of it here, or muted
                const float gain = lane->gain;
                const bool whole = gain == 1;
                for (size_t p = 0; p < sum.size(); ++p) {
                    if (format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_FLT) {
                        auto* s = reinterpret_cast<float*>(sum[p]);
                        const auto* a = reinterpret_cast<const float*>(part[p]);
                        for (int i = 0; i < values; ++i)
                            s[i] += a[i] * gain;
                    } else if (whole) { // a loop of saturating additions
                        auto* s = reinterpret_cast<int16_t*>(sum[p]);
                        const auto* a = reinterpret_cast<const int16_t*>(part[p]);
                        for (int i = 0; i < values; ++i)
                            s[i] = static_cast<int16_t>(std::clamp(s[i] + a[i], -32768, 32767));
                    } else {
                        auto* s = reinterpret_cast<int16_t*>(sum[p]);
                        const auto* a = reinterpret_cast<const int16_t*>(part[p]);
                        for (int i = 0; i < values; ++i)
                            s[i] = static_cast<int16_t>(
                                std::clamp(s[i] + static_cast<int>(std::lrint(a[i] * gain)), -32768, 32767));
                    }
                }
            }
            peak_ = std::max(peak_, CaptureSource::SamplePeak(sum.data(), count, options_.outFormat, options_.outChannels));
            out_.Write(sum.data(), count, pos);
            pos += count;
        }
        mixedEnd_ = limit;
    }
    // Lanes that left and hold nothing more to mix go.
    for (auto it = lanes_.begin(); it != lanes_.end();) {
        const int64_t end = it->second->fifo.EndPos();
        if (it->second->left && (end == SampleFifo::kNoPosition || end <= mixedEnd_)) {
            it = lanes_.erase(it);
        } else {
            ++it;
        }
    }
}
