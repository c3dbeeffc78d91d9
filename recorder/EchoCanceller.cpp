#include "EchoCanceller.h"

#include "EchoReference.h"
#include "VoiceProcessor.h"

#include <glog/logging.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kTimelineRate = 44100;
constexpr int kUnitSamples = static_cast<int>(VoiceProcessor::kChunkSamples);
constexpr int kUnitMs = 10;
// The speakers' clock against the microphone's (or a sound server's rate control between them)
// moves the echo by a sample or two a second, which a filter of its fixed place cannot follow at
// high frequencies (white noise: 7 dB instead of 70): the drift is read from where the filter's echo
// moves every half second and the reference resampled to keep pace; each reading corrects the
// estimate by half of what it shows; at most 500 ppm, below 0.05 samples a second none. An echo
// that moved further than kMaxDriftStep in one look moved place (another path, or the filter's peak
// went to a neighbouring ripple of a band-limited echo): no drift is read from it.
constexpr int kDriftUnits = 50;
// Reference held back at a start (1 ms): what the drift may shrink before the reference steps a
// unit back.
constexpr size_t kCushion = 32;
constexpr double kDriftGain = 0.5;
constexpr double kMaxDrift = 16;
constexpr double kMaxDriftStep = 8;
constexpr double kMinDrift = 0.05;
// The longest delay the library takes (its far-end history); a larger one is clamped by it anyway.
constexpr int kMaxDelayMs = 500;
// The residual echo suppressor's strength: the low level keeps most of a voice that talks over
// the far end (moderate took about 8 dB more off it, high 30 dB more) and leaves the echo as far
// down as the others once the filter has converged.
constexpr auto kSuppression = webrtc::EchoCancellation::kLowSuppression;

} // namespace

void EchoCanceller::ApDeleter::operator()(webrtc::AudioProcessing* ap) const
{
    delete ap;
}

void EchoCanceller::SwrDeleter::operator()(SwrContext* s) const
{
    swr_free(&s);
}

EchoCanceller::EchoCanceller(EchoReference& reference)
    : reference_(reference), referenceFrame_(std::make_unique<webrtc::AudioFrame>()), read_(kUnitPositions)
{
}

EchoCanceller::~EchoCanceller() = default;

int EchoCanceller::Init()
{
    // Only the echo canceller: noise suppression and gain control have instances of their own
    // after this one (VoiceProcessor), so the library's other processing is switched off.
    webrtc::Config extra;
    extra.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
    extra.Set<webrtc::ExperimentalNs>(new webrtc::ExperimentalNs(false));
    // The delay it is told (FollowEchoPath) rather than its own slow estimate, and the normal
    // filter: the extended one comes with a suppressor that overdrives every band by the echo of
    // the loudest, which buried a voice talking over a broadband far end (about -40 dB); the echo
    // path is measured and followed, so the shorter filter still holds the echo.
    extra.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(false));
    extra.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(false));
    apm_.reset(webrtc::AudioProcessing::Create(extra));
    webrtc::ProcessingConfig config;
    for (auto& stream : config.streams)
        stream = webrtc::StreamConfig(VoiceProcessor::kSampleRate, 1);
    webrtc::EchoCancellation* aec = apm_ ? apm_->echo_cancellation() : nullptr;
    if (!aec || apm_->Initialize(config) != webrtc::AudioProcessing::kNoError ||
        aec->enable_drift_compensation(false) != webrtc::AudioProcessing::kNoError ||
        aec->set_suppression_level(kSuppression) != webrtc::AudioProcessing::kNoError ||
        aec->Enable(true) != webrtc::AudioProcessing::kNoError) {
        LOG(ERROR) << "echo canceller init error";
        apm_.reset();
        return -1;
    }
    if (!filter_.Init()) {
        LOG(ERROR) << "echo filter init error";
        apm_.reset();
        return -1;
    }
    cursor_ = INT64_MIN;
    echoPathMs_ = 0;
    filter_.SetDelay(0);
    units_ = 0;
    return 0;
}

void EchoCanceller::FollowEchoPath()
{
    const std::optional<int> path = path_.Estimate();
    if (!path)
        return; // no echo heard (nothing played, or the microphone is off), or no clear one
    const int into = *path - echoPathMs_; // how far into the filter the echo lies
    if (into > kPathToleranceMs || into < kPathMarginMs / 2) {
        // Whole units: the filter then moves by whole partitions and keeps what it learnt.
        echoPathMs_ = std::clamp(*path - kPathMarginMs, 0, kMaxDelayMs) / kUnitMs * kUnitMs;
        filter_.SetDelay(echoPathMs_ / kUnitMs);
        LOG(INFO) << "echo path " << echoPathMs_ << " ms";
    }
}

void EchoCanceller::ShiftReference(int units)
{
    const int pathMs = echoPathMs_ + units * kUnitMs;
    if (pathMs < 0 || pathMs > kMaxDelayMs)
        return;
    echoPathMs_ = pathMs;
    filter_.SetDelay(echoPathMs_ / kUnitMs);
    LOG(INFO) << "echo reference stepped " << units << " unit (drift " << drift_ << " samples/s), echo path "
              << echoPathMs_ << " ms";
}

