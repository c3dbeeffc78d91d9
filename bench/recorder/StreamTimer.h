#pragma once
// StreamTimer: what the sound server's timing alone says about when a source captured its sound.
// A plain record stream (44.1 kHz, 50 ms fragments, as the recorder asks) keeps one channel of
// what it hears and when each piece arrived. No sample arrives before it was captured, so
// arrival - (samples so far) / rate bounds the stream's start from above, and the earliest bound
// over the whole recording is the start an ideal placement by arrival times finds. The offset
// benchmark compares the recorder with it: where a layout delivers one source's sound later than
// the other's without saying so (a remap source of PulseAudio holds one block of its master), no
// placement by the server's timing can know, and this shows by how much.
//
// Thread-safety: the public methods are called from one thread (the owner's); the stream is read
// on a thread of its own from the constructor to Stop.

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

class StreamTimer {
public:
    // Starts recording channel (0 left, 1 right) of the source named device; Ok() says whether it
    // could.
    StreamTimer(const std::string& device, int channel);
    ~StreamTimer(); // Stop()
    StreamTimer(const StreamTimer&) = delete;
    StreamTimer& operator=(const StreamTimer&) = delete;

    bool Ok() const { return thread_.joinable(); }
    // Ends the stream; the capture times (steady clock, seconds) of the click onsets it heard
    // (FindClickOnsets with threshold and minGapSeconds).
    std::vector<double> Stop(double threshold, double minGapSeconds);

private:
    struct SimpleDeleter {
        void operator()(pa_simple* s) const;
    };
    void ReadThread();

    const int channel_;
    std::unique_ptr<pa_simple, SimpleDeleter> stream_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    // Reading thread until joined, then the owner's.
    std::vector<float> samples_;
    double earliestStart_ = 1e18; // seconds on the steady clock
};
