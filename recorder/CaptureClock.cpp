#include "CaptureClock.h"

#include <algorithm>
#include <cmath>

void CaptureClock::Reset()
{
    buckets_.clear();
    open_ = false;
    lowest_ = INT64_MAX;
    fitted_ = false;
    slopePpm_ = 0;
}

void CaptureClock::Add(int64_t atNs, int64_t startBoundNs)
{
    lowest_ = std::min(lowest_, startBoundNs);
    if (open_ && atNs - openSince_ >= kBucketNs)
        Close();
    if (!open_) {
        open_ = true;
        openSince_ = atNs;
        openMin_ = {atNs, startBoundNs};
    } else if (startBoundNs < openMin_.bound) {
        openMin_ = {atNs, startBoundNs};
    }
}

void CaptureClock::Close()
{
    open_ = false;
    buckets_.push_back(openMin_);
    if (buckets_.size() > kMaxBuckets)
        buckets_.erase(buckets_.begin());
    Fit();
}

void CaptureClock::Fit()
{
    // A line found before stays until a better one replaces it: the evidence of a clock difference
    // does not go away because the last seconds were noisy.
    if (buckets_.size() < 6 || buckets_.back().at - buckets_.front().at < kMinDriftSpanNs)
        return;
    // The lowest bound of each third of the buckets: where the stream's start lies, then, at best.
    const size_t third = buckets_.size() / 3;
    auto lowest = [&](size_t from, size_t to) {
        return *std::min_element(buckets_.begin() + static_cast<std::ptrdiff_t>(from),
                                 buckets_.begin() + static_cast<std::ptrdiff_t>(to),
                                 [](const Point& a, const Point& b) { return a.bound < b.bound; });
    };
    const Point a = lowest(0, third);
    const Point b = lowest(third, buckets_.size() - third);
    const Point c = lowest(buckets_.size() - third, buckets_.size());
    auto slope = [](const Point& from, const Point& to) {
        return to.at == from.at ? 0.0
                                : static_cast<double>(to.bound - from.bound) * 1e6 / static_cast<double>(to.at - from.at);
    };
    const double early = slope(a, b), late = slope(b, c), whole = slope(a, c);
    // A clock runs at a steady rate: the first two thirds and the last two must agree. Bounds that
    // rise or fall for another reason (a sink that renders ahead by less and less after a stream
    // joined it) bend the line instead, and a bend is no clock difference.
    const double tolerance = std::max(kSlopeAgreementPpm, std::fabs(whole) / 4);
    // And only a line that moved by more than the bounds' own noise over the span says anything.
    const bool moved = std::fabs(whole) * 1e-6 * static_cast<double>(c.at - a.at) > kMinMoveNs;
    if (!moved || std::fabs(whole) > kMaxDriftPpm || std::fabs(early - late) > tolerance)
        return;
    fitted_ = true;
    lineAt_ = b.at;
    lineBound_ = b.bound;
    slopePpm_ = whole;
}

int64_t CaptureClock::RecentLowest() const
{
    int64_t lowest = open_ ? openMin_.bound : INT64_MAX;
    for (size_t i = buckets_.size() > kRecentBuckets ? buckets_.size() - kRecentBuckets : 0; i < buckets_.size(); ++i)
        lowest = std::min(lowest, buckets_[i].bound);
    return lowest;
}

int64_t CaptureClock::StartAt(int64_t atNs) const
{
    if (!fitted_)
        return lowest_;
    return lineBound_ + static_cast<int64_t>(slopePpm_ * 1e-6 * static_cast<double>(atNs - lineAt_));
}
