#include "EchoFilter.h"

#include <glog/logging.h>

extern "C" {
#include <libavutil/tx.h>
}

#include <algorithm>
#include <cmath>

namespace {

constexpr int kSize = 2 * EchoFilter::kBlock; // each transform spans the last two blocks
constexpr int kBins = kSize / 2 + 1;
constexpr int kHistoryBlocks = EchoFilter::kMaxShiftBlocks + EchoFilter::kPartitions;
// The step of the adaptation: all of what each block's error says, normalised by the far end's
// power over the whole filter (half of it took twice as long: 2 s to 25 dB on white noise).
constexpr float kStep = 1.0f;
// The far end's power per frequency follows each block by this much (about 100 ms of memory).
constexpr float kPowerSmoothing = 0.1f;
// The error of one frequency counts at most with a tenth of the far end's power there: more than
// that is mostly the room's own sound (a voice), which the model cannot and must not learn (a voice
// joining the echo left 10 dB of it with the far end's full power as the limit, 19 dB with a
// tenth; a hundredth relearnt a moved echo path too slowly).
constexpr float kMaxErrorRatio = 0.1f;
// Far-end power below that of noise at about -60 dBFS (16-bit samples of 30) barely moves the
// model: there is no echo to learn from.
constexpr float kQuietPower = kSize * 30.0f * 30.0f;
// Output this much stronger than the input shows a model that adds echo (the path changed under
// it): it starts afresh and the block passes as it came.
constexpr double kDivergedRatio = 1.5;
// The levels compared for that follow each block by this much (about 200 ms of memory), and the
// microphone must be louder than -60 dBFS (mean square of 16-bit samples) for them to count.
constexpr double kLevelSmoothing = 0.05;
constexpr double kAudibleLevel = 30.0 * 30.0;
// The share of the microphone's level the output keeps at most while the model holds the echo.
constexpr double kCancellingRatio = 0.1;
// ... and at most once (30 dB) for the model to be trusted with the echo on its own.
constexpr double kHoldingRatio = 0.001;
// The share of its estimate a model that holds the echo may find inverted in its output (the
// smoothed product of the two against the estimate's level) before it is no longer trusted.
constexpr double kMismatchShare = 0.3;
// A model seeded from the blocks heard so far starts as one echo at the delay where the microphone
// follows the reference most closely, when that echo alone explains at least this share of what the
// microphone heard there (on a rig of one delay 0.99; a voice or noise of the room's own lowers it).
constexpr double kMinSeedShare = 0.25;
// The seeded echo between two samples: a sinc windowed over this many samples each side.
constexpr int kSeedHalfWidth = 16;
// The fewest microphone blocks a seed is found from (40 ms: one clear peak on speech or noise).
constexpr int kMinSeedBlocks = 4;
// A block shows the echo moved within the model (the sound server moved one stream by part of its
// processing block, 11.6 ms on a PipeWire graph) when the model cancelled until then, the block keeps
// at least this share of the microphone, and its output follows its estimate inverted at least this
// closely (correlation; the old echo taken out where the room no longer makes it: about 0.7, a voice
// in the room, unrelated to the estimate, well under 0.2) ...
constexpr double kMovedKeptShare = 0.25;
constexpr double kMovedInvertedShare = 0.5;
// ... in this many blocks in a row (one block is what a voice starting in the room can look like).
constexpr int kMovedBlocks = 2;
// A model that took at least 20 dB out ...
constexpr double kFittedRatio = 0.01;
// ... learns nothing from this many blocks in a row that it suddenly does not fit.
constexpr int kMisfitBlocksUntaught = 10;
// The gain of the output while the echo is out of place (-20 dB).
constexpr float kMovedGain = 0.1f;
// A move not seeded within this many blocks is left to the model to learn.
constexpr int kMaxMovedBlocks = 30;

} // namespace

void EchoFilter::TxDeleter::operator()(AVTXContext* tx) const
{
    av_tx_uninit(&tx);
}

EchoFilter::EchoFilter()
    : history_(kHistoryBlocks, Spectrum(kBins)), blocks_(kHistoryBlocks, std::vector<float>(kBlock)),
      heard_(kHistoryBlocks, std::vector<float>(kBlock)), weights_(kPartitions, Spectrum(kBins)), farPower_(kBins),
      time_(kSize), work_(kSize), spectrum_(kBins), sum_(kBins)
{
}

EchoFilter::~EchoFilter() = default;

