#include "VoiceProcessor.h"

#include "EchoCanceller.h"
#include "TextUtil.h"

#include <glog/logging.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>
#include <cstring>

namespace {

// The gain control's analog level range of the legacy initialisation (minimum 0, maximum 255);
// fixed digital mode does not use it, the library only wants a valid range.
constexpr int kAgcMinLevel = 0;
constexpr int kAgcMaxLevel = 255;
// Target peak level of the gain control: 3 dB below digital full scale.
constexpr int kAgcTargetLevelDbfs = 3;
// The compression gain range the library accepts, in dB.
constexpr int kAgcMinCompressionGainDb = 0;
constexpr int kAgcMaxCompressionGainDb = 90;

// An instance with the plain legacy components only. The library's "experimental" gain control
// is on by default; it replaces the configured fixed gain by an adaptive one of its own (7 dB,
// target 2 dBFS), so it is switched off here.
webrtc::AudioProcessing* CreateLegacyInstance()
{
    webrtc::Config extra;
    extra.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
    extra.Set<webrtc::ExperimentalNs>(new webrtc::ExperimentalNs(false));
    return webrtc::AudioProcessing::Create(extra);
}

webrtc::ProcessingConfig MonoConfig()
{
    webrtc::ProcessingConfig config;
    for (auto& stream : config.streams) {
        stream = webrtc::StreamConfig(VoiceProcessor::kSampleRate, 1);
    }
    return config;
}

} // namespace

void VoiceProcessor::ApDeleter::operator()(webrtc::AudioProcessing* ap) const
{
    delete ap;
}

VoiceProcessor::VoiceProcessor() : frame_(std::make_unique<webrtc::AudioFrame>()) {}

VoiceProcessor::~VoiceProcessor() = default;

int VoiceProcessor::Init(bool noiseSuppression, bool gainControl, int micGainDb)
{
    initialised_ = false;
    fill_ = 0;
    noiseSuppressionOn_ = noiseSuppression;
    gainControlOn_ = gainControl;
    compressionGainDb_ = std::clamp(micGainDb, kAgcMinCompressionGainDb, kAgcMaxCompressionGainDb);
    const webrtc::ProcessingConfig config = MonoConfig();

    noiseSuppressor_.reset(CreateLegacyInstance());
    if (!noiseSuppressor_) {
        LOG(ERROR) << "WebRtcNs_Create error";
        return -1;
    }
    if (noiseSuppressor_->Initialize(config) != webrtc::AudioProcessing::kNoError) {
        LOG(ERROR) << "WebRtcNs_Init error";
        return -1;
    }
    webrtc::NoiseSuppression* ns = noiseSuppressor_->noise_suppression();
    if (ns->set_level(webrtc::NoiseSuppression::kVeryHigh) != webrtc::AudioProcessing::kNoError ||
        ns->Enable(noiseSuppression) != webrtc::AudioProcessing::kNoError) {
        LOG(ERROR) << "WebRtcNs_set_policy error";
        return -1;
    }

    gainControl_.reset(CreateLegacyInstance());
    if (!gainControl_) {
        LOG(ERROR) << "WebRtcAgc_Create error";
        return -1;
    }
    webrtc::GainControl* agc = gainControl_->gain_control();
    if (gainControl_->Initialize(config) != webrtc::AudioProcessing::kNoError ||
        agc->set_analog_level_limits(kAgcMinLevel, kAgcMaxLevel) != webrtc::AudioProcessing::kNoError ||
        agc->set_mode(webrtc::GainControl::kFixedDigital) != webrtc::AudioProcessing::kNoError) {
        LOG(ERROR) << "WebRtcAgc_Init error";
        return -1;
    }
    if (agc->set_target_level_dbfs(kAgcTargetLevelDbfs) != webrtc::AudioProcessing::kNoError ||
        agc->set_compression_gain_db(compressionGainDb_) != webrtc::AudioProcessing::kNoError ||
        agc->enable_limiter(true) != webrtc::AudioProcessing::kNoError ||
        agc->Enable(gainControl) != webrtc::AudioProcessing::kNoError) {
        LOG(ERROR) << "WebRtcAgc_set_config error";
        return -1;
    }

    initialised_ = true;
    return 0;
}

int VoiceProcessor::SuppressNoise(webrtc::AudioFrame& frame)
{
    return noiseSuppressor_->ProcessStream(&frame);
}

int VoiceProcessor::ControlGain(webrtc::AudioFrame& frame)
{
    return gainControl_->ProcessStream(&frame);
}

void VoiceProcessor::SetEchoCanceller(std::unique_ptr<EchoCanceller> echo)
{
    echo_ = std::move(echo);
}

void VoiceProcessor::Process(const int16_t* samples, size_t count, std::vector<int16_t>& out, int64_t pendingPos)
{
    pendingPos_ = pendingPos;
    if (!initialised_) {
        return;
    }
    if (accumulation_.empty()) {
        accumulation_.resize(kAccumulationSamples);
    }
    // Fill the buffer as far as it goes and walk it, until the input is used up; the buffer
    // always has room for at least one more unit after a complete walk.
    size_t used = 0;
    for (;;) {
        const size_t take = std::min(count - used, kAccumulationSamples - fill_);
        std::copy_n(samples + used, take, accumulation_.data() + fill_);
        fill_ += take;
        used += take;
        if (!WalkChunks(out)) {
            break;
        }
        if (used == count) {
            return;
        }
    }
    // Gain control failed: the rest of the input waits behind the unprocessed units, as far as
    // the buffer holds it.
    const size_t keep = std::min(count - used, kAccumulationSamples - fill_);
    std::copy_n(samples + used, keep, accumulation_.data() + fill_);
    fill_ += keep;
    used += keep;
    if (used < count) {
        LOG(ERROR) << "voice processing backlog full, " << (count - used) << " samples dropped";
    }
}

bool VoiceProcessor::WalkChunks(std::vector<int16_t>& out)
{
    bool walked = true;
    size_t pos = 0;
    for (; fill_ - pos >= kChunkSamples; pos += kChunkSamples) {
        webrtc::AudioFrame& frame = *frame_;
        frame.UpdateFrame(-1, 0, accumulation_.data() + pos, kChunkSamples, kSampleRate,
                          webrtc::AudioFrame::kNormalSpeech, webrtc::AudioFrame::kVadUnknown, 1);
        // A unit the canceller fails on goes on as the microphone heard it.
        if (echo_ && pendingPos_ != kNoPosition &&
            echo_->Process(frame, pendingPos_ + static_cast<int64_t>(pos / kChunkSamples) * EchoCanceller::kUnitPositions) !=
                webrtc::AudioProcessing::kNoError) {
            LOG_EVERY_N(ERROR, 100) << "echo cancellation error";
        }
        if (noiseSuppressionOn_ && SuppressNoise(frame) != webrtc::AudioProcessing::kNoError) {
            continue; // this unit yields nothing
        }
        if (gainControlOn_ && ControlGain(frame) != webrtc::AudioProcessing::kNoError) {
            LOG(ERROR) << "failed in WebRtcAgc_Process";
            walked = false;
            break; // this unit and the rest wait for the next call
        }
        out.insert(out.end(), frame.data_, frame.data_ + kChunkSamples);
    }
    std::memmove(accumulation_.data(), accumulation_.data() + pos, (fill_ - pos) * sizeof(int16_t));
    fill_ -= pos;
    if (pendingPos_ != kNoPosition)
        pendingPos_ += static_cast<int64_t>(pos / kChunkSamples) * EchoCanceller::kUnitPositions;
    return walked;
}
