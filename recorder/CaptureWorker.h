#pragma once
// CaptureWorker: the thread that turns one stream's packets into placed samples.
//
// The sound server's loop thread must never wait: it only copies each packet (with its arrival
// time) or the server's timing report into a ring of fixed size and wakes the worker; conversion,
// voice processing, resampling and placement (CaptureSource) run on the worker. Nothing is
// allocated per packet on the loop thread. When the ring is full (the worker is stuck), a packet
// is passed on as a hole of its length: the samples are lost, their time is not.
//
// Thread-safety: Begin, Packet, Timing and End are called by one thread at a time (the loop
// thread, under its lock); the destructor by the owner after the last of them returned. The
// worker is the only thread that calls into the CaptureSource while the CaptureWorker exists.

#include "CaptureSource.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CaptureWorker {
public:
    // The packet ring holds about two seconds of the largest stream the recorder opens (2 s of
    // 192 kHz stereo s32 is 3 MiB): the worker is never that far behind unless it is stuck, and
    // then the holes keep the time.
    static constexpr size_t kDataBytes = 4u << 20;

    // The worker is woken once this much sound is queued (a server that sends every 10 ms block
    // would otherwise wake it a hundred times a second), and looks by itself a little after.
    static constexpr int64_t kBatchNs = 40'000'000;

    explicit CaptureWorker(CaptureSource& source);
    // Hands over what is queued, then ends the thread.
    ~CaptureWorker();
    CaptureWorker(const CaptureWorker&) = delete;
    CaptureWorker& operator=(const CaptureWorker&) = delete;

    void Begin(const CaptureFormat& format, int64_t latencyNs);
    // frames samples of frameBytes each; data null: a hole.
    void Packet(const void* data, int frames, int frameBytes, int64_t arrivalNs);
    void Timing(int64_t atNs, int64_t framesWritten, int64_t latencyNs);
    void End();
    // From now on every packet wakes the worker at once (the recording is stopping). Any thread.
    void Hurry();

private:
    enum class Kind : uint8_t { kBegin, kPacket, kHole, kTiming, kEnd };
    struct Event {
        Kind kind;
        CaptureFormat format; // kBegin
        int frames;           // kPacket, kHole
        int64_t time;         // arrival (kPacket, kHole), report time (kTiming)
        int64_t value;        // latency (kBegin, kTiming), samples written (kTiming)
        int64_t latency;      // kTiming
        size_t offset;        // kPacket: where its bytes start in data_
        size_t span;          // kPacket: their length, aligned
        size_t reserved;      // kPacket: the ring's space it takes (span and the padding before it)
    };
    // Loop thread; lock_ held by the caller: queues an event, false when the ring is full.
    bool Push(const Event& event, bool wake);
    bool WakeFor(int64_t arrivalNs); // lock_ held: whether a packet arriving now wakes the worker
    void Run();

    CaptureSource& source_;
    std::mutex lock_;
    std::condition_variable wake_;
    // The rings, allocated once. Guarded by lock_, except the bytes of packets between head and
    // tail: the loop thread writes only free space, the worker reads only queued packets.
    std::vector<Event> events_;
    size_t eventHead_ = 0, eventCount_ = 0;
    std::vector<uint8_t> data_;
    size_t dataHead_ = 0, dataUsed_ = 0; // oldest queued byte; bytes queued (with padding)
    int64_t wokenAt_ = INT64_MIN / 2; // arrival of the packet that last woke the worker
    bool hurry_ = false;
    int lostFrames_ = 0; // samples neither queued nor counted in a hole yet (the events were full)
    bool stop_ = false;
    std::thread thread_;
};
