#include "CaptureSource.h"

#include <glog/logging.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Span of packets whose earliest bound estimates the stream's start. Long enough that a busy
// machine delivers at least one packet on time within it and that a server which sends its blocks
// in bursts (a PipeWire graph cycle against the packet length) shows its earliest one, short
// enough to follow a drifting device clock closely (200 ppm moves the bound by 0.4 ms in 2 s).
constexpr int64_t kWindowNs = 2'000'000'000;
// Placement within 0.5 ms of the estimate is left alone: the estimate itself varies by about that much.
constexpr double kDeadbandSamples = 22.05;
// Beyond 100 ms the placement moves at once (the FIFO reads the gap as silence or drops the
// overlap): a stream that jumped. Below, the resampler stretches or shrinks the sound smoothly.
constexpr double kJumpSamples = 4410;
// How fast the resampler may follow: 0.25 % (a tenth of what a trained ear hears as a change of
// pitch, and ten times the drift of a poor device clock).
constexpr double kMaxStretch = 0.0025;
// A new stream's first placement rests on the few packets of its hold. On a PipeWire server they
// arrive once per graph cycle (about 45 ms), so the first estimate can be several milliseconds
// (at worst a cycle) late, and the window finds the better bound within the next second or two.
// For that long the resampler may follow four times as fast (1 %, a sixth of a semitone, for the
// few hundred milliseconds a correction of some milliseconds takes), so both sources of a mixed
// recording line up within the first second instead of drifting together over ten.
constexpr double kSettleStretch = 0.01;
constexpr int64_t kSettleNs = 3'000'000'000;

// A new stream (or one that came back after a stall) holds its first packets this long before it
// places them: its first packets often come late, or queued up in one burst, and the earliest
// bound of a few packets says much better where they belong than the first alone. Below the
// recording's allowance (kGapNs), so the recording never gives up on the held sound.
constexpr int64_t kHoldNs = 100'000'000;
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
      processingBuffer_(std::make_unique<Buffer>()), outputBuffer_(std::make_unique<Buffer>())
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
    // The resampler always runs (also from 44100 to 44100 Hz), so that its ratio can follow the
    // device's clock without a restart.
    if (swr_alloc_set_opts2(&swr, &out, static_cast<AVSampleFormat>(options_.outFormat), options_.outRate,
                            processing_ ? &mono : &in,
                            processing_ ? AV_SAMPLE_FMT_S16 : static_cast<AVSampleFormat>(format.sampleFormat),
                            processing_ ? kProcessingRate : format.rate, 0, nullptr) < 0 ||
        !swr || av_opt_set_int(swr, "flags", SWR_FLAG_RESAMPLE, 0) < 0 || swr_init(swr) < 0) {
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
    if (holding_)
        ReleaseHold(); // what was captured is kept, placed as well as it is known
    begun_ = false;
    anchored_ = false;
}

