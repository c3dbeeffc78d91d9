#include "CaptureBackend.h"

#include "PulseCaptureStream.h"
#include "PulseProgramStream.h"

#include <chrono>

namespace {

// The sound server's streams; arrival times on the monotonic clock (the server's own clock).
class SoundServerBackend : public CaptureBackend {
public:
    int64_t NowNs() override
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::unique_ptr<CaptureStream> Open(CaptureKind kind, CaptureSource& source) override
    {
        return std::make_unique<PulseCaptureStream>(kind, source);
    }
    std::unique_ptr<CaptureStream> OpenPrograms(const ProgramChoice& choice, SourceGroup& group) override
    {
        return std::make_unique<PulseProgramStream>(choice, group);
    }
};

} // namespace

CaptureBackend& CaptureBackend::SoundServer()
{
    static SoundServerBackend backend;
    return backend;
}
