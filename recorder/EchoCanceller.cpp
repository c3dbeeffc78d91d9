#include "EchoCanceller.h"

#include "EchoReference.h"
#include "VoiceProcessor.h"

#include <glog/logging.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kTimelineRate = 44100;
constexpr int kUnitSamples = static_cast<int>(VoiceProcessor::kChunkSamples);
constexpr int kUnitMs = 10;
// The longest delay the library takes (its far-end history); a larger one is clamped by it anyway.
constexpr int kMaxDelayMs = 500;
// The residual echo suppressor's strength: the low level keeps most of a voice that talks over
// the far end (moderate took about 8 dB more off it, high 30 dB more). Not off: with our filter
// alone a path found late or a wrong one leaves the whole echo (9-13 dB instead of 30-60 on the
// rig), and a laptop's distorting speakers leave what no linear filter takes; the price, until
// our filter holds the echo, is a narrow-band voice over a far end loud in the same band (a 5 kHz
// tone over speech 5-8 dB weaker, over white noise up to 16 dB; a second voice 0-2.4 dB).
constexpr auto kSuppression = webrtc::EchoCancellation::kLowSuppression;
// The delay the library is told once the echo path is known; the reference is given shifted by
// the rest of the path. The library moves its own far-end buffer only after a changed delay has
// held for about a quarter second, so a path followed by the delay alone reached its filter late;
// shifted here, the echo lands where it lay before the moment the path is followed.
constexpr int kToldDelayMs = 10;

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
    : reference_(reference), referenceFrame_(std::make_unique<webrtc::AudioFrame>()), read_(kUnitPositions),
      filtered_(kUnitSamples)
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
    wasHolding_ = splice_ = false;
    echoPathMs_ = shiftMs_ = 0;
    candidateMs_ = heldMs_ = kNoCandidate;
    units_ = 0;
    return 0;
}

void EchoCanceller::FollowEchoPath()
{
    const std::optional<int> found =
        path_.Estimate(shiftMs_, heldMs_ == kNoCandidate ? std::nullopt : std::optional<int>(heldMs_ - shiftMs_));
    if (!found) {
        candidateMs_ = kNoCandidate;
        return; // no echo heard (nothing played, or the microphone is off), or no clear one
    }
    const int path = *found + shiftMs_;  // the estimate is against the shifted reference
    const int into = path - echoPathMs_; // how far into the filter the echo lies
    // A path is followed when two looks in a row find it (a chance match seldom holds), and only
    // where it moves the echo in the filter.
    const bool again = std::abs(path - candidateMs_) <= EchoPathEstimator::kBlockMs;
    candidateMs_ = path;
    // A filter that takes most of the echo out knows where it is: a match outside the filter is
    // then chance (on noise the levels match now and then at a lag far off; a voice in the room
    // makes them match less and lets chance win more often), and a path that really changed leaves
    // the echo in the output (and lets the filter let go) within a fifth of a second. Inside, the
    // placement moves with what was learnt.
    const bool inFilter = path - shiftMs_ >= 0 && path - shiftMs_ < EchoFilter::kPartitions * kUnitMs;
    const bool heldByFilter = filter_.Cancelling() || filter_.Holding();
    const bool outsideMargins = into > kPathToleranceMs || (into < kPathMarginMs / 2 && echoPathMs_ > 0);
    if (again && (inFilter || !heldByFilter) && outsideMargins) {
        // Whole units: the filter then moves by whole blocks and keeps what it learnt.
        echoPathMs_ = std::clamp(path - kPathMarginMs, 0, kMaxDelayMs) / kUnitMs * kUnitMs;
        const int shift = std::max(echoPathMs_ - kToldDelayMs, 0);
        if (shift != shiftMs_) {
            path_ = EchoPathEstimator(); // its history of the reference no longer lines up
            splice_ = true;
        }
        filter_.Realign((shift - shiftMs_) / kUnitMs);
        shiftMs_ = shift;
        heldMs_ = path;
        LOG(INFO) << "echo path " << echoPathMs_ << " ms";
    }
}

bool EchoCanceller::NewConverter()
{
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, VoiceProcessor::kSampleRate, &mono, AV_SAMPLE_FMT_FLT,
                            kTimelineRate, 0, nullptr) < 0 ||
        !swr || av_opt_set_double(swr, "cutoff", VoiceProcessor::kResampleCutoff, 0) < 0 ||
        swr_init(swr) < 0) {
        swr_free(&swr);
        LOG(ERROR) << "echo reference swr init error";
        return false;
    }
    toUnit_.reset(swr);
    converted_.clear();
    return true;
}

bool EchoCanceller::Splice(int64_t from)
{
    if (!NewConverter())
        return false;
    // The unit before, converted and dropped: the converter's own delay is filled with what came
    // before, and its output goes on as if it had always read from here (no click in the reference
    // for the filter to learn from: a click cost a model that held the echo 20 dB for a second).
    reference_.Read(from - kUnitPositions, kUnitPositions, read_.data());
    const uint8_t* in = reinterpret_cast<const uint8_t*>(read_.data());
    converted_.resize(static_cast<size_t>(std::max(swr_get_out_samples(toUnit_.get(), kUnitPositions), 0)));
    uint8_t* out = reinterpret_cast<uint8_t*>(converted_.data());
    swr_convert(toUnit_.get(), &out, static_cast<int>(converted_.size()), &in, kUnitPositions);
    converted_.clear();
    return true;
}

