#include "VoiceGate.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cmath>

namespace {

int64_t Samples(double seconds, int rate)
{
    return std::llround(std::max(seconds, 0.0) * rate);
}

} // namespace

VoiceGate::VoiceGate(const Settings& settings, int sampleRate)
    : attack_(Samples(settings.attackSeconds, sampleRate)), preRoll_(Samples(settings.preRollSeconds, sampleRate)),
      silence_(Samples(settings.silenceSeconds, sampleRate)), tail_(Samples(settings.tailSeconds, sampleRate)),
      bridge_(Samples(settings.bridgeSeconds, sampleRate)), threshold_(settings.thresholdDb)
{
}

int VoiceGate::DropKeeping(int64_t keep)
{
    int dropped = 0;
    while (!queue_.empty() && queued_ - queue_.front() >= keep) {
        queued_ -= queue_.front();
        queue_.pop_front();
        ++dropped;
    }
    return dropped;
}

VoiceGate::Verdict VoiceGate::Push(int count, double levelDb)
{
    Verdict verdict;
    const bool loud = levelDb >= threshold_;
    queue_.push_back(count);
    queued_ += count;
    if (!open_) {
        if (loud) {
            loud_ += dip_ + count;
            dip_ = 0;
        } else if (loud_ > 0 && (dip_ += count) > bridge_) {
            loud_ = 0;
            dip_ = 0;
        }
        // The sound so far and the pre-roll before it stay queued.
        verdict.drop = DropKeeping(loud_ + dip_ + preRoll_);
        if (loud && loud_ >= attack_) {
            open_ = true;
            quiet_ = 0;
            verdict.write = Queued();
            queue_.clear();
            queued_ = 0;
        }
        return verdict;
    }
    if (loud) {
        quiet_ = 0;
    } else {
        quiet_ += count;
        if (quiet_ >= silence_) {
            // Closed: the queued rest of the stretch goes, but for what makes up the tail (the
            // stretch's first tail samples were written as they came).
            open_ = false;
            loud_ = 0;
            dip_ = 0;
            verdict.drop = Queued();
            queue_.clear();
            queued_ = 0;
            return verdict;
        }
        if (quiet_ - count < tail_) {
            verdict.write = Queued(); // within the tail: kept whatever comes
            queue_.clear();
            queued_ = 0;
        }
        return verdict;
    }
    verdict.write = Queued();
    queue_.clear();
    queued_ = 0;
    return verdict;
}

VoiceGate::Verdict VoiceGate::Finish()
{
    Verdict verdict;
    verdict.drop = Queued();
    queue_.clear();
    queued_ = 0;
    return verdict;
}

double VoiceGate::LevelDb(const uint8_t* const* data, int planes, int64_t valuesPerPlane, int format)
{
    double sum = 0;
    const auto packed = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format));
    for (int p = 0; p < planes; ++p) {
        for (int64_t i = 0; i < valuesPerPlane; ++i) {
            const double v = packed == AV_SAMPLE_FMT_FLT ? reinterpret_cast<const float*>(data[p])[i]
                                                         : reinterpret_cast<const int16_t*>(data[p])[i] / 32768.0;
            sum += v * v;
        }
    }
    const int64_t n = planes * valuesPerPlane;
    if (n <= 0 || sum <= 0)
        return kSilenceDb;
    return std::max(kSilenceDb, 10 * std::log10(sum / static_cast<double>(n)));
}
