#include "EchoPathEstimator.h"

#include <algorithm>
#include <cmath>

namespace {

// The levels kept: a window and the lags before (or after) it.
constexpr size_t kHistory = EchoPathEstimator::kWindowBlocks + EchoPathEstimator::kMaxLagBlocks;

// Normalised correlation of a[0, n) and b[0, n); 0 when either does not change.
double Match(const double* a, const double* b, int n)
{
    double meanA = 0, meanB = 0;
    for (int i = 0; i < n; ++i) {
        meanA += a[i];
        meanB += b[i];
    }
    meanA /= n;
    meanB /= n;
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < n; ++i) {
        const double x = a[i] - meanA, y = b[i] - meanB;
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

} // namespace

EchoPathEstimator::EchoPathEstimator()
{
    reference_.reserve(kHistory + 1);
    mic_.reserve(kHistory + 1);
}

void EchoPathEstimator::Add(const int16_t* reference, const int16_t* mic, int samples)
{
    for (int i = 0; i < samples; ++i) {
        referenceSum_ += static_cast<double>(reference[i]) * reference[i];
        micSum_ += static_cast<double>(mic[i]) * mic[i];
        if (++filled_ < kBlockSamples)
            continue;
        if (reference_.empty() && referenceSum_ == 0) {
            // Nothing played yet (or the reference's first packet still on its way): the
            // history starts with the reference's first sound, which a silence ahead of it
            // would outweigh.
            referenceSum_ = micSum_ = 0;
            filled_ = 0;
            continue;
        }
        // Log levels: a loud passage weighs no more than a quiet one.
        reference_.push_back(std::log1p(referenceSum_ / kBlockSamples));
        mic_.push_back(std::log1p(micSum_ / kBlockSamples));
        if (reference_.size() > kHistory) {
            reference_.erase(reference_.begin());
            mic_.erase(mic_.begin());
        }
        referenceSum_ = micSum_ = 0;
        filled_ = 0;
    }
}

std::optional<int> EchoPathEstimator::Estimate(int earliestMs, std::optional<int> heldMs) const
{
    // The microphone's blocks against the reference's L blocks earlier (a negative L: later),
    // over a second where the history reaches that far, else over what it holds (at least half a
    // second): a path is found about half a second after the echo is first heard, however long.
    const int held = static_cast<int>(mic_.size());
    double best = kMinMatch, heldMatch = 0;
    std::optional<int> path;
    for (int lag = -std::clamp(earliestMs / kBlockMs, 0, kMaxLagBlocks); lag <= kMaxLagBlocks; ++lag) {
        const int window = std::min(kWindowBlocks, held - std::abs(lag));
        if (window < kMinWindowBlocks)
            continue;
        const int micEnd = held - std::max(-lag, 0), referenceEnd = held - std::max(lag, 0);
        // Chance matches grow as the window shrinks (one over its square root): so does the bar.
        const double m = Match(mic_.data() + (micEnd - window), reference_.data() + (referenceEnd - window), window) *
                         std::sqrt(static_cast<double>(window) / kWindowBlocks);
        if (heldMs && std::abs(lag * kBlockMs - *heldMs) <= kBlockMs)
            heldMatch = std::max(heldMatch, m);
        if (m > best) {
            best = m;
            path = lag * kBlockMs;
        }
    }
    return path && heldMatch >= kHoldShare * best ? heldMs : path;
}
