#include "SyntheticDevice.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// How far past the first sample of a click above the threshold its peak is looked for: a resampled
// click spreads over a few samples.
constexpr int kPeakSearch = 16;

} // namespace

SyntheticDevice::SyntheticDevice(const SyntheticDeviceSpec& spec, int64_t startNs)
    : spec_(spec), dtNs_(1e9 / (spec.format.rate * (1 + spec.ppm * 1e-6))), timeNs_(static_cast<double>(startNs)),
      random_(spec.seed)
{
}

SyntheticDevice::Packet& SyntheticDevice::Peek()
{
    if (pending_)
        return next_;
    if (timeNs_ >= spec_.suspendFromNs && timeNs_ < spec_.suspendToNs)
        timeNs_ = static_cast<double>(spec_.suspendToNs);
    const int n = spec_.packetFrames;
    const int channels = spec_.format.channels;
    const auto format = static_cast<AVSampleFormat>(spec_.format.sampleFormat);
    const int bytes = av_get_bytes_per_sample(format);
    next_.frames = n;
    next_.data.assign(static_cast<size_t>(n) * channels * bytes, 0);
    nextClicks_.clear();
    const int16_t s16 = static_cast<int16_t>(spec_.clickLevel * 32767);
    const int32_t s32 = static_cast<int32_t>(spec_.clickLevel * 2147483647.0);
    const void* click = format == AV_SAMPLE_FMT_S16 ? static_cast<const void*>(&s16)
                        : format == AV_SAMPLE_FMT_S32 ? static_cast<const void*>(&s32) : &spec_.clickLevel;
    const double first = timeNs_ - dtNs_ / 2;
    const double firstClick = std::ceil((first - spec_.clickOriginNs) / spec_.clickPeriodNs);
    int64_t k = std::max<int64_t>(0, static_cast<int64_t>(firstClick));
    for (;; ++k) {
        const int64_t t = spec_.clickOriginNs + k * spec_.clickPeriodNs;
        const auto at = static_cast<int64_t>(std::llround((t - timeNs_) / dtNs_));
        if (at >= n)
            break;
        if (at < 0)
            continue;
        nextClicks_.push_back(t);
        for (int c = 0; c < channels; ++c)
            std::memcpy(next_.data.data() + (static_cast<size_t>(at) * channels + c) * bytes, click, bytes);
    }
    std::uniform_int_distribution<int64_t> delay(0, spec_.jitterNs);
    timeNs_ += n * dtNs_;
    next_.endNs = timeNs_;
    int64_t arrival = static_cast<int64_t>(timeNs_) + spec_.latencyNs + delay(random_);
    if (arrival >= spec_.holdFromNs && arrival < spec_.holdToNs)
        arrival = spec_.holdToNs;
    arrival = std::max(arrival, lastArrival_);
    lastArrival_ = arrival;
    next_.arrivalNs = arrival;
    pending_ = true;
    return next_;
}

SyntheticDevice::Packet SyntheticDevice::Take()
{
    Peek();
    pending_ = false;
    takenFrames_ += next_.frames;
    takenEndNs_ = next_.endNs;
    clicks_.insert(clicks_.end(), nextClicks_.begin(), nextClicks_.end());
    return std::move(next_);
}

int64_t SyntheticDevice::WrittenBy(int64_t atNs) const
{
    const double since = static_cast<double>(atNs - spec_.latencyNs) - takenEndNs_;
    const int64_t written = takenFrames_ + std::max<int64_t>(0, static_cast<int64_t>(since / dtNs_));
    return written / spec_.serverBlockFrames * spec_.serverBlockFrames;
}

void FindClicks(const float* s, size_t n, int64_t first, float threshold, int spacing, std::vector<int64_t>& clicks)
{
    for (size_t i = 0; i < n; ++i) {
        const int64_t pos = first + static_cast<int64_t>(i);
        if (std::fabs(s[i]) < threshold || (!clicks.empty() && pos < clicks.back() + spacing))
            continue;
        size_t best = i;
        for (size_t j = i; j < n && j < i + kPeakSearch; ++j)
            if (std::fabs(s[j]) > std::fabs(s[best]))
                best = j;
        clicks.push_back(first + static_cast<int64_t>(best));
        i = best;
    }
}

ClickMatch MatchClicks(const std::vector<int64_t>& found, const std::vector<int64_t>& expected, int64_t tol,
                       int64_t from, int64_t to)
{
    // Distance from p to the nearest of the sorted v (INT64_MAX for an empty v).
    const auto Nearest = [](const std::vector<int64_t>& v, int64_t p) {
        const auto it = std::lower_bound(v.begin(), v.end(), p);
        const int64_t after = it != v.end() ? *it - p : INT64_MAX;
        return it != v.begin() ? std::min(after, p - *(it - 1)) : after;
    };
    ClickMatch m;
    for (const int64_t e : expected) {
        if (e < from || e >= to)
            continue;
        ++m.expected;
        m.missing += Nearest(found, e) > tol;
    }
    for (const int64_t f : found) {
        if (f < from || f >= to)
            continue;
        const int64_t d = Nearest(expected, f);
        if (d > tol)
            ++m.stray;
        else
            m.worst = std::max(m.worst, d);
    }
    return m;
}
