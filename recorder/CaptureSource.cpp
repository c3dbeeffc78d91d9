#include "CaptureSource.h"

#include "EchoCanceller.h"

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

// Placement within 1 ms of where the capture clock puts the stream is left alone: the clock's
// line itself lies that close to the lowest bounds.
constexpr double kDeadbandSamples = 44.1;
// Beyond 100 ms the placement moves at once (the FIFO reads the gap as silence or drops the
// overlap): a stream that jumped.
constexpr double kJumpSamples = 4410;
// A placement more than the dead band away from the clock's line is brought back within about
// this span, at a rate of at most kCatchUpFactor times the measured clock difference: what that
// difference displaced before it was measured (it takes some seconds to show) is taken back, and
// without a measured difference nothing moves. 200 ppm then stretches by 0.06 %, far below what
// anyone hears (a tenth of a semitone is 0.6 %).
constexpr double kCatchUpSeconds = 10;
constexpr double kCatchUpFactor = 2;
// Stretching is steered over this many output samples: a whole-sample delta then stands for
// 2.3 ppm, fine enough for any device clock.
constexpr int kCompensationDistance = 441000;

// A new stream (or one that came back after a stall) holds its first packets before it places
// them: its first packets often come late, or queued up in one burst, and the earliest bound of a
// few packets says much better where they belong than the first alone, and the placement stays
// where the hold put it. The hold lasts kHoldNs and kHoldPackets packets (a PulseAudio server
// sends 50 ms packets, 100 ms are only two of them; the bound settles with the fourth) and until a
// packet no longer lowers the bound by kSettledNs (on a busy machine the first packets all come
// late), but never more than kMaxHoldNs, below the recording's allowance (kGapNs), so the
// recording never gives up on the held sound.
constexpr int64_t kHoldNs = 100'000'000;
constexpr int kHoldPackets = 4;
constexpr int64_t kSettledNs = 500'000;
constexpr int64_t kMaxHoldNs = 300'000'000;
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
    : options_(options), fifo_(fifo), processing_(options.noiseSuppression || options.gainControl || options.echoIn),
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
    streamCount_ = 0;
    latencyNs_ = std::clamp<int64_t>(latencyNs, 0, kGapNs);
    toOutput_.reset();
    toProcessing_.reset();
    if (format.rate <= 0 || format.channels <= 0 || format.channels > 64)
        return false;
    format_ = format;

    AVChannelLayout in{};
    av_channel_layout_default(&in, format.channels);
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* swr = nullptr;
    if (processing_) {
        if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, kProcessingRate, &in,
                                static_cast<AVSampleFormat>(format.sampleFormat), format.rate, 0, nullptr) < 0 ||
            !swr || av_opt_set_double(swr, "cutoff", VoiceProcessor::kResampleCutoff, 0) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            LOG(ERROR) << "swr init error";
            return false;
        }
        toProcessing_.reset(swr);
        if (!voice_) {
            voice_ = std::make_unique<VoiceProcessor>();
            if (voice_->Init(options_.noiseSuppression, options_.gainControl, options_.micGainDb) < 0) {
                voice_.reset();
                return false;
            }
            if (options_.echoIn) {
                auto echo = std::make_unique<EchoCanceller>(*options_.echoIn);
                if (echo->Init() == 0) // else the microphone goes on without it (logged)
                    voice_->SetEchoCanceller(std::move(echo));
            }
        }
    }
    // Between equal rates the converter only converts; the resampler comes in when a clock
    // difference is measured (Steer).
    if (!OpenOutput(processing_ ? kProcessingRate != options_.outRate : format.rate != options_.outRate))
        return false;
    begun_ = true;
    return true;
}

bool CaptureSource::OpenOutput(bool resample)
{
    AVChannelLayout in{};
    av_channel_layout_default(&in, format_.channels);
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    AVChannelLayout out{};
    av_channel_layout_default(&out, options_.outChannels);
    // The processed microphone (mono) goes to every channel at its level: the converter's own
    // up-mix would give each channel -3 dB.
    std::vector<double> monoToEvery(static_cast<size_t>(options_.outChannels), 1.0);
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &out, static_cast<AVSampleFormat>(options_.outFormat), options_.outRate,
                            processing_ ? &mono : &in,
                            processing_ ? AV_SAMPLE_FMT_S16 : static_cast<AVSampleFormat>(format_.sampleFormat),
                            processing_ ? kProcessingRate : format_.rate, 0, nullptr) < 0 ||
        !swr || (resample && av_opt_set_int(swr, "flags", SWR_FLAG_RESAMPLE, 0) < 0) ||
        (processing_ && swr_set_matrix(swr, monoToEvery.data(), 1) < 0) || swr_init(swr) < 0) {
        swr_free(&swr);
        LOG(ERROR) << "Failed to initialize the resampling context";
        return false;
    }
    if (toOutput_) {
        // What the old converter still holds is given out before it goes.
        uint8_t** rest = nullptr;
        const int pending = static_cast<int>(swr_get_out_samples(toOutput_.get(), 0));
        if (pending > 0 && (rest = outputBuffer_->Reserve(pending, options_.outChannels,
                                                          static_cast<AVSampleFormat>(options_.outFormat)))) {
            const int got = swr_convert(toOutput_.get(), rest, pending, nullptr, 0);
            if (got > 0 && !holding_) {
                Place(rest, got, anchorPos_ + jumps_ + outCount_);
                outCount_ += got;
            }
        }
    }
    toOutput_.reset(swr);
    resampling_ = resample;
    return true;
}