bool EchoFilter::Init()
{
    const float one = 1.0f, inverseScale = 1.0f / kSize;
    AVTXContext* forward = nullptr;
    AVTXContext* inverse = nullptr;
    av_tx_fn forwardFn = nullptr, inverseFn = nullptr;
    const int f = av_tx_init(&forward, &forwardFn, AV_TX_FLOAT_RDFT, 0, kSize, &one, AV_TX_UNALIGNED);
    forward_.reset(forward);
    const int i = av_tx_init(&inverse, &inverseFn, AV_TX_FLOAT_RDFT, 1, kSize, &inverseScale, AV_TX_UNALIGNED);
    inverse_.reset(inverse);
    if (f < 0 || i < 0 || !forward || !inverse)
        return false;
    forwardFn_ = forwardFn;
    inverseFn_ = inverseFn;
    Reset();
    return true;
}

void EchoFilter::Reset()
{
    for (auto& w : weights_)
        std::fill(w.begin(), w.end(), std::complex<float>());
    ForgetReference();
    std::fill(farPower_.begin(), farPower_.end(), 0.0f);
    constrained_ = 0;
    micLevel_ = errorLevel_ = estimateLevel_ = alikeLevel_ = 0;
    holding_ = false;
    gain_ = 1.0f;
    ForgetMove();
}

void EchoFilter::ForgetMove()
{
    suspects_ = movedBlocks_ = misfitRun_ = 0;
}

void EchoFilter::ForgetReference()
{
    for (auto& h : history_)
        std::fill(h.begin(), h.end(), std::complex<float>());
    for (auto& b : blocks_)
        std::fill(b.begin(), b.end(), 0.0f);
    known_ = kHistoryBlocks; // silence, as far as the model is concerned
    heardCount_ = 0;
    ForgetMove();
}

const EchoFilter::Spectrum& EchoFilter::At(int lag) const
{
    return history_[(newest_ - lag + kHistoryBlocks) % kHistoryBlocks];
}

void EchoFilter::Realign(int shiftBlocks)
{
    ForgetMove();
    if (std::abs(shiftBlocks) >= kMaxShiftBlocks) {
        Reset();
        return;
    }
    // The block given next follows the one shiftBlocks back in the history (given earlier) or
    // one never given (later: the blocks in between are not known, silence).
    newest_ = (newest_ - shiftBlocks + kHistoryBlocks) % kHistoryBlocks;
    for (int lag = 0; lag < -shiftBlocks; ++lag) {
        const int slot = (newest_ - lag + kHistoryBlocks) % kHistoryBlocks;
        std::fill(history_[slot].begin(), history_[slot].end(), std::complex<float>());
        std::fill(blocks_[slot].begin(), blocks_[slot].end(), 0.0f);
    }
    // Partition p now covers the lag partition p + shiftBlocks covered; the lags new to the model
    // start empty.
    const int moved = std::min(std::abs(shiftBlocks), kPartitions);
    const auto empty = shiftBlocks > 0 ? weights_.end() - moved : weights_.begin();
    std::rotate(weights_.begin(), shiftBlocks > 0 ? weights_.begin() + moved : weights_.end() - moved, weights_.end());
    for (auto w = empty; w != empty + moved; ++w)
        std::fill(w->begin(), w->end(), std::complex<float>());
    known_ = shiftBlocks > 0 ? std::max(known_ - shiftBlocks, 0) : std::min(known_ - shiftBlocks, kHistoryBlocks);
    // A model that did not take the echo out learnt only the room's noise (the echo lay outside
    // it): it starts from what the blocks heard so far say. One that takes some of it out (a short
    // path, learnt for a moment before it was found) is replaced when the seed explains more.
    if (holding_)
        return;
    // What the model leaves of the microphone now; nothing learnt when it does not cancel.
    double left = 1;
    if (Cancelling())
        left = errorLevel_ / micLevel_;
    else
        for (auto& w : weights_)
            std::fill(w.begin(), w.end(), std::complex<float>());
    Seed(std::min(heardCount_, known_) - kPartitions, left);
}

