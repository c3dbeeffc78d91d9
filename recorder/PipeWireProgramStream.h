#pragma once
// PipeWireProgramStream: the sound of chosen programs (one program, or every program but some)
// through PipeWire's own interface, when the sound server is pipewire-pulse.
//
// Monitoring each playback stream through libpulse (PulseProgramStream) costs a few hundred server
// packets a second per stream. Here one capture stream of ours, which the session manager leaves
// alone (not autoconnected), has its input ports linked by us to the output ports of every
// playback stream the choice takes (ProgramChoice::Takes, by the names the libpulse path uses;
// this process's own streams left out). PipeWire mixes the links into an input port itself, so the
// process gets one buffer per graph cycle however many streams play. The registry tells at once of
// a stream that appears (linked then) or ends (its links go with it). Without any link our stream
// is not scheduled: nothing arrives and the recording reads silence there.
//
// The samples go into one lane of the SourceGroup, placed like any stream's (CaptureSource): the
// graph cycle's time (pw_stream_get_time_n) bounds the capture time of what the cycle brought, as
// pipewire-pulse's timing reports do for the system sound. A cycle that does not follow on from
// the last (nothing played in between) starts a new timing segment. The lane takes the volume of
// the device the chosen streams play on, as the system sound carries its device's volume.
//
// A lost connection (the server restarted) is made again by Maintain every kRetryNs.
//
// Thread-safety: Open, Maintain and the destructor on one thread (the recorder's encode thread);
// the stream's and the registry's events on the stream's own PipeWire loop thread, under that
// loop's lock, which Maintain and the destructor take too.

#include "CaptureBackend.h"
#include "RecorderTypes.h"

#include <chrono>
#include <cstdint>
#include <memory>

class SourceGroup;

class PipeWireProgramStream : public CaptureStream {
public:
    // A server that went away is tried again this often (as the shared libpulse connection is).
    static constexpr int64_t kRetryNs = 500'000'000;
    // A local server answers within milliseconds; a recording does not wait longer than this.
    static constexpr std::chrono::milliseconds kConnectWait{1000};
    // A graph cycle that starts this far from where the last one ended is no continuation of it:
    // well above a timer's jitter, below the shortest gap worth keeping (a cycle is 5-43 ms).
    static constexpr int64_t kBreakNs = 30'000'000;

    // Null when PipeWire cannot be reached: the caller records through libpulse instead.
    static std::unique_ptr<PipeWireProgramStream> Open(const ProgramChoice& choice, SourceGroup& group);
    ~PipeWireProgramStream() override;
    PipeWireProgramStream(const PipeWireProgramStream&) = delete;
    PipeWireProgramStream& operator=(const PipeWireProgramStream&) = delete;

    void Maintain() override;

    struct Impl;

private:
    explicit PipeWireProgramStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
