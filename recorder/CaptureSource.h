#pragma once
// CaptureSource: one source of a recording (the system sound or the microphone) from the packets
// of its stream to its SampleFifo: conversion to the output format, optional voice processing
// (microphone), and the capture time of every sample.
//
// Timing. The stream's samples are counted. A packet of n samples that arrives at time a says that
// the stream's first sample was captured no later than a - (count + n) / rate - latency; a timing
// report of the server ("w samples were written into the stream by time t") says the same of
// t - w / rate - latency, without the wait for a whole packet. A CaptureClock keeps these bounds
// and says where the start lies. The first packets of a stream are held for a moment until a few
// bounds are known; then the samples are placed from that estimate on, one after another, and stay
// there: later bounds move the placement only when the device's clock measurably runs at another
// rate than the system's (the resampler then stretches or shrinks the sound by that rate), never
// because one packet came late. A large move (a stream that jumped back) places the next packet
// where it belongs at once, and a stall (packets more than kGapNs late) starts the placement anew
// from the late packet: the gaps are read as silence.
//
// Thread-safety: Begin, Deliver, Timing and End are called by one thread at a time (the capture
// worker, or a test); TakePeak and Misplacement from any thread.

#include "CaptureClock.h"
#include "EchoReference.h"
#include "SampleFifo.h"
#include "VoiceProcessor.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct SwrContext;

// Format of a stream's packets: interleaved samples.
struct CaptureFormat {
    int sampleFormat = 0; // a packed AVSampleFormat (s16, s32, flt)
    int rate = 0;
    int channels = 0;
};

class CaptureSource {
public:
    struct Options {
        int outFormat = 0;       // AVSampleFormat of the recording
        int outRate = 44100;
        int outChannels = 2;
        bool noiseSuppression = false;
        bool gainControl = false;
        int micGainDb = 20;
        int64_t epochNs = 0;     // the recording's position 0, in the clock of the arrival times
        // The system sound: what is placed also goes here, as the microphone's echo reference.
        EchoReference* echoOut = nullptr;
        // The system sound opened for the reference only: nothing goes to the FIFO.
        bool referenceOnly = false;
        // The microphone: its echo of this reference is cancelled (voice processing).
        EchoReference* echoIn = nullptr;
        // The level is measured (TakePeak); a lane of a group is not, the group measures its mix.
        bool measurePeak = true;
    };

    // Samples that arrive later than this after their capture are taken as a gap of the stream:
    // the source placed them where they belong and the recording did not wait for them.
    static constexpr int64_t kGapNs = 400'000'000;

    CaptureSource(const Options& options, SampleFifo& fifo);
    ~CaptureSource();
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;

    // A stream begins (the first, or after a device change, a reconnect or a suspension): its
    // packet format and the device's own latency (time from capture to arrival at the server).
    // False when the conversion cannot be set up (then packets are dropped until the next Begin).
    bool Begin(const CaptureFormat& format, int64_t latencyNs);
    // frames samples (interleaved, in the Begin format; data null = silence) that arrived at
    // arrivalNs.
    void Deliver(const void* data, int frames, int64_t arrivalNs);
    // The server's timing report: framesWritten samples of the stream (counted from Begin) were
    // captured by atNs, latencyNs before they reached the stream. A sink's monitor reaches the
    // stream before it plays (the sink renders ahead): its latency is negative, and from then on
    // the packets' arrivals count with the lowest latency reported.
    void Timing(int64_t atNs, int64_t framesWritten, int64_t latencyNs);
    // The stream ended; the next packets come with a new Begin.
    void End();

    // The highest absolute sample value (0..1) since the last call.
    float TakePeak();
    // The highest absolute value (0..1) of count samples of the recording's format in data.
    static float SamplePeak(const uint8_t* const* data, int count, int format, int channels);
    // The recording's sample format (AVSampleFormat), in which a stream may deliver directly.
    int OutFormat() const { return options_.outFormat; }
    // How far the samples taken in so far are from where they belong, in output samples (> 0:
    // placed too early), as last measured (tests, benchmarks).
    int64_t Misplacement() const { return misplacedSeen_.load(); }

private:
    void Anchor(int64_t arrivalNs);
    int64_t PlacedStart() const; // where the placement puts the segment's first sample
    void Steer(int64_t nowNs);
    bool OpenOutput(bool resample); // (re)creates toOutput_, the resampler in it or not // jumps and drift correction before a packet is placed
    // Converts a packet (null data: silence) and counts it; the output samples, or -1.
    int Take(const void* data, int frames, uint8_t**& out);
    void Hold(const void* data, int frames);
    void ReleaseHold();
    int Convert(const uint8_t* in, int frames, uint8_t**& out);
    double PendingOutput() const;
    void NotePeak(uint8_t** data, int count);
    int64_t ToPos(int64_t ns) const;
    int64_t NextOutputPos() const; // where the next output sample goes (while holding: as far as known)
    void Place(uint8_t* const* data, int count, int64_t pos); // to the FIFO and the echo reference

    const Options options_;
    SampleFifo& fifo_;
    bool processing_ = false;

    // Stream state (one thread at a time).
    CaptureFormat format_{};
    bool begun_ = false;
    bool anchored_ = false;
    int64_t streamCount_ = 0; // input samples since Begin
    int64_t segmentBase_ = 0; // streamCount_ at the anchor
    int64_t inCount_ = 0;    // input samples since the anchor
    int64_t outCount_ = 0;   // output samples written since the anchor
    int64_t anchorNs_ = 0;   // capture time of the first input sample after the anchor
    int64_t anchorPos_ = 0;  // its position
    int64_t jumps_ = 0;      // output positions skipped (+) or gone back (-) since the anchor
    bool holding_ = false;   // the first packets after the anchor are held, not yet placed
    int64_t holdSince_ = 0;  // arrival of the first held packet
    int heldPackets_ = 0;
    int64_t heldLowest_ = 0; // the lowest bound before the last held packet
    std::vector<std::vector<uint8_t>> held_; // held output samples, per plane
    bool resampling_ = false; // toOutput_ resamples (and so can stretch)
    uint8_t* passPlane_ = nullptr; // the packet itself, given out when it needs no conversion
    int compensation_ = 0;   // the resampler's stretch, in samples per kCompensationDistance
    CaptureClock clock_;     // bounds on the start of the segment (the anchor)

    struct SwrDeleter { void operator()(SwrContext* s) const; };
    std::unique_ptr<SwrContext, SwrDeleter> toOutput_;
    std::unique_ptr<SwrContext, SwrDeleter> toProcessing_;
    std::unique_ptr<VoiceProcessor> voice_;
    std::vector<int16_t> processed_;
    std::vector<float> reference_; // a placed block downmixed for echoOut
    class Buffer;
    std::unique_ptr<Buffer> processingBuffer_;
    std::unique_ptr<Buffer> outputBuffer_;

    int64_t latencyNs_ = 0; // the device latency of the current stream
    std::atomic<int64_t> misplacedSeen_{0};
    std::atomic<uint32_t> peakBits_{0}; // float bits of the peak
};