bool EchoFilter::Seed(int blocks, double left)
{
    // The microphone's last blocks and the reference behind them, reaching the model's span further
    // back (the microphone's block of age a was heard with the reference block newest_ - a), each
    // as one run of samples.
    blocks = std::min({blocks, heardCount_, known_ - kPartitions});
    if (blocks < kMinSeedBlocks)
        return false;
    constexpr int kSpan = kPartitions * kBlock; // the delays the model covers
    const int n = blocks * kBlock;
    std::vector<float> ref(static_cast<size_t>(n + kSpan)), heard(static_cast<size_t>(n));
    for (int age = blocks + kPartitions - 1, at = 0; age >= 0; --age, at += kBlock)
        std::copy_n(blocks_[(newest_ - age + kHistoryBlocks) % kHistoryBlocks].begin(), kBlock, ref.begin() + at);
    for (int age = blocks - 1, at = 0; age >= 0; --age, at += kBlock)
        std::copy_n(heard_[(heardNewest_ - age + kHistoryBlocks) % kHistoryBlocks].begin(), kBlock, heard.begin() + at);
    // The microphone's samples against the reference d samples earlier: the gain of one echo at d
    // (least squares) and the share of the microphone's energy it explains.
    double heardEnergy = 0, refEnergy = 0;
    for (int t = 0; t < n; ++t) {
        heardEnergy += static_cast<double>(heard[t]) * heard[t];
        refEnergy += static_cast<double>(ref[kSpan + t]) * ref[kSpan + t];
    }
    std::vector<double> gain(kSpan);
    int best = -1;
    double bestShare = kMinSeedShare;
    for (int d = 0; d < kSpan; ++d) {
        if (d > 0) // the reference's window moves one sample back
            refEnergy += static_cast<double>(ref[kSpan - d]) * ref[kSpan - d] -
                         static_cast<double>(ref[kSpan + n - d]) * ref[kSpan + n - d];
        double dot = 0;
        const float* r = ref.data() + kSpan - d;
        for (int t = 0; t < n; ++t)
            dot += heard[t] * r[t];
        gain[d] = refEnergy > 0 ? dot / refEnergy : 0;
        const double share = refEnergy > 0 && heardEnergy > 0 ? gain[d] * dot / heardEnergy : 0;
        if (share > bestShare) {
            bestShare = share;
            best = d;
        }
    }
    if (best < 1 || best >= kSpan - 1)
        return false;
    // Between samples: the fraction of a sample at which one echo, a windowed sinc, explains most,
    // searched for (a parabola through the gains was off by up to a tenth of a sample, which left
    // 20 dB of a broadband echo).
    const auto taps = [&](double fraction) {
        std::vector<double> kernel(2 * kSeedHalfWidth + 1);
        for (int j = -kSeedHalfWidth; j <= kSeedHalfWidth; ++j) {
            const double x = (j - fraction) * M_PI;
            const double sinc = std::abs(x) < 1e-9 ? 1.0 : std::sin(x) / x;
            const double tap = best + j;
            kernel[j + kSeedHalfWidth] =
                tap < 0 || tap >= kSpan ? 0 : sinc * (0.5 + 0.5 * std::cos(x / (kSeedHalfWidth + 1)));
        }
        return kernel;
    };
    const auto explains = [&](double fraction, double& top) {
        const std::vector<double> kernel = taps(fraction);
        double dot = 0, energy = 0;
        for (int t = 0; t < n; ++t) {
            double echo = 0;
            const float* r = ref.data() + kSpan + t - best;
            for (int j = -kSeedHalfWidth; j <= kSeedHalfWidth; ++j)
                echo += kernel[j + kSeedHalfWidth] * r[-j];
            dot += heard[t] * echo;
            energy += echo * echo;
        }
        top = energy > 0 ? dot / energy : 0;
        return heardEnergy > 0 ? top * dot / heardEnergy : 0;
    };
    double low = -0.5, high = 0.5, top = 0;
    for (int i = 0; i < 24; ++i) {
        const double a = low + (high - low) / 3, b = high - (high - low) / 3;
        if (explains(a, top) < explains(b, top))
            low = a;
        else
            high = b;
    }
    const double fraction = (low + high) / 2;
    bestShare = explains(fraction, top);
    if (1 - bestShare >= left)
        return false;
    const std::vector<double> kernel = taps(fraction);
    std::vector<float> response(kSpan);
    for (int j = -kSeedHalfWidth; j <= kSeedHalfWidth; ++j)
        if (best + j >= 0 && best + j < kSpan)
            response[best + j] = static_cast<float>(top * kernel[j + kSeedHalfWidth]);
    std::vector<float>& time = work_;
    for (int p = 0; p < kPartitions; ++p) {
        std::copy_n(response.begin() + p * kBlock, kBlock, time.begin());
        std::fill(time.begin() + kBlock, time.end(), 0.0f);
        Forward(time.data(), weights_[p]);
    }
    // What the seed should leave, until the blocks to come show it (never enough to hold the echo).
    errorLevel_ = std::max(1 - bestShare, 10 * kHoldingRatio) * micLevel_;
    LOG(INFO) << "echo filter seeded: one echo " << best << " samples in, explaining " << bestShare;
    return true;
}

