#include "CaptureSource.h"

#include <glog/logging.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Span of packets whose earliest bound estimates the stream's start. Long enough that a busy
// machine delivers at least one packet on time within it, short enough to follow a drifting
// device clock closely (200 ppm moves the bound by 0.4 ms in 2 s).
constexpr int64_t kWindowNs = 2'000'000'000;
// Placement within 1 ms of the estimate is left alone: the estimate itself varies by that much.
constexpr double kDeadbandSamples = 44.1;
// Beyond 20 ms the placement moves at once instead of sample by sample.
constexpr double kJumpSamples = 882;
// During the first second of a stream the estimate settles (the first packets are often late);
// the placement follows it at once.
constexpr int64_t kSettleNs = 1'000'000'000;
// Sample by sample, the placement moves by at most 1 in 200 samples of a packet (0.5 %).
constexpr int kAdjustDivisor = 200;
// Voice processing works at 32000 Hz mono.
constexpr int kProcessingRate = VoiceProcessor::kSampleRate;

} // namespace

// Samples in the layout of one format, in a buffer that grows as needed.
class CaptureSource::Buffer {
public:
    ~Buffer() { Free(); }
    uint8_t** Reserve(int count, int channels, AVSampleFormat format)
    {
        if (data_ && count <= capacity_ && channels == channels_ && format == format_)
            return data_;
        Free();
        if (av_samples_alloc_array_and_samples(&data_, nullptr, channels, std::max(count, 1), format, 0) < 0) {
            data_ = nullptr;
            return nullptr;
        }
        capacity_ = std::max(count, 1);
        channels_ = channels;
        format_ = format;
        return data_;
    }

private:
    void Free()
    {
        if (data_) {
            av_freep(&data_[0]);
            av_freep(&data_);
        }
        capacity_ = 0;
    }
    uint8_t** data_ = nullptr;
    int capacity_ = 0;
    int channels_ = 0;
    AVSampleFormat format_ = AV_SAMPLE_FMT_NONE;
};

void CaptureSource::SwrDeleter::operator()(SwrContext* s) const
{
    swr_free(&s);
}

CaptureSource::CaptureSource(const Options& options, SampleFifo& fifo)
    : options_(options), fifo_(fifo), processing_(options.noiseSuppression || options.gainControl),
      processingBuffer_(std::make_unique<Buffer>()), outputBuffer_(std::make_unique<Buffer>()),
      adjustBuffer_(std::make_unique<Buffer>())
{
}

CaptureSource::~CaptureSource() = default;

int64_t CaptureSource::ToPos(int64_t ns) const
{
    return av_rescale(ns - options_.epochNs, options_.outRate, 1'000'000'000);
}

bool CaptureSource::Begin(const CaptureFormat& format, int64_t latencyNs)
{
    begun_ = false;
    anchored_ = false;
    latencyNs_ = std::clamp<int64_t>(latencyNs, 0, kGapNs);
    toOutput_.reset();
    toProcessing_.reset();
    if (format.rate <= 0 || format.channels <= 0 || format.channels > 64)
        return false;
    format_ = format;

    AVChannelLayout in{};
    av_channel_layout_default(&in, format.channels);
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    AVChannelLayout out{};
    av_channel_layout_default(&out, options_.outChannels);
    SwrContext* swr = nullptr;
    if (processing_) {
        if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, kProcessingRate, &in,
                                static_cast<AVSampleFormat>(format.sampleFormat), format.rate, 0, nullptr) < 0 ||
            !swr || swr_init(swr) < 0) {
            swr_free(&swr);
            LOG(ERROR) << "swr init error";
            return false;
        }
        toProcessing_.reset(swr);
        swr = nullptr;
        if (!voice_) {
            voice_ = std::make_unique<VoiceProcessor>();
            if (voice_->Init(options_.noiseSuppression, options_.gainControl, options_.micGainDb) < 0) {
                voice_.reset();
                return false;
            }
        }
    }
    if (swr_alloc_set_opts2(&swr, &out, static_cast<AVSampleFormat>(options_.outFormat), options_.outRate,
                            processing_ ? &mono : &in,
                            processing_ ? AV_SAMPLE_FMT_S16 : static_cast<AVSampleFormat>(format.sampleFormat),
                            processing_ ? kProcessingRate : format.rate, 0, nullptr) < 0 ||
        !swr || swr_init(swr) < 0) {
        swr_free(&swr);
        LOG(ERROR) << "Failed to initialize the resampling context";
        return false;
    }
    toOutput_.reset(swr);
    begun_ = true;
    return true;
}