void EchoCanceller::FollowDrift()
{
    const double peak = filter_.PeakLag();
    if (peak < 0) {
        lastLag_ = -1;
        return;
    }
    // The echo's place behind the reference as given, in samples: it stays put while the
    // reference keeps pace with the speakers' clock.
    const double lag = filter_.Delay() * kUnitSamples + peak;
    if (lastLag_ >= 0 && std::abs(lag - lastLag_) <= kMaxDriftStep) {
        const double moved = (lag - lastLag_) * 1000.0 / (kDriftUnits * kUnitMs); // samples a second
        drift_ = std::clamp(drift_ + kDriftGain * moved, -kMaxDrift, kMaxDrift);
        // One sample more (or fewer) every so many: the reference stretched (or shrunk) by the drift.
        if (std::abs(drift_) >= kMinDrift)
            swr_set_compensation(toUnit_.get(), drift_ > 0 ? 1 : -1,
                                 static_cast<int>(VoiceProcessor::kSampleRate / std::abs(drift_)));
        else
            swr_set_compensation(toUnit_.get(), 0, 0);
    }
    lastLag_ = lag;
}

bool EchoCanceller::Restart(int64_t pos)
{
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, VoiceProcessor::kSampleRate, &mono, AV_SAMPLE_FMT_FLT,
                            kTimelineRate, 0, nullptr) < 0 ||
        !swr || swr_init(swr) < 0) {
        swr_free(&swr);
        LOG(ERROR) << "echo reference swr init error";
        return false;
    }
    toUnit_.reset(swr);
    converted_.clear();
    cursor_ = pos;
    path_ = EchoPathEstimator(); // the two signals' history no longer lines up
    filter_.Reset();
    backlog_ = -1;
    drift_ = 0;
    lastLag_ = -1;
    driftUnits_ = 0;
    return true;
}

int EchoCanceller::Process(webrtc::AudioFrame& unit, int64_t pos)
{
    if (!apm_)
        return webrtc::AudioProcessing::kNotEnabledError;
    if ((cursor_ == INT64_MIN || std::llabs(pos - cursor_) > kSlackPositions) && !Restart(pos))
        return webrtc::AudioProcessing::kUnspecifiedError;

    // The reference of the unit's span, converted to the unit's format.
    reference_.WaitFor(cursor_ + kUnitPositions, kReferenceWait);
    reference_.Read(cursor_, kUnitPositions, read_.data());
    const uint8_t* in = reinterpret_cast<const uint8_t*>(read_.data());
    const int room = swr_get_out_samples(toUnit_.get(), kUnitPositions);
    const size_t had = converted_.size();
    converted_.resize(had + static_cast<size_t>(std::max(room, 0)));
    uint8_t* out = reinterpret_cast<uint8_t*>(converted_.data() + had);
    const int got = swr_convert(toUnit_.get(), &out, room, &in, kUnitPositions);
    converted_.resize(had + static_cast<size_t>(std::max(got, 0)));
    if (backlog_ < 0) {
        // After a start: the converter's delay (a few samples) made up by silence, and kCushion
        // more, so that a reference shrunk by a sample or two does not run short at once.
        converted_.insert(converted_.begin(), kUnitSamples + kCushion - std::min<size_t>(converted_.size(), kUnitSamples), 0);
    } else if (converted_.size() < static_cast<size_t>(kUnitSamples)) {
        // Shrunk by the cushion: the reference steps a unit back, the echo path a unit shorter.
        converted_.insert(converted_.begin(), kUnitSamples, 0);
        ShiftReference(-1);
    }

    referenceFrame_->UpdateFrame(-1, 0, converted_.data(), kUnitSamples, VoiceProcessor::kSampleRate,
                                 webrtc::AudioFrame::kNormalSpeech, webrtc::AudioFrame::kVadUnknown, 1);
    converted_.erase(converted_.begin(), converted_.begin() + kUnitSamples);
    if (backlog_ < 0)
        backlog_ = static_cast<int>(converted_.size());
    else if (converted_.size() >= static_cast<size_t>(backlog_ + kUnitSamples)) {
        // Stretched by a unit: the reference steps a unit ahead, the echo path a unit longer.
        converted_.erase(converted_.begin(), converted_.begin() + kUnitSamples);
        ShiftReference(1);
    }
    lastReferencePos_ = cursor_;
    path_.Add(referenceFrame_->data_, unit.data_, kUnitSamples);
    if (++units_ >= kPathUnits) {
        units_ = 0;
        FollowEchoPath();
    }
    filter_.Process(referenceFrame_->data_, unit.data_);
    if (++driftUnits_ >= kDriftUnits) {
        driftUnits_ = 0;
        FollowDrift();
    }
    lastDelayMs_ = static_cast<int>(
        std::clamp<int64_t>((pos - cursor_) * 1000 / kTimelineRate + echoPathMs_, 0, kMaxDelayMs));
    cursor_ += kUnitPositions;
    return Cancel(*referenceFrame_, unit, lastDelayMs_);
}

int EchoCanceller::Cancel(webrtc::AudioFrame& reference, webrtc::AudioFrame& unit, int delayMs)
{
    const int reverse = apm_->ProcessReverseStream(&reference);
    if (reverse != webrtc::AudioProcessing::kNoError)
        return reverse;
    apm_->set_stream_delay_ms(delayMs);
    return apm_->ProcessStream(&unit);
}
