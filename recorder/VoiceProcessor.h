#pragma once
// VoiceProcessor: the voice-processing stage of the microphone. Noise suppression and automatic
// gain control of the WebRTC audio processing library, on 32000 Hz mono signed 16-bit audio in
// fixed 10 ms units (320 samples = 640 bytes). Samples that do not fill a whole unit wait for the
// next call instead of being padded.
//
// Two library instances, one per component, created by Init whatever the switches say:
//   - the noise suppressor: suppression level "very high" (the legacy policy 3);
//   - the gain control: fixed digital mode, target level 3 dBFS, compression gain micGainDb
//     (clamped to 0..90 dB, the range the library accepts), limiter on.
// Only the components whose switch is on process audio. With both switches off every whole unit
// passes through unchanged (the recorder does not use the stage at all in that case).
// An echo canceller (SetEchoCanceller) comes first, before noise suppression and gain control:
// the order of the library's own chain; it needs the timeline position of the samples (Process).
//
// Thread-safety: none. The stage belongs to the thread that owns it (the microphone capture
// thread of a recorder); every method must be called from that thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class EchoCanceller;

namespace webrtc {
class AudioFrame;
class AudioProcessing;
} // namespace webrtc

class VoiceProcessor {
public:
    static constexpr int kSampleRate = 32000;
    // Conversions into kSampleRate pass up to this share of its upper limit (14.4 kHz). The
    // resampler's own default (0.97) lets what lies just above 16 kHz fold back into the band, and
    // the microphone and the echo canceller's reference are converted on sample grids of their own,
    // so each folds it differently and no echo model can follow: on white noise the canceller's
    // own stage stopped at 24-29 dB, 55 dB with this.
    static constexpr double kResampleCutoff = 0.9;
    // One processing unit: 10 ms at 32000 Hz mono, the unit the library works in at that rate.
    static constexpr size_t kChunkSamples = 320;
    // The accumulation buffer: 128000 bytes (just under 2 s). Larger input is processed in
    // pieces of at most this size, so the buffer never overflows.
    static constexpr size_t kAccumulationSamples = 128000 / sizeof(int16_t);
    // The position of the samples is not known (no echo cancellation for them).
    static constexpr int64_t kNoPosition = INT64_MIN;

    VoiceProcessor();
    virtual ~VoiceProcessor();
    VoiceProcessor(const VoiceProcessor&) = delete;
    VoiceProcessor& operator=(const VoiceProcessor&) = delete;

    // Creates and configures both instances; 0, or -1 after logging the failing step at error
    // severity ("WebRtcNs_Create error", "WebRtcNs_Init error", "WebRtcNs_set_policy error",
    // "WebRtcAgc_Create error", "WebRtcAgc_Init error", "WebRtcAgc_set_config error").
    // Forgets any samples still waiting from an earlier use.
    int Init(bool noiseSuppression, bool gainControl, int micGainDb);

    // Appends count samples (32000 Hz mono s16) after the samples still waiting, processes every
    // whole unit in order and appends the processed samples to out; the remaining partial unit
    // (< 320 samples) waits for the next call.
    //   - A unit whose noise suppression fails yields nothing.
    //   - A failing gain control step prints "failed in WebRtcAgc_Process\n" and ends the walk for
    //     this call: that unit and everything after it are kept for the next call (at most
    //     kAccumulationSamples; what does not fit is dropped and logged).
    // Before a successful Init the input is dropped.
    // pendingPos: the timeline position (44100 Hz) of the first sample waiting from earlier calls
    // (of the first new sample when none waits), for the echo canceller.
    void Process(const int16_t* samples, size_t count, std::vector<int16_t>& out, int64_t pendingPos = kNoPosition);

    // From now on every unit goes through echo first (null: no echo cancellation).
    void SetEchoCanceller(std::unique_ptr<EchoCanceller> echo);

    // Samples waiting for the next call.
    size_t PendingSamples() const { return fill_; }

    // The compression gain actually configured (micGainDb clamped to the library's range).
    int CompressionGainDb() const { return compressionGainDb_; }

protected:
    // One unit through one component; the library's result (0 = success). Tests replace these
    // to make a step fail.
    virtual int SuppressNoise(webrtc::AudioFrame& frame);
    virtual int ControlGain(webrtc::AudioFrame& frame);

private:
    struct ApDeleter {
        void operator()(webrtc::AudioProcessing* ap) const;
    };
    using ApPtr = std::unique_ptr<webrtc::AudioProcessing, ApDeleter>;

    // Walks the accumulation buffer in whole units; false when gain control failed (the walk
    // stopped there). Moves what was not processed to the buffer's start either way.
    bool WalkChunks(std::vector<int16_t>& out);

    std::unique_ptr<EchoCanceller> echo_;
    int64_t pendingPos_ = kNoPosition; // position of accumulation_[0]
    ApPtr noiseSuppressor_;
    ApPtr gainControl_;
    std::unique_ptr<webrtc::AudioFrame> frame_; // one unit on its way through the components
    bool noiseSuppressionOn_ = false;
    bool gainControlOn_ = false;
    int compressionGainDb_ = 0;
    bool initialised_ = false;

    // Accumulation buffer, allocated on first use; the first fill_ samples are waiting.
    std::vector<int16_t> accumulation_;
    size_t fill_ = 0;
};
