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
// Thread-safety: the constructor, Maintain and the destructor on one thread (the recorder's
// encode thread); Hurry from any thread.

#include "CaptureBackend.h"
#include "RecorderTypes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class PulseCaptureStream;
class PulseContext;
class SourceGroup;

class PulseProgramStream : public CaptureStream {
public:
    PulseProgramStream(const ProgramChoice& choice, SourceGroup& group);
    ~PulseProgramStream() override;
    PulseProgramStream(const PulseProgramStream&) = delete;
    PulseProgramStream& operator=(const PulseProgramStream&) = delete;

    void Maintain() override;
    void Hurry() override;

private:
    const ProgramChoice choice_;
    SourceGroup& group_;
    PulseContext& pulse_;
    std::mutex lock_; // members_ and hurry_: Maintain against Hurry
    std::map<uint32_t, std::unique_ptr<PulseCaptureStream>> members_; // by sink input
    bool hurry_ = false;
    // Recorder's thread only.
    std::map<uint32_t, uint32_t> givenUp_; // sink input -> the sink it played on when its lane ended
    uint64_t generation_ = 0;
    bool waitingLogged_ = false;
};
