#pragma once
// EchoReference: the system sound as the microphone's echo canceller needs it, mono, at the
// recording's timeline positions (44100 Hz, the positions of the SampleFifo).
//
// The system source writes what it places, at the positions it places it; the microphone's
// canceller reads the reference of the span its microphone samples were captured in. Both sources
// are placed by the sound server's capture times, so a span read here is what the speaker played
// while the microphone listened. Spans nothing was written for (a stall of the system sound, a
// time before its first packet, or what is so old that it left the store) read as silence.
//
// The microphone may be processed a little ahead of the system sound (the two streams' packets
// reach their workers at their own moments): WaitFor lets its worker wait, bounded, until the
// reference of a span is there. A wait that ran out makes the next waits return at once until the
// reference catches up again, so a system sound that stopped costs the microphone one wait only.
//
// Thread-safety: every method may be called from any thread; one mutex guards the store. In a
// recording the system source's worker writes and the microphone's worker reads.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class EchoReference {
public:
    // Four seconds: far more than the two workers are ever apart.
    static constexpr int kCapacity = 4 * 44100;
    // Nothing written yet.
    static constexpr int64_t kNoPosition = INT64_MIN;

    EchoReference();

    // count mono samples placed at pos (a later write over the same positions replaces them).
    void Write(int64_t pos, const float* samples, int count);

    // Waits at most bound until the reference reaches endPos; true when it does.
    bool WaitFor(int64_t endPos, std::chrono::milliseconds bound);
    // Copies the reference of [pos, pos + count) into out, silence where there is none.
    void Read(int64_t pos, int count, float* out) const;
    // Position just after the last sample written; kNoPosition before the first write.
    int64_t EndPos() const;

private:
    mutable std::mutex lock_;
    std::condition_variable written_;
    std::vector<float> ring_;           // position p at ring_[p mod kCapacity]; guarded by lock_
    int64_t startPos_ = kNoPosition;    // first position held; guarded by lock_
    int64_t endPos_ = kNoPosition;      // guarded by lock_
    bool late_ = false;                 // a wait ran out and the reference has not caught up; guarded by lock_
};
