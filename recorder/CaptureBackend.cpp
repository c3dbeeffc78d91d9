#include "CaptureBackend.h"

#include "PipeWireProgramStream.h"
#include "PulseCaptureStream.h"
#include "PulseContext.h"
#include "PulseProgramStream.h"

#include <chrono>

int64_t MonotonicNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

// The sound server's streams; arrival times on the monotonic clock (the server's own clock).
class SoundServerBackend : public CaptureBackend {
public:
    int64_t NowNs() override { return MonotonicNowNs(); }
    std::unique_ptr<CaptureStream> Open(CaptureKind kind, CaptureSource& source) override
    {
        return std::make_unique<PulseCaptureStream>(kind, source);
    }
    std::unique_ptr<CaptureStream> OpenPrograms(const ProgramChoice& choice, SourceGroup& group) override
    {
        // pipewire-pulse: PipeWire mixes the programs' streams into one of ours (a buffer per
        // graph cycle, not a few hundred packets a second per stream); else, or when PipeWire
        // cannot be reached, a monitor stream per playback stream.
        if (PulseContext::Instance().Snapshot().OnPipeWire())
            if (auto native = PipeWireProgramStream::Open(choice, group))
                return native;
        return std::make_unique<PulseProgramStream>(choice, group);
    }
};

} // namespace

CaptureBackend& CaptureBackend::SoundServer()
{
    static SoundServerBackend backend;
    return backend;
}
