#pragma once
// EchoCanceller: takes the system sound out of the microphone, the sound the speakers played and
// the microphone heard again through the air. Two stages: our own adaptive filter (EchoFilter)
// learns the echo path and takes its estimate of the echo out (on a rig of one clock 30-60 dB),
// then the WebRTC library's echo canceller (its normal filter: 48 ms of echo path, at its low
// suppression level) takes what is left: what a linear model cannot hold (a laptop's speakers
// distort), the moments before the filter has learnt a new path. Once the filter takes 30 dB out
// on its own (EchoFilter::Holding), its output is taken as it is: the library's suppressor would
// take a voice talking over the far end down for the little echo left. Both get the reference of
// exactly the span each microphone unit was captured in, just before that unit: both come from
// the sound server's capture times (EchoReference), so the delay it is told is what the two
// positions differ by, not a guess, plus the echo path: the time from what the sink played (its
// monitor) to what the microphone heard of it, the sink's buffer and the room. That path is
// measured from the signals themselves (EchoPathEstimator, over the last second, twenty times a
// second) and followed when the echo falls outside the filter's first half: the reference is then
// given shifted by the path (the library is told a small constant delay; it follows a changed
// delay only after it has held for a quarter second). (The library's own delay estimate reports
// nothing for its first five seconds, and its delay-agnostic mode follows only after 15 s.)
//
// Units come in order; the reference is read on from where the last unit's ended while the
// microphone's positions follow on (within kSlackPositions), and starts again at the unit's own
// position after a jump of the microphone (a stall, a new device, a resumed stream); the filter
// keeps its model then.
//
// Thread-safety: none; the microphone's capture worker owns it (through its VoiceProcessor).

#include "EchoFilter.h"
#include "EchoPathEstimator.h"

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
    // The echo path is looked at twenty times a second (the estimate covers the last second: a
    // changed path wins it within about half a second).
    static constexpr int kPathUnits = 5;
    // The echo is kept this far into the filter (a path estimate is good to a block of 5 ms, the
    // sound of the echo path smears the echo over a few ms before its peak, and the room's
    // reverberation follows it), and followed when it lies outside [kPathMarginMs / 2,
    // kPathToleranceMs]: the filter covers 48 ms.
    static constexpr int kPathMarginMs = 20;
    static constexpr int kPathToleranceMs = 32;

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
    bool NewConverter();
    bool Restart(int64_t pos);     // the reference starts anew at pos
    bool Splice(int64_t from);     // the reference is read from here on, where the shift now puts it
    void ConvertUnit(int64_t from); // one unit of the reference from there into referenceFrame_
    void FollowEchoPath();

    EchoReference& reference_;
    std::unique_ptr<webrtc::AudioProcessing, ApDeleter> apm_;
    std::unique_ptr<SwrContext, SwrDeleter> toUnit_; // reference 44100 Hz float -> 32000 Hz s16
    std::unique_ptr<webrtc::AudioFrame> referenceFrame_;
    std::vector<float> read_;        // one unit of the reference as read
    std::vector<int16_t> converted_; // converted reference not yet given to the library
    std::vector<int16_t> filtered_;  // the unit after our filter, before the library
    bool wasHolding_ = false;        // the last unit was our filter's output alone
    bool splice_ = false;            // the shift changed: the next unit's reference is spliced on
    bool referenceThere_ = true;     // the last unit's reference was written in time
    int64_t cursor_ = INT64_MIN;     // next reference position to read; INT64_MIN: start anew
    int64_t lastReferencePos_ = INT64_MIN;
    int lastDelayMs_ = 0;
    int echoPathMs_ = 0;
    int shiftMs_ = 0; // of the path: the reference is read this much earlier than the unit's span
    static constexpr int kNoCandidate = -100000;
    int candidateMs_ = kNoCandidate; // the path the last look found
    int heldMs_ = kNoCandidate;      // the path last followed
    EchoPathEstimator path_;
    EchoFilter filter_;
    int units_ = 0; // since the echo path was last looked at
};
