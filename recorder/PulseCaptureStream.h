#pragma once
// PulseCaptureStream: a record stream of the sound server for one CaptureSource, on the process's
// shared connection (PulseContext).
//
// - System sound records the default sink's monitor (signed 32-bit), the microphone the default
//   source (signed 16-bit; the first capture device when the default is a monitor), each in the
//   device's own rate and channel count.
// - Packets of 50 ms: few wake-ups, and the server keeps its processing block (a smaller request
//   makes a PipeWire server shrink it for every program).
// - It follows the default device: when it changes, Maintain moves to the new one. A stream that
//   fails (device unplugged, server gone) is replaced as soon as a device is there again; until
//   then nothing is delivered and the recording reads silence. A suspended device, a lost packet
//   queue or a move starts a new timing segment of the source.
//
// - One program's stream: a stream made for a sink input records only that playback stream (the
//   monitor of its sink, narrowed to it). It follows nothing: when the playback stream ends, moves
//   or the server refuses it, the stream ends for good (Ended()) and its owner decides.
//   The server sends such a stream a packet for every block its sink renders (a few hundred a
//   second, more the more programs play, whatever packet size is asked for), so it has no read
//   callback, and lives on a connection of its own whose loop takes in packets a few dozen times a
//   second (PulseProgramLoop): its owner's timer reads everything queued (Read) and delivers it
//   as one packet, on that loop's thread (no capture worker). The late arrival this gives a
//   packet only loosens its bound; the timing reports place the samples.
//
// - Timing: after every packet the server is asked how many samples it had written into the stream
//   and when (its timing report); with the arrival of each packet, this is what places the samples
//   (CaptureSource).
//
// Thread-safety: the constructor, Maintain and the destructor run on one thread (the recorder's);
// the stream's callbacks run on the sound server's main loop thread and only queue what arrived
// for the stream's capture worker, which does everything else. A program's stream: its callbacks
// and Read run on its PulseProgramLoop's thread, which also places the samples; Maintain and the
// destructor hold that loop's lock.

#include "CaptureBackend.h"
#include "CaptureSource.h"
#include "CaptureWorker.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct pa_operation;
struct pa_source_info;
struct pa_stream;
struct pa_context;
class PulseContext;
class PulseProgramLoop;

class PulseCaptureStream : public CaptureStream {
public:
    PulseCaptureStream(CaptureKind kind, CaptureSource& source);
    // Records the playback stream sinkInput only, on loop's connection.
    PulseCaptureStream(CaptureSource& source, uint32_t sinkInput, PulseProgramLoop& loop);
    ~PulseCaptureStream() override;
    PulseCaptureStream(const PulseCaptureStream&) = delete;
    PulseCaptureStream& operator=(const PulseCaptureStream&) = delete;

    void Maintain() override;
    void Hurry() override;
    // A stream of one playback stream is over (Maintain says so). Recorder's thread.
    bool Ended() const { return ended_; }
    // A stream of one playback stream: hands everything the server has sent since the last call
    // to the CaptureSource, arrived now, joined in staging (of any size; shared by the loop's
    // streams). Its loop's thread, lock held.
    void Read(std::vector<uint8_t>& staging);

private:
    static void OnRead(pa_stream* stream, size_t bytes, void* self);
    static void OnState(pa_stream* stream, void* self);
    static void OnRestart(pa_stream* stream, void* self);
    static void OnSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void OnTiming(pa_stream* stream, int success, void* self);
    void CloseStream(); // loop lock held
    void AskTiming(int64_t nowNs); // loop lock held: a timing report, when one is due
    std::string Label() const;

    static constexpr uint32_t kNoSinkInput = UINT32_MAX;
    const CaptureKind kind_;
    const uint32_t sinkInput_ = kNoSinkInput; // the one playback stream recorded, if any
    const int deliveredFormat_;               // AVSampleFormat asked of the server
    CaptureSource& source_;
    // Before the stream: it outlives every callback. None for a program's stream: its loop's
    // thread serves no other source and places the samples itself.
    std::unique_ptr<CaptureWorker> worker_;
    PulseContext& pulse_;
    PulseProgramLoop* const programLoop_ = nullptr; // the connection of a program's stream
    int listener_ = -1;
    std::atomic<bool> changed_{true}; // the server's picture changed since the last Maintain
    std::atomic<bool> broken_{false}; // the stream failed or ended

    // Recorder's thread (and the loop thread under the loop lock for the stream's callbacks).
    pa_stream* stream_ = nullptr;
    pa_operation* infoOp_ = nullptr;
    pa_operation* timingOp_ = nullptr; // the timing report asked for and not yet answered
    std::string device_;
    uint64_t generation_ = 0;
    CaptureFormat format_{};
    bool missingLogged_ = false; // "no device" was logged and nothing changed since
    bool opened_ = false;        // a stream was connected once
    bool ended_ = false;         // a stream of one playback stream is over
    // Loop thread only.
    bool needBegin_ = true;
    int64_t latencyNs_ = 0;
    int64_t readFrames_ = 0;  // samples read from the stream since it was connected (its read index)
    int64_t beginFrames_ = 0; // readFrames_ at the last Begin: the source counts from there
    int64_t lastTimingNs_ = 0;  // when the last timing report was asked for
    int64_t longestReadNs_ = 0; // the longest read callback of this stream (logged at its end)
    int64_t reads_ = 0, packets_ = 0, timings_ = 0; // read callbacks, packets, timing reports asked (logged)
    size_t frameBytes_ = 0; // of the connected stream
};