void CaptureSource::End()
{
    begun_ = false;
    anchored_ = false;
}

void CaptureSource::Anchor(int64_t start)
{
    anchored_ = true;
    anchorNs_ = start;
    anchorPos_ = ToPos(start);
    inCount_ = 0;
    outCount_ = 0;
    correction_ = 0;
    window_.clear();
}

int CaptureSource::Convert(const uint8_t* in, int frames, uint8_t**& out)
{
    const auto outFormat = static_cast<AVSampleFormat>(options_.outFormat);
    const uint8_t* stage = in;
    int stageCount = frames;
    if (processing_) {
        const int want = swr_get_out_samples(toProcessing_.get(), frames);
        uint8_t** buf = processingBuffer_->Reserve(want, 1, AV_SAMPLE_FMT_S16);
        if (!buf) {
            LOG(ERROR) << "samples alloc error";
            return -1;
        }
        const int got = swr_convert(toProcessing_.get(), buf, want, &in, frames);
        if (got < 0) {
            LOG(ERROR) << "Error while converting";
            return -1;
        }
        processed_.clear();
        voice_->Process(reinterpret_cast<const int16_t*>(buf[0]), static_cast<size_t>(got), processed_);
        stage = reinterpret_cast<const uint8_t*>(processed_.data());
        stageCount = static_cast<int>(processed_.size());
        if (stageCount == 0)
            return 0; // no whole 10 ms unit yet
    }
    const int want = swr_get_out_samples(toOutput_.get(), stageCount);
    out = outputBuffer_->Reserve(want, options_.outChannels, outFormat);
    if (!out) {
        LOG(ERROR) << "av_samples_alloc_array_and_samples error";
        return -1;
    }
    const int got = swr_convert(toOutput_.get(), out, want, &stage, stageCount);
    if (got < 0) {
        LOG(ERROR) << "Error while converting";
        return -1;
    }
    return got;
}

