#pragma once
// CaptureClock: when a stream's first sample was captured, from what the sound server says about it.
//
// Every report is an upper bound on that moment: "n samples had been captured by time t" (a packet
// that arrived, or the server's own count of what it wrote into the stream at the time of its
// timing report) means the first sample was captured no later than t - n / rate. Reports delayed
// by a busy machine or by the server's processing blocks only raise their bound, so the truth is
// the lowest bounds, and it moves only when the device's clock runs at another rate than the
// system's.
//
// The clock keeps the lowest bound of every second (a bucket) over the last minute. The lowest
// bounds of the first, middle and last third of them lie on one line when the device's clock runs
// at another rate than the system's: that line's slope is the clock difference and its height
// where the stream's start lies. Bounds above the lowest (a disturbance, a late packet burst)
// never move it; only a bound below it does. Over less than kMinDriftSpanNs, or while the three
// do not lie on one line (the bounds bend), there is no measured clock difference: two sources of one server share its clock, and a slope from a few seconds of
// bounds, or from a server whose delivery settles after a stream joined, would be noise.
//
// Thread-safety: none; the capture worker owns it.

#include <cstddef>
#include <cstdint>
#include <vector>

class CaptureClock {
public:
    static constexpr int64_t kBucketNs = 1'000'000'000;
    // Slopes are measured over at least this span of buckets.
    static constexpr int64_t kMinDriftSpanNs = 8'000'000'000;
    // At most this many buckets are kept (a minute: long enough for a slope good to a few ppm).
    static constexpr size_t kMaxBuckets = 60;
    // RecentLowest looks at the open bucket and this many closed ones.
    static constexpr size_t kRecentBuckets = 2;
    // No device clock is this far off (good ones are within 50 ppm, poor ones 200): a steeper
    // slope is something else.
    static constexpr double kMaxDriftPpm = 300;
    // Slopes of one clock measured over different parts of the span agree this closely (or to a
    // quarter of the slope): the lowest bound of a third of the span is good to a fraction of a
    // millisecond, 30 ppm over ten seconds.
    static constexpr double kSlopeAgreementPpm = 30;
    // The lowest bounds scatter by up to about a millisecond: a line that moved less than this
    // over its span is no measured clock difference (200 ppm shows after 7.5 s, 20 ppm after 75 s).
    static constexpr double kMinMoveNs = 1.5e6;

    void Reset();
    // A bound on the stream's start, known at time atNs.
    void Add(int64_t atNs, int64_t startBoundNs);

    bool Empty() const { return buckets_.empty() && !open_; }
    // Where the stream's start lies as seen at time atNs (the hull line there; before a slope is
    // known, the lowest bound so far).
    int64_t StartAt(int64_t atNs) const;
    // The device's clock against the system's, in parts per million of the stream's sample
    // period (> 0: the start bound rises, the device runs slow). 0 until kMinDriftSpanNs.
    double DriftPpm() const { return slopePpm_; }
    // The lowest bound seen since the last Reset.
    int64_t LowestBound() const { return lowest_; }
    // The lowest bound of the last few seconds (a stream that jumped shows here at once).
    int64_t RecentLowest() const;

private:
    struct Point {
        int64_t at;    // time of the bucket's lowest bound
        int64_t bound; // the bound
    };
    void Close(); // moves the open bucket into buckets_ and refits
    void Fit();

    std::vector<Point> buckets_;
    bool open_ = false;
    int64_t openSince_ = 0;
    Point openMin_{};
    int64_t lowest_ = INT64_MAX;
    // The fitted line: bound = lineBound_ + slope * (t - lineAt_).
    bool fitted_ = false;
    int64_t lineAt_ = 0;
    int64_t lineBound_ = 0;
    double slopePpm_ = 0;
};
