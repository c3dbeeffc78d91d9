#pragma once
// CaptureBackend: where a recorder's sound and time come from. The real one (SoundServer()) is the
// sound server and the monotonic clock; tests hand a recorder a synthetic one whose clock and
// streams they drive themselves, so whole recordings run faster than real time.

#include "RecorderTypes.h"

#include <cstdint>
#include <memory>

class CaptureSource;
class SourceGroup;

// Now on the monotonic clock, the clock the sound server's arrival times are read on (nanoseconds).
int64_t MonotonicNowNs();

enum class CaptureKind {
    kSystemSound, // what the default playback device plays
    kMicrophone,  // the default capture device
};

// A stream that delivers one kind of sound into a CaptureSource until it is destroyed (no
// delivery runs after the destructor returned).
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Called by the encode thread about 20 times a second: a stream follows device changes and
    // comes back after a server restart here. Must return quickly.
    virtual void Maintain() {}
    // The recording is stopping: what arrives from now on is wanted at once, not in batches.
    // Called by the owner's thread; thread-safe.
    virtual void Hurry() {}
};

class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;
    // Now, in the clock of the arrival times the streams report (nanoseconds).
    virtual int64_t NowNs() = 0;
    // Starts delivering kind's sound into source. Never null: a stream without a device delivers
    // nothing until one appears.
    virtual std::unique_ptr<CaptureStream> Open(CaptureKind kind, CaptureSource& source) = 0;
    // Starts delivering every playback stream of the chosen programs into group, each joining
    // when it appears and leaving when it ends. Never null; this one delivers nothing.
    virtual std::unique_ptr<CaptureStream> OpenPrograms(const ProgramChoice&, SourceGroup&)
    {
        return std::make_unique<CaptureStream>();
    }

    // The sound server and the monotonic clock.
    static CaptureBackend& SoundServer();
};