void CaptureSource::Deliver(const void* data, int frames, int64_t arrivalNs)
{
    if (!begun_ || frames <= 0)
        return;
    const int64_t latency = latencyNs_.load();
    auto startFor = [&](int64_t counted) {
        return arrivalNs - av_rescale(counted + frames, 1'000'000'000, format_.rate) - latency;
    };
    int64_t start = startFor(inCount_);
    if (!anchored_) {
        Anchor(start);
        anchorArrival_ = arrivalNs;
    } else {
        const int64_t placed = anchorNs_ + av_rescale(correction_, 1'000'000'000, options_.outRate);
        if (start - placed > kGapNs) {
            // The stream stalled and came back (or its packets queued up somewhere): what comes
            // now was captured now, not right after the last packet.
            Anchor(startFor(0));
            anchorArrival_ = arrivalNs;
            start = anchorNs_;
        }
    }
    while (!window_.empty() && window_.back().start >= start)
        window_.pop_back();
    window_.push_back({arrivalNs, start});
    while (window_.front().arrival < arrivalNs - kWindowNs)
        window_.pop_front();
    const double drift = static_cast<double>(window_.front().start - anchorNs_) * options_.outRate / 1e9 -
                         static_cast<double>(correction_);

    // Silence for a hole in the stream.
    std::vector<uint8_t> zeros;
    if (!data) {
        zeros.assign(static_cast<size_t>(frames) * format_.channels *
                         av_get_bytes_per_sample(static_cast<AVSampleFormat>(format_.sampleFormat)),
                     0);
        data = zeros.data();
    }
    uint8_t** out = nullptr;
    const int got = Convert(static_cast<const uint8_t*>(data), frames, out);
    inCount_ += frames;
    if (got < 0) {
        End(); // a broken converter: nothing more until the next stream
        return;
    }

    int adjust = 0;
    if (std::fabs(drift) > kDeadbandSamples) {
        if (arrivalNs - anchorArrival_ < kSettleNs || std::fabs(drift) > kJumpSamples) {
            correction_ += std::llround(drift); // the FIFO turns the move into a gap or an overlap
        } else if (got > 0) {
            const int most = std::max(1, got / kAdjustDivisor);
            adjust = static_cast<int>(std::min<double>(std::fabs(drift), most)) * (drift > 0 ? 1 : -1);
        }
    }
    if (got == 0)
        return;
    NotePeak(out, got);
    outCount_ += got;
    correction_ += adjust;
    corrections_ += adjust;
    Store(out, got, adjust);
}

void CaptureSource::Store(uint8_t** data, int count, int adjust)
{
    const int64_t pos = anchorPos_ + (outCount_ - count) + (correction_ - adjust);
    if (adjust == 0) {
        fifo_.Write(data, count, pos);
        return;
    }
    // Repeat (adjust > 0) or leave out (adjust < 0) single samples at evenly spaced places.
    const auto format = static_cast<AVSampleFormat>(options_.outFormat);
    const int channels = options_.outChannels;
    const int k = std::abs(adjust);
    const int total = count + adjust;
    if (total <= 0)
        return;
    uint8_t** dst = adjustBuffer_->Reserve(total, channels, format);
    if (!dst) {
        fifo_.Write(data, count, pos);
        return;
    }
    int src = 0;
    int at = 0;
    for (int i = 1; i <= k + 1; ++i) {
        const int until = i <= k ? static_cast<int>(static_cast<int64_t>(count) * i / (k + 1)) : count;
        const int n = until - src;
        if (n > 0) {
            av_samples_copy(dst, data, at, src, n, channels, format);
            at += n;
            src += n;
        }
        if (i > k)
            break;
        if (adjust > 0 && src > 0) {
            av_samples_copy(dst, data, at, src - 1, 1, channels, format); // the last sample again
            ++at;
        } else if (adjust < 0 && src < count) {
            ++src; // this sample is left out
        }
    }
    fifo_.Write(dst, at, pos);
}

void CaptureSource::NotePeak(uint8_t** data, int count)
{
    const auto format = static_cast<AVSampleFormat>(options_.outFormat);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? options_.outChannels : 1;
    const int perPlane = planar ? count : count * options_.outChannels;
    float peak = 0;
    for (int p = 0; p < planes; ++p) {
        if (av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_FLT) {
            const auto* s = reinterpret_cast<const float*>(data[p]);
            for (int i = 0; i < perPlane; ++i)
                peak = std::max(peak, std::fabs(s[i]));
        } else if (av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_S16) {
            const auto* s = reinterpret_cast<const int16_t*>(data[p]);
            for (int i = 0; i < perPlane; ++i)
                peak = std::max(peak, std::fabs(s[i] / 32768.0f));
        }
    }
    peak = std::min(peak, 1.0f);
    uint32_t bits = 0;
    std::memcpy(&bits, &peak, sizeof bits);
    // Positive floats order like their bits: keep the larger.
    uint32_t old = peakBits_.load();
    while (bits > old && !peakBits_.compare_exchange_weak(old, bits)) {
    }
}

float CaptureSource::TakePeak()
{
    const uint32_t bits = peakBits_.exchange(0);
    float peak = 0;
    std::memcpy(&peak, &bits, sizeof peak);
    return peak;
}
