#include "CaptureWorker.h"

#include <glog/logging.h>

#include <chrono>
#include <cstring>

namespace {

// Events: a packet and a timing report every 50 ms at most, so 1024 cover many seconds.
constexpr size_t kEvents = 1024;
// Packets start on this alignment in the ring (the converters read whole samples).
constexpr size_t kAlign = 16;
// Without being woken the worker looks this long after a batch's span.
constexpr int64_t kLookSlackNs = 10'000'000;

} // namespace

CaptureWorker::CaptureWorker(CaptureSource& source)
    : source_(source), events_(kEvents), data_(kDataBytes), thread_(&CaptureWorker::Run, this)
{
}

CaptureWorker::~CaptureWorker()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool CaptureWorker::Push(const Event& event, bool wake)
{
    if (eventCount_ == events_.size())
        return false;
    if (lostFrames_ > 0 && event.kind == Kind::kPacket) {
        // Samples dropped while the events were full come first, as a hole: their time is kept.
        if (eventCount_ + 1 == events_.size())
            return false;
        events_[(eventHead_ + eventCount_) % events_.size()] = {Kind::kHole, {}, lostFrames_, event.time, 0, 0, 0, 0, 0};
        ++eventCount_;
        lostFrames_ = 0;
    }
    events_[(eventHead_ + eventCount_) % events_.size()] = event;
    ++eventCount_;
    if (wake)
        wake_.notify_one();
    return true;
}

void CaptureWorker::Begin(const CaptureFormat& format, int64_t latencyNs)
{
    std::lock_guard<std::mutex> guard(lock_);
    Push({Kind::kBegin, format, 0, 0, latencyNs, 0, 0, 0, 0}, true);
}

void CaptureWorker::Packet(const void* data, int frames, int frameBytes, int64_t arrivalNs)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (data) {
        // The packet's bytes go to the free space after the queued ones, contiguous: when they
        // do not fit before the ring's end, the rest of the end is padding and they start at 0.
        const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(frameBytes);
        const size_t aligned = (bytes + kAlign - 1) / kAlign * kAlign;
        const size_t tail = (dataHead_ + dataUsed_) % data_.size();
        const size_t padding = tail + aligned > data_.size() ? data_.size() - tail : 0;
        if (dataUsed_ + padding + aligned <= data_.size() && eventCount_ + (lostFrames_ > 0) < events_.size()) {
            const size_t at = padding ? 0 : tail;
            std::memcpy(data_.data() + at, data, bytes);
            dataUsed_ += padding + aligned;
            if (Push({Kind::kPacket, {}, frames, arrivalNs, 0, 0, at, aligned, padding + aligned}, WakeFor(arrivalNs)))
                return;
            dataUsed_ -= padding + aligned;
        }
    }
    if (!Push({Kind::kHole, {}, frames + lostFrames_, arrivalNs, 0, 0, 0, 0, 0}, true))
        lostFrames_ += frames; // not even a hole fits: it goes with the next packet
    else
        lostFrames_ = 0;
}

void CaptureWorker::Hurry()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        hurry_ = true;
    }
    wake_.notify_one();
}

bool CaptureWorker::WakeFor(int64_t arrivalNs)
{
    if (!hurry_ && arrivalNs - wokenAt_ < kBatchNs)
        return false;
    wokenAt_ = arrivalNs;
    return true;
}

void CaptureWorker::Timing(int64_t atNs, int64_t framesWritten, int64_t latencyNs)
{
    // Taken in with the next packet: a report alone is no reason to wake the worker.
    std::lock_guard<std::mutex> guard(lock_);
    Push({Kind::kTiming, {}, 0, atNs, framesWritten, latencyNs, 0, 0, 0}, false);
}

void CaptureWorker::End()
{
    std::lock_guard<std::mutex> guard(lock_);
    Push({Kind::kEnd, {}, 0, 0, 0, 0, 0, 0, 0}, true);
}

void CaptureWorker::Run()
{
    // Capture worker of one stream. Owns the CaptureSource's stream side (conversion, voice
    // processing, placement) while it runs. Shares the rings with the loop thread under lock_:
    // it takes the events queued when it wakes, handles them without the lock (their packets'
    // bytes stay reserved until then) and gives the space back.
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        wake_.wait_for(lock, std::chrono::nanoseconds(kBatchNs + kLookSlackNs), [this] { return stop_ || eventCount_ > 0; });
        if (eventCount_ == 0) {
            if (stop_)
                return; // stopped, everything handed over
            continue;
        }
        // Everything queued now is handled without the lock and given back at once: the loop
        // thread queues packets meanwhile without waiting on this thread.
        const size_t first = eventHead_, count = eventCount_;
        lock.unlock();
        size_t freedData = 0, dataHead = SIZE_MAX;
        for (size_t i = 0; i < count; ++i) {
            const Event& event = events_[(first + i) % events_.size()];
            switch (event.kind) {
            case Kind::kBegin:
                if (!source_.Begin(event.format, event.value))
                    LOG(ERROR) << "capture: the stream's format cannot be converted";
                break;
            case Kind::kPacket:
                source_.Deliver(data_.data() + event.offset, event.frames, event.time);
                dataHead = (event.offset + event.span) % data_.size();
                freedData += event.reserved;
                break;
            case Kind::kHole:
                source_.Deliver(nullptr, event.frames, event.time);
                break;
            case Kind::kTiming:
                source_.Timing(event.time, event.value, event.latency);
                break;
            case Kind::kEnd:
                source_.End();
                break;
            }
        }
        lock.lock();
        eventHead_ = (eventHead_ + count) % events_.size();
        eventCount_ -= count;
        if (dataHead != SIZE_MAX) {
            dataHead_ = dataHead;
            dataUsed_ -= freedData;
        }
    }
}