void EchoCanceller::ConvertUnit(int64_t from)
{
    reference_.Read(from, kUnitPositions, read_.data());
    const uint8_t* in = reinterpret_cast<const uint8_t*>(read_.data());
    const int room = swr_get_out_samples(toUnit_.get(), kUnitPositions);
    const size_t had = converted_.size();
    converted_.resize(had + static_cast<size_t>(std::max(room, 0)));
    uint8_t* out = reinterpret_cast<uint8_t*>(converted_.data() + had);
    const int got = swr_convert(toUnit_.get(), &out, room, &in, kUnitPositions);
    converted_.resize(had + static_cast<size_t>(std::max(got, 0)));
    if (converted_.size() < static_cast<size_t>(kUnitSamples))
        converted_.insert(converted_.begin(), kUnitSamples - converted_.size(), 0);
    referenceFrame_->UpdateFrame(-1, 0, converted_.data(), kUnitSamples, VoiceProcessor::kSampleRate,
                                 webrtc::AudioFrame::kNormalSpeech, webrtc::AudioFrame::kVadUnknown, 1);
    converted_.erase(converted_.begin(), converted_.begin() + kUnitSamples);
}

bool EchoCanceller::Restart(int64_t pos)
{
    const bool moved = cursor_ != INT64_MIN;
    if (moved)
        LOG(INFO) << "echo reference starts anew, the microphone moved by " << pos - cursor_ << " positions";
    cursor_ = pos;
    path_ = EchoPathEstimator(); // the two signals' history no longer lines up
    filter_.ForgetReference();   // the echo path is where it was
    if (!moved)
        return NewConverter();
    // The reference before the new place is there: the model's history is read back from it, so
    // that a model that held the echo cancels from the first unit on (it started from silence and
    // let 80 ms of echo through).
    const int64_t from = pos - static_cast<int64_t>(shiftMs_) * kTimelineRate / 1000 -
                         EchoFilter::kPartitions * kUnitPositions;
    splice_ = false;
    if (!Splice(from))
        return false;
    for (int unit = 0; unit < EchoFilter::kPartitions; ++unit) {
        ConvertUnit(from + unit * kUnitPositions);
        filter_.Prime(referenceFrame_->data_);
    }
    return true;
}

int EchoCanceller::Process(webrtc::AudioFrame& unit, int64_t pos)
{
    if (!apm_)
        return webrtc::AudioProcessing::kNotEnabledError;
    if ((cursor_ == INT64_MIN || std::llabs(pos - cursor_) > kSlackPositions) && !Restart(pos))
        return webrtc::AudioProcessing::kUnspecifiedError;

    // The reference of the unit's span, converted to the unit's format. The converter's own
    // delay (a few samples) is made up by silence before the first unit after a start.
    const int64_t from = cursor_ - static_cast<int64_t>(shiftMs_) * kTimelineRate / 1000;
    if (splice_) {
        splice_ = false;
        if (!Splice(from))
            return webrtc::AudioProcessing::kUnspecifiedError;
    }
    const bool there = reference_.WaitFor(from + kUnitPositions, kReferenceWait);
    if (there != referenceThere_)
        LOG(INFO) << (there ? "echo reference caught up" : "echo reference late: the unit gets silence");
    referenceThere_ = there;
    ConvertUnit(from);
    lastReferencePos_ = from;
    path_.Add(referenceFrame_->data_, unit.data_, kUnitSamples);
    filter_.Process(referenceFrame_->data_, unit.data_);
    lastDelayMs_ = static_cast<int>(
        std::clamp<int64_t>((pos - cursor_) * 1000 / kTimelineRate + echoPathMs_ - shiftMs_, 0, kMaxDelayMs));
    cursor_ += kUnitPositions;
    // While our filter holds the echo, the library's output is not taken: its suppressor, told of
    // echo wherever the far end is loud, would take a voice that talks over it down by 5-9 dB in
    // those bands, where the filter has left only a residue 30 dB down. It still sees every unit,
    // so that it is ready when the filter lets go (a new path, a model started afresh). A change
    // either way fades over the unit.
    const bool holding = filter_.Holding();
    if (holding || wasHolding_)
        std::copy_n(unit.data_, kUnitSamples, filtered_.begin());
    const int result = Cancel(*referenceFrame_, unit, lastDelayMs_);
    if (holding || wasHolding_) {
        for (int i = 0; i < kUnitSamples; ++i) {
            const float ours = holding == wasHolding_ ? 1.0f
                               : holding          ? (i + 1.0f) / kUnitSamples
                                                  : 1.0f - (i + 1.0f) / kUnitSamples;
            unit.data_[i] = static_cast<int16_t>(std::lround(ours * filtered_[i] + (1 - ours) * unit.data_[i]));
        }
        if (holding != wasHolding_)
            LOG(INFO) << (holding ? "echo filter holds the echo" : "echo filter lets go of the echo");
    }
    wasHolding_ = holding;
    // A path followed from here on: the reference of this unit was read where the last path put it.
    if (++units_ >= kPathUnits) {
        units_ = 0;
        FollowEchoPath();
    }
    return result;
}

int EchoCanceller::Cancel(webrtc::AudioFrame& reference, webrtc::AudioFrame& unit, int delayMs)
{
    const int reverse = apm_->ProcessReverseStream(&reference);
    if (reverse != webrtc::AudioProcessing::kNoError)
        return reverse;
    apm_->set_stream_delay_ms(delayMs);
    return apm_->ProcessStream(&unit);
}