void EchoFilter::Emit(int16_t* mic, const float* error)
{
    // While the echo is out of place, the block is taken down: it is mostly echo (or a glitch of
    // the sound server's), which no model takes out until the move is seeded. From one gain to the
    // next over the block.
    const float gain = suspects_ > 0 || movedBlocks_ > 0 ? kMovedGain : 1.0f;
    for (int i = 0; i < kBlock; ++i) {
        const float g = gain_ + (gain - gain_) * static_cast<float>(i + 1) / kBlock;
        mic[i] = static_cast<int16_t>(std::clamp(std::lround(g * (error ? error[i] : mic[i])), -32768L, 32767L));
    }
    gain_ = gain;
}

bool EchoFilter::Cancelling() const
{
    return micLevel_ > kAudibleLevel && errorLevel_ < kCancellingRatio * micLevel_;
}

void EchoFilter::Forward(const float* time, Spectrum& out)
{
    std::copy_n(time, kSize, time_.data());
    forwardFn_(forward_.get(), out.data(), time_.data(), sizeof(std::complex<float>));
}

void EchoFilter::Inverse(const Spectrum& in, float* time)
{
    spectrum_ = in; // the inverse transform overwrites its input
    inverseFn_(inverse_.get(), time, spectrum_.data(), sizeof(float));
}

void EchoFilter::Prime(const int16_t* reference)
{
    if (!forwardFn_)
        return;
    // The reference's newest spectrum, over its last two blocks.
    std::vector<float>& time = work_;
    std::copy(blocks_[newest_].begin(), blocks_[newest_].end(), time.begin());
    newest_ = (newest_ + 1) % kHistoryBlocks;
    for (int i = 0; i < kBlock; ++i)
        blocks_[newest_][i] = time[kBlock + i] = reference[i];
    Forward(time.data(), history_[newest_]);
    const Spectrum& first = At(0);
    for (int k = 0; k < kBins; ++k)
        farPower_[k] += kPowerSmoothing * (std::norm(first[k]) - farPower_[k]);
    known_ = std::min(known_ + 1, kHistoryBlocks);
}

