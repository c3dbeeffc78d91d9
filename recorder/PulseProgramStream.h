#pragma once
// PulseProgramStream: the sound of chosen programs (one program, or every program but some) as one
// source: a PulseCaptureStream per playback stream of theirs, each a lane of a SourceGroup.
//
// Maintain (about ten times a second) compares the server's playback streams with the lanes: a
// stream of a chosen program that appears joins, one that ends leaves; a program with several
// streams (a browser) gives several lanes. Without any, the recording reads silence and goes on
// (a chosen program that plays nothing is logged once until it plays). A stream that vanishes
// before it is connected, or one the server refuses to monitor, ends its lane (logged); it is not
// tried again unless it moves to another sink or the server restarts.
//
// The lanes' streams live on a connection of their own (PulseProgramLoop) and have no read
// callbacks: one timer of that loop reads every stream's queued packets in one pass every
// kReadPeriodNs (every kHurriedReadPeriodNs once the recording is stopping), instead of a call for
// each of the few hundred packets a second the server sends each of them, and places and mixes
// what it read right there: one thread for all of them.
//
// Thread-safety: the constructor, Maintain and the destructor on one thread (the recorder's
// encode thread); Hurry from any thread. The timer runs on the loop's thread with its lock held.

#include "CaptureBackend.h"
#include "PulseProgramLoop.h"
#include "RecorderTypes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class PulseCaptureStream;
class PulseContext;
struct PulseServerState;
struct pa_mainloop_api;
struct pa_time_event;
struct timeval;
class SourceGroup;

class PulseProgramStream : public CaptureStream {
public:
    // Between two reads: well within what the mix waits for a lane (SourceGroup::kLagNs), and
    // each read costs the samples' placement and mix (done on the loop's thread, no worker).
    static constexpr int64_t kReadPeriodNs = 40'000'000;
    // While the recording stops it waits for the last samples: a read every server packet or so.
    static constexpr int64_t kHurriedReadPeriodNs = 10'000'000;

    PulseProgramStream(const ProgramChoice& choice, SourceGroup& group);
    ~PulseProgramStream() override;
    PulseProgramStream(const PulseProgramStream&) = delete;
    PulseProgramStream& operator=(const PulseProgramStream&) = delete;

    void Maintain() override;
    void Hurry() override;

    // The gain of what plays on sink (linear, 0 when muted) in this picture: the system sound
    // carries its device's volume, the sound of one playback stream does not. None when the sink
    // is not listed.
    static std::optional<float> SinkGain(const PulseServerState& state, uint32_t sink);

private:
    static void OnReadTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self);
    void Track(PulseCaptureStream* stream, bool reading); // adds it to / removes it from reading_

    const ProgramChoice choice_;
    SourceGroup& group_;
    PulseContext& pulse_;
    PulseProgramLoop loop_; // outlives the streams on it
    std::map<uint32_t, std::unique_ptr<PulseCaptureStream>> members_; // by sink input
    // loop_'s lock: the streams the timer reads, and the timer (null without a loop).
    std::vector<PulseCaptureStream*> reading_;
    std::vector<uint8_t> staging_; // their packets of one read, joined
    pa_time_event* readTimer_ = nullptr;
    bool hurriedReads_ = false;
    // Recorder's thread only.
    std::map<uint32_t, uint32_t> givenUp_; // sink input -> the sink it played on when its lane ended
    uint64_t generation_ = 0, loopGeneration_ = 0;
    bool waitingLogged_ = false;
};
