#include "EchoPathEstimator.h"

#include <cmath>

namespace {

// The levels kept: a window and the lags before it.
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
    mic_.reserve(kWindowBlocks + 1);
}

void EchoPathEstimator::Add(const int16_t* reference, const int16_t* mic, int samples)
{
    for (int i = 0; i < samples; ++i) {
        referenceSum_ += static_cast<double>(reference[i]) * reference[i];
        micSum_ += static_cast<double>(mic[i]) * mic[i];
        if (++filled_ < kBlockSamples)
            continue;
        // Log levels: a loud passage weighs no more than a quiet one.
        reference_.push_back(std::log1p(referenceSum_ / kBlockSamples));
        mic_.push_back(std::log1p(micSum_ / kBlockSamples));
        if (reference_.size() > kHistory)
            reference_.erase(reference_.begin());
        if (mic_.size() > static_cast<size_t>(kWindowBlocks))
            mic_.erase(mic_.begin());
        referenceSum_ = micSum_ = 0;
        filled_ = 0;
    }
}

std::optional<int> EchoPathEstimator::Estimate() const
{
    const int window = static_cast<int>(mic_.size());
    if (window < kMinWindowBlocks)
        return std::nullopt;
    // The microphone's window ends with the reference's history; lag L compares it with the
    // reference L blocks earlier (lags the history does not reach yet are left out).
    const int available = static_cast<int>(reference_.size()) - window;
    double best = kMinMatch;
    int bestLag = -1;
    for (int lag = 0; lag <= available; ++lag) {
        const double m = Match(mic_.data(), reference_.data() + (available - lag), window);
        if (m > best) {
            best = m;
            bestLag = lag;
        }
    }
    if (bestLag < 0)
        return std::nullopt;
    return bestLag * kBlockMs;
}