void EchoFilter::Process(const int16_t* reference, int16_t* mic)
{
    if (!forwardFn_)
        return;

    Prime(reference);
    std::vector<float>& time = work_;
    heardNewest_ = (heardNewest_ + 1) % kHistoryBlocks;
    std::copy_n(mic, kBlock, heard_[heardNewest_].begin());
    heardCount_ = std::min(heardCount_ + 1, kHistoryBlocks);

    // The echo estimate and the error.
    std::fill(sum_.begin(), sum_.end(), std::complex<float>());
    for (int p = 0; p < kPartitions; ++p) {
        const Spectrum& x = At(p);
        const Spectrum& w = weights_[p];
        for (int k = 0; k < kBins; ++k)
            sum_[k] += w[k] * x[k];
    }
    Inverse(sum_, time.data());
    double micEnergy = 0, errorEnergy = 0, estimateEnergy = 0, alike = 0;
    float* error = time.data() + kBlock; // the estimate's valid half, then the error in its place
    for (int i = 0; i < kBlock; ++i) {
        const float estimate = error[i];
        error[i] = mic[i] - estimate;
        micEnergy += static_cast<double>(mic[i]) * mic[i];
        errorEnergy += static_cast<double>(error[i]) * error[i];
        estimateEnergy += static_cast<double>(estimate) * estimate;
        alike += static_cast<double>(estimate) * error[i];
    }
    // The echo moved within the model (the reference or the microphone slipped against the other):
    // its estimate, now wrong, is left out, and after a few blocks the model is seeded from what
    // was heard since (the blocks learnt one by one took half a second to cancel again). A model
    // that fits again before that saw a glitch (a few ms of other sound in one stream) and stays.
    // The move may come after a few blocks that fit nothing (a stream that lost a block: silence).
    const bool misfit = errorEnergy > kMovedKeptShare * micEnergy;
    // The model took the echo well out until this block (a model still learning misses now and
    // then by more, and must learn from those blocks most).
    const bool fitted = micLevel_ > kAudibleLevel && errorLevel_ < kFittedRatio * micLevel_;
    // A model that cancelled until now and suddenly does not learns nothing from the next blocks: a
    // glitch in one stream, a voice starting in the room or the echo moving (which is seeded) would
    // each undo in a block or two what was learnt (20 dB, a second to learn again). After a while
    // the model learns again (a lasting change of the room, a voice that goes on).
    misfitRun_ = misfit ? misfitRun_ + 1 : 0;
    if (misfitRun_ == 1)
        fittedBeforeMisfit_ = fitted;
    bool teach = !(misfit && fittedBeforeMisfit_ && misfitRun_ <= kMisfitBlocksUntaught);
    if (movedBlocks_ > 0 && (errorEnergy < kCancellingRatio * micEnergy || estimateEnergy <= kAudibleLevel * kBlock)) {
        // The old model fits again (a glitch), or the far end fell silent (no move to judge: its echo
        // had ended before the reference did).
        holding_ = heldBeforeMove_;
        ForgetMove();
        teach = false; // the block may still hold the end of the glitch
        LOG(INFO) << "echo filter: the echo is back where it was";
    } else if (movedBlocks_ > 0) {
        ++movedBlocks_;
    } else if ((suspects_ > 0 || fittedBeforeMisfit_) && estimateEnergy > kAudibleLevel * kBlock && misfit &&
               alike < -kMovedInvertedShare * std::sqrt(estimateEnergy * errorEnergy)) {
        if (++suspects_ >= kMovedBlocks) {
            movedBlocks_ = 1; // the blocks since the first, in which it may have moved halfway
            heldBeforeMove_ = holding_;
            holding_ = false;
            LOG(INFO) << "echo filter: the echo moved within the model";
        }
    } else {
        suspects_ = 0;
    }
    micLevel_ += kLevelSmoothing * (micEnergy / kBlock - micLevel_);
    errorLevel_ += kLevelSmoothing * (errorEnergy / kBlock - errorLevel_);
    // A move or a glitch is no sign that the room changed: it does not count against holding.
    if (suspects_ == 0 && movedBlocks_ == 0) {
        estimateLevel_ += kLevelSmoothing * (estimateEnergy / kBlock - estimateLevel_);
        alikeLevel_ += kLevelSmoothing * (alike / kBlock - alikeLevel_);
    }
    // A model that holds the echo lets go when the output carries its estimate inverted: it takes
    // out an echo the room no longer makes (the path moved). A voice in the room is unrelated to
    // the estimate and leaves it holding.
    if (holding_ && estimateLevel_ > kAudibleLevel && alikeLevel_ < -kMismatchShare * estimateLevel_) {
        holding_ = false;
        LOG(INFO) << "echo filter no longer matches the room";
    }
    if (movedBlocks_ > 0) { // the block passes as it came and teaches the model nothing
        Emit(mic, nullptr);
        // Seeded from the last few blocks as soon as they show one clear echo that explains more
        // than the model (the sound server's move often comes with a glitch of a few ms, which
        // a seed must not learn); at the longest as long as a path takes to be found.
        const bool seeded = movedBlocks_ >= kMinSeedBlocks &&
                            Seed(kMinSeedBlocks, micEnergy > 0 ? errorEnergy / micEnergy : 1.0);
        if (!seeded && movedBlocks_ >= kMaxMovedBlocks)
            holding_ = heldBeforeMove_; // nothing was learnt meanwhile: the model is as it was
        if (seeded || movedBlocks_ >= kMaxMovedBlocks)
            ForgetMove();
        return;
    }
    if (errorLevel_ > kDivergedRatio * micLevel_ && micLevel_ > kAudibleLevel) {
        for (auto& w : weights_)
            std::fill(w.begin(), w.end(), std::complex<float>());
        errorLevel_ = micLevel_;
        holding_ = false;
        LOG(INFO) << "echo filter diverged, starts afresh";
        Emit(mic, nullptr);
        return;
    }
    Emit(mic, error);
    if (micLevel_ > kAudibleLevel && errorLevel_ < kHoldingRatio * micLevel_)
        holding_ = true;
    if (!teach)
        return;

    // The adaptation: each partition moves along its reference's share of the error.
    std::fill(time.begin(), time.begin() + kBlock, 0.0f);
    Forward(time.data(), sum_);
    for (int k = 0; k < kBins; ++k) {
        const float errorPower = std::norm(sum_[k]);
        const float limit = kMaxErrorRatio * farPower_[k];
        if (errorPower > limit)
            sum_[k] *= std::sqrt(limit / errorPower);
        sum_[k] *= kStep / (kPartitions * farPower_[k] + kQuietPower);
    }
    for (int p = 0; p < kPartitions; ++p) {
        const Spectrum& x = At(p);
        Spectrum& w = weights_[p];
        for (int k = 0; k < kBins; ++k)
            w[k] += std::conj(x[k]) * sum_[k];
    }
    // One partition a block back to an impulse response of one block (the second half of its time
    // span is what the circular convolution would wrap). All of them every block cost three times
    // the CPU and cancelled no more.
    Spectrum& w = weights_[constrained_];
    Inverse(w, time.data());
    std::fill(time.begin() + kBlock, time.end(), 0.0f);
    Forward(time.data(), w);
    constrained_ = (constrained_ + 1) % kPartitions;
}
