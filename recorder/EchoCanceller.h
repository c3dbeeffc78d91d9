#pragma once
// EchoCanceller: takes the system sound out of the microphone, the sound the speakers played and
// the microphone heard again through the air. The WebRTC library's echo canceller (extended
// filter: 128 ms of echo path) gets the reference of exactly the span each microphone unit was
// captured in, just before that unit: both come from the sound server's capture times
// (EchoReference), so the delay it is told is what the two positions differ by, not a guess, plus
// the echo path: the time from what the sink played (its monitor) to what the microphone heard of
// it, the sink's buffer and the room. The library's delay estimate measures that path (from the
// signals, once a second); the delay told follows it when the echo falls outside the filter's
// first half. (The library's own delay-agnostic mode would follow only after 15 s.)
//
// Units come in order; the reference is read on from where the last unit's ended while the
// microphone's positions follow on (within kSlackPositions), and starts again at the unit's own
// position after a jump of the microphone (a stall, a new device, a resumed stream).
//
// Thread-safety: none; the microphone's capture worker owns it (through its VoiceProcessor).

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class EchoReference;
struct SwrContext;

namespace webrtc {
class AudioFrame;
class AudioProcessing;
} // namespace webrtc

class EchoCanceller {
public:
    // One 10 ms unit in timeline positions (44100 Hz).
    static constexpr int kUnitPositions = 441;
    // A unit that starts this close to where the last one ended follows on: the microphone's
    // placement moves by a sample now and then (drift steering), which is no jump.
    static constexpr int64_t kSlackPositions = 220;
    // How long the microphone waits for the reference of its unit: the two streams' packets reach
    // their workers up to a packet (50 ms) and a wake-up (40 ms) apart.
    static constexpr std::chrono::milliseconds kReferenceWait{150};
    // The echo path is looked at once a second (the library's delay estimate is aggregated over
    // a second).
    static constexpr int kPathUnits = 100;
    // The first look comes sooner: half a second of echo gives a clear estimate, and the filter
    // needs its second or so to converge after it.
    static constexpr int kFirstPathUnits = 50;
    // The echo is kept this far into the filter (a path estimate is good to a block of 4 ms, and
    // the room's reverberation follows the direct echo), and followed when it lies outside
    // [0, kPathToleranceMs]: the filter covers 128 ms, so anything within half of it is cancelled.
    static constexpr int kPathMarginMs = 12;
    static constexpr int kPathToleranceMs = 64;
    // The estimate is trusted when the second's estimates lie this close together (a clear echo
    // gives one value; without an echo they scatter over the whole range).
    static constexpr int kMaxDeviationMs = 16;

    explicit EchoCanceller(EchoReference& reference);
    virtual ~EchoCanceller();
    EchoCanceller(const EchoCanceller&) = delete;
    EchoCanceller& operator=(const EchoCanceller&) = delete;

    // Creates the library's instance; 0, or -1 after logging "echo canceller init error".
    int Init();
    // unit: 10 ms of the microphone (32000 Hz mono), captured from timeline position pos; cleaned
    // in place. The library's result (0 = success).
    int Process(webrtc::AudioFrame& unit, int64_t pos);

    // The timeline position of the reference given with the last unit, and the delay told (tests).
    int64_t LastReferencePos() const { return lastReferencePos_; }
    int LastDelayMs() const { return lastDelayMs_; }
    // The echo path followed so far, in ms.
    int EchoPathMs() const { return echoPathMs_; }

protected:
    // The reference unit, then the microphone unit, through the library (tests replace it to see
    // what goes in).
    virtual int Cancel(webrtc::AudioFrame& reference, webrtc::AudioFrame& unit, int delayMs);

private:
    struct ApDeleter {
        void operator()(webrtc::AudioProcessing* ap) const;
    };
    struct SwrDeleter {
        void operator()(SwrContext* s) const;
    };
    bool Restart(int64_t pos); // the reference starts anew at pos
    void FollowEchoPath();

    EchoReference& reference_;
    std::unique_ptr<webrtc::AudioProcessing, ApDeleter> apm_;
    std::unique_ptr<SwrContext, SwrDeleter> toUnit_; // reference 44100 Hz float -> 32000 Hz s16
    std::unique_ptr<webrtc::AudioFrame> referenceFrame_;
    std::vector<float> read_;        // one unit of the reference as read
    std::vector<int16_t> converted_; // converted reference not yet given to the library
    int64_t cursor_ = INT64_MIN;     // next reference position to read; INT64_MIN: start anew
    int64_t lastReferencePos_ = INT64_MIN;
    int lastDelayMs_ = 0;
    int echoPathMs_ = 0;
    int units_ = 0; // since the echo path was last looked at
};