void CaptureSource::Anchor(int64_t start, int64_t arrivalNs)
{
    anchored_ = true;
    holding_ = true;
    holdSince_ = arrivalNs;
    held_.clear();
    anchorNs_ = start;
    anchorPos_ = ToPos(start);
    inCount_ = 0;
    outCount_ = 0;
    jumps_ = 0;
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

double CaptureSource::PendingOutput() const
{
    // Samples taken in but not yet given out by the conversion chain, in output samples.
    double pending = static_cast<double>(swr_get_delay(toOutput_.get(), options_.outRate));
    if (processing_)
        pending += static_cast<double>(swr_get_delay(toProcessing_.get(), kProcessingRate) +
                                       static_cast<int64_t>(voice_->PendingSamples())) *
                   options_.outRate / kProcessingRate;
    return pending;
}

void CaptureSource::Deliver(const void* data, int frames, int64_t arrivalNs)
{
    if (!begun_ || frames <= 0)
        return;
    const int64_t latency = latencyNs_;
    auto startFor = [&](int64_t counted) {
        return arrivalNs - av_rescale(counted + frames, 1'000'000'000, format_.rate) - latency;
    };
    int64_t start = startFor(inCount_);
    if (!anchored_) {
        Anchor(start, arrivalNs);
    } else if (!holding_) {
        // Where the placement puts the stream's start: the anchor moved on by jumps and stretches.
        const double shift = static_cast<double>(jumps_ + outCount_) + PendingOutput() -
                             static_cast<double>(inCount_) * options_.outRate / format_.rate;
        const int64_t placed = anchorNs_ + static_cast<int64_t>(shift * 1e9 / options_.outRate);
        if (start - placed > kGapNs) {
            // The stream stalled and came back (or its packets queued up somewhere): what comes
            // now was captured now, not right after the last packet.
            LOG(INFO) << "capture timing: new segment, " << (start - placed) / 1'000'000 << " ms after the last";
            Anchor(startFor(0), arrivalNs);
            start = anchorNs_;
        }
    }
    while (!window_.empty() && window_.back().start >= start)
        window_.pop_back();
    window_.push_back({arrivalNs, start});
    while (window_.front().arrival < arrivalNs - kWindowNs)
        window_.pop_front();

    if (holding_) {
        Hold(data, frames);
        if (holding_ && arrivalNs - holdSince_ >= kHoldNs)
            ReleaseHold();
        return;
    }

    // Where the samples taken in so far belong, less where they are placed, in output samples:
    // > 0 when they are placed too early.
    const double expected = static_cast<double>(inCount_) * options_.outRate / format_.rate;
    const double drift = static_cast<double>(window_.front().start - anchorNs_) * options_.outRate / 1e9 -
                         static_cast<double>(jumps_) - (static_cast<double>(outCount_) + PendingOutput() - expected);
    const double packetOut = static_cast<double>(frames) * options_.outRate / format_.rate;
    misplacedSeen_ = std::llround(drift);
    if (std::fabs(drift) > kJumpSamples) {
        jumps_ += std::llround(drift); // the FIFO turns the move into a gap or an overlap
        LOG(INFO) << "capture timing: moved by " << std::llround(drift) << " samples";
        swr_set_compensation(toOutput_.get(), 0, 0);
    } else {
        // The resampler stretches (or shrinks) this packet's sound towards where it belongs.
        const double most = packetOut * (arrivalNs - holdSince_ < kSettleNs ? kSettleStretch : kMaxStretch);
        const int delta = std::fabs(drift) > kDeadbandSamples
                              ? static_cast<int>(std::llround(std::clamp(drift, -most, most)))
                              : 0;
        const int distance = std::max(1, static_cast<int>(packetOut));
        swr_set_compensation(toOutput_.get(), delta, delta ? distance : 0);
    }

    uint8_t** out = nullptr;
    const int got = Take(data, frames, out);
    if (got <= 0)
        return;
    fifo_.Write(out, got, anchorPos_ + jumps_ + outCount_);
    outCount_ += got;
}

int CaptureSource::Take(const void* data, int frames, uint8_t**& out)
{
    // Silence for a hole in the stream.
    std::vector<uint8_t> zeros;
    if (!data) {
        zeros.assign(static_cast<size_t>(frames) * format_.channels *
                         av_get_bytes_per_sample(static_cast<AVSampleFormat>(format_.sampleFormat)),
                     0);
        data = zeros.data();
    }
    const int got = Convert(static_cast<const uint8_t*>(data), frames, out);
    inCount_ += frames;
    if (got < 0) {
        End(); // a broken converter: nothing more until the next stream
        return -1;
    }
    if (got > 0)
        NotePeak(out, got);
    return got;
}

void CaptureSource::Hold(const void* data, int frames)
{
    uint8_t** out = nullptr;
    const int got = Take(data, frames, out);
    if (got <= 0)
        return;
    const auto format = static_cast<AVSampleFormat>(options_.outFormat);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const size_t bytes = static_cast<size_t>(got) * av_get_bytes_per_sample(format) *
                         (planar ? 1 : options_.outChannels);
    held_.resize(planar ? options_.outChannels : 1);
    for (size_t p = 0; p < held_.size(); ++p)
        held_[p].insert(held_[p].end(), out[p], out[p] + bytes);
    outCount_ += got;
}

void CaptureSource::ReleaseHold()
{
    // The earliest bound of the held packets is where the stream started; they go there, one
    // after another, and so does everything after them.
    holding_ = false;
    anchorNs_ = window_.front().start;
    anchorPos_ = ToPos(anchorNs_);
    if (outCount_ > 0 && !held_.empty()) {
        std::vector<uint8_t*> planes;
        for (std::vector<uint8_t>& plane : held_)
            planes.push_back(plane.data());
        fifo_.Write(planes.data(), static_cast<int>(outCount_), anchorPos_);
    }
    held_.clear();
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
