#include "SyntheticBackend.h"

class SyntheticBackend::Stream : public CaptureStream {
public:
    Stream(SyntheticBackend& backend, int index) : backend_(backend), index_(index) {}
    ~Stream() override
    {
        std::lock_guard<std::mutex> guard(backend_.lock_);
        backend_.sources_[index_] = nullptr;
    }

private:
    SyntheticBackend& backend_;
    const int index_;
};

std::unique_ptr<CaptureStream> SyntheticBackend::Open(CaptureKind kind, CaptureSource& source)
{
    std::lock_guard<std::mutex> guard(lock_);
    sources_[Index(kind)] = &source;
    ++opened_;
    return std::make_unique<Stream>(*this, Index(kind));
}

bool SyntheticBackend::Begin(CaptureKind kind, const CaptureFormat& format, int64_t latencyNs)
{
    std::lock_guard<std::mutex> guard(lock_);
    CaptureSource* source = sources_[Index(kind)];
    return source && source->Begin(format, latencyNs);
}

bool SyntheticBackend::Deliver(CaptureKind kind, const void* data, int frames, int64_t arrivalNs)
{
    std::lock_guard<std::mutex> guard(lock_);
    CaptureSource* source = sources_[Index(kind)];
    if (source)
        source->Deliver(data, frames, arrivalNs);
    return source != nullptr;
}

int SyntheticBackend::Opened() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return opened_;
}