void CaptureSource::End()
{
    if (holding_)
        ReleaseHold(); // what was captured is kept, placed as well as it is known
    begun_ = false;
    anchored_ = false;
}

void CaptureSource::Anchor(int64_t arrivalNs)
{
    anchored_ = true;
    holding_ = true;
    holdSince_ = arrivalNs;
    heldPackets_ = 0;
    heldLowest_ = INT64_MAX;
    held_.clear();
    segmentBase_ = streamCount_;
    inCount_ = 0;
    outCount_ = 0;
    jumps_ = 0;
    clock_.Reset();
    compensation_ = 0;
    if (toOutput_)
        swr_set_compensation(toOutput_.get(), 0, 0);
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
        // The samples waiting in the voice stage come after what the output converter holds.
        voice_->Process(reinterpret_cast<const int16_t*>(buf[0]), static_cast<size_t>(got), processed_,
                        NextOutputPos() + swr_get_delay(toOutput_.get(), options_.outRate));
        stage = reinterpret_cast<const uint8_t*>(processed_.data());
        stageCount = static_cast<int>(processed_.size());
        if (stageCount == 0)
            return 0; // no whole 10 ms unit yet
    }
    if (!processing_ && !resampling_ && format_.sampleFormat == options_.outFormat &&
        format_.channels == options_.outChannels && format_.rate == options_.outRate) {
        // Delivered in the recording's own format (a program's stream): nothing to convert.
        passPlane_ = const_cast<uint8_t*>(stage);
        out = &passPlane_;
        return stageCount;
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

int64_t CaptureSource::PlacedStart() const
{
    // The anchor moved on by jumps and by what the resampler stretched or shrank.
    const double shift = static_cast<double>(jumps_ + outCount_) + PendingOutput() -
                         static_cast<double>(inCount_) * options_.outRate / format_.rate;
    return anchorNs_ + static_cast<int64_t>(shift * 1e9 / options_.outRate);
}

void CaptureSource::Timing(int64_t atNs, int64_t framesWritten, int64_t latencyNs)
{
    const int64_t latency = std::clamp<int64_t>(latencyNs, -kGapNs, kGapNs);
    const bool earlier = latency < latencyNs_ - kSettledNs;
    latencyNs_ = std::min(latencyNs_, latency);
    if (!begun_ || !anchored_ || framesWritten < segmentBase_)
        return; // nothing of this segment yet
    if (earlier && holding_) {
        // The packets' bounds so far were too early (a monitor's lead, known only now): the held
        // packets' bounds are gathered anew, from this report on.
        clock_.Reset();
        heldLowest_ = INT64_MAX;
    }
    clock_.Add(atNs, atNs - av_rescale(framesWritten - segmentBase_, 1'000'000'000, format_.rate) - latency);
}

void CaptureSource::Deliver(const void* data, int frames, int64_t arrivalNs)
{
    if (!begun_ || frames <= 0)
        return;
    auto boundFor = [&](int64_t counted) {
        return arrivalNs - av_rescale(counted + frames, 1'000'000'000, format_.rate) - latencyNs_;
    };
    if (!anchored_) {
        Anchor(arrivalNs);
    } else if (!holding_ && boundFor(inCount_) - PlacedStart() > kGapNs) {
        // The stream stalled and came back (or its packets queued up somewhere): what comes now
        // was captured now, not right after the last packet.
        LOG(INFO) << "capture timing: new segment, " << (boundFor(inCount_) - PlacedStart()) / 1'000'000
                  << " ms after the last";
        Anchor(arrivalNs);
    }
    clock_.Add(arrivalNs, boundFor(inCount_));

    if (holding_) {
        Hold(data, frames);
        ++heldPackets_;
        // Released once the bound stopped improving (this packet did not lower it noticeably).
        const bool settled = heldLowest_ - clock_.LowestBound() < kSettledNs;
        heldLowest_ = clock_.LowestBound();
        const int64_t held = arrivalNs - holdSince_;
        if (holding_ && held >= kHoldNs && ((heldPackets_ >= kHoldPackets && settled) || held >= kMaxHoldNs))
            ReleaseHold();
        return;
    }
    Steer(arrivalNs);
    uint8_t** out = nullptr;
    const int got = Take(data, frames, out);
    if (got <= 0)
        return;
    Place(out, got, anchorPos_ + jumps_ + outCount_);
    outCount_ += got;
}

void CaptureSource::Steer(int64_t nowNs)
{
    // Where the clock puts the segment's start, less where the samples are placed, in output
    // samples: > 0 when they are placed too early.
    const double error = static_cast<double>(clock_.StartAt(nowNs) - PlacedStart()) * options_.outRate / 1e9;
    misplacedSeen_ = std::llround(error);
    // A stream that jumped (its recent bounds far from the placement) moves at once.
    const double jump = static_cast<double>(clock_.RecentLowest() - PlacedStart()) * options_.outRate / 1e9;
    if (std::fabs(jump) > kJumpSamples) {
        jumps_ += std::llround(jump); // the FIFO turns the move into a gap or an overlap
        LOG(INFO) << "capture timing: moved by " << std::llround(jump) << " samples";
        swr_set_compensation(toOutput_.get(), 0, 0);
        clock_.Reset();
        clock_.Add(nowNs, PlacedStart());
        return;
    }
    // The device's clock against the system's, and a catch-up no faster than that while the
    // placement is more than the dead band off.
    const double drift = clock_.DriftPpm() * 1e-6;
    double stretch = drift;
    if (std::fabs(error) > kDeadbandSamples)
        stretch += std::clamp(error / (kCatchUpSeconds * options_.outRate), -kCatchUpFactor * std::fabs(drift),
                              kCatchUpFactor * std::fabs(drift));
    // Set again for every packet: a compensation lasts only its distance.
    compensation_ = static_cast<int>(std::llround(stretch * kCompensationDistance));
    if (compensation_ != 0 && !resampling_) {
        LOG(INFO) << "capture timing: " << clock_.DriftPpm() << " ppm against the system clock, "
                  << std::llround(error) << " samples off: resampling from now on";
        if (!OpenOutput(true)) {
            End(); // a broken converter: nothing more until the next stream
            return;
        }
    }
    swr_set_compensation(toOutput_.get(), compensation_, compensation_ ? kCompensationDistance : 0);
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
    streamCount_ += frames;
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
    anchorNs_ = clock_.LowestBound();
    anchorPos_ = ToPos(anchorNs_);
    if (outCount_ > 0 && !held_.empty()) {
        std::vector<uint8_t*> planes;
        for (std::vector<uint8_t>& plane : held_)
            planes.push_back(plane.data());
        Place(planes.data(), static_cast<int>(outCount_), anchorPos_);
    }
    held_.clear();
}

int64_t CaptureSource::NextOutputPos() const
{
    return (holding_ ? ToPos(clock_.LowestBound()) : anchorPos_ + jumps_) + outCount_;
}

void CaptureSource::Place(uint8_t* const* data, int count, int64_t pos)
{
    if (options_.echoOut) {
        const auto format = static_cast<AVSampleFormat>(options_.outFormat);
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        const bool flt = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_FLT;
        const int channels = options_.outChannels;
        reference_.assign(static_cast<size_t>(count), 0.0f);
        for (int c = 0; c < channels; ++c) {
            for (int i = 0; i < count; ++i) {
                const uint8_t* plane = data[planar ? c : 0];
                const int at = planar ? i : i * channels + c;
                reference_[i] += (flt ? reinterpret_cast<const float*>(plane)[at]
                                      : reinterpret_cast<const int16_t*>(plane)[at] / 32768.0f) / channels;
            }
        }
        options_.echoOut->Write(pos, reference_.data(), count);
    }
    if (!options_.referenceOnly)
        fifo_.Write(data, count, pos);
}

float CaptureSource::SamplePeak(const uint8_t* const* data, int count, int format, int channels)
{
    const auto sampleFormat = static_cast<AVSampleFormat>(format);
    const bool planar = av_sample_fmt_is_planar(sampleFormat) != 0;
    const int planes = planar ? channels : 1;
    const int perPlane = planar ? count : count * channels;
    float peak = 0;
    int peak16 = 0; // in integers: a loop the compiler vectorises
    for (int p = 0; p < planes; ++p) {
        if (av_get_packed_sample_fmt(sampleFormat) == AV_SAMPLE_FMT_FLT) {
            const auto* s = reinterpret_cast<const float*>(data[p]);
            for (int i = 0; i < perPlane; ++i)
                peak = std::max(peak, std::fabs(s[i]));
        } else if (av_get_packed_sample_fmt(sampleFormat) == AV_SAMPLE_FMT_S16) {
            const auto* s = reinterpret_cast<const int16_t*>(data[p]);
            for (int i = 0; i < perPlane; ++i)
                peak16 = std::max(peak16, std::abs(static_cast<int>(s[i])));
        }
    }
    return std::min(std::max(peak, static_cast<float>(peak16) / 32768.0f), 1.0f);
}

void CaptureSource::NotePeak(uint8_t** data, int count)
{
    if (!options_.measurePeak)
        return;
    const float peak = SamplePeak(data, count, options_.outFormat, options_.outChannels);
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
