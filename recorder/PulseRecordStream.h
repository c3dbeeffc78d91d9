#pragma once
// PulseRecordStream: a record stream on one source of the sound server, driven by a private
// main loop on the calling thread. Reading is non-blocking: Wait() waits up to a bound for data,
// Peek() hands out what is there (one "packet"), Drop() releases it.
//
// Thread-safety: not thread-safe; one thread opens, reads and destroys it.

#include <cstddef>
#include <string>

struct pa_context;
struct pa_mainloop;
struct pa_stream;

class PulseRecordStream {
public:
    enum class OpenError { kNone, kConnect, kStream, kStart };

    PulseRecordStream() = default;
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    // Connects to the server and starts recording source in the given sample format (a
    // pa_sample_format_t) at rate/channels; a rate or channel count of 0 takes the source's own.
    // The stream starts with fine packets. Bounded: gives up after timeoutMs.
    OpenError Open(const std::string& source, int sampleFormat, int rate, int channels, int timeoutMs);

    // Fine packets (2 ms) while waiting for the recording to start or resume place its first
    // sample within 2 ms on every source; coarse packets (10 ms) while recording keep the
    // wake-ups few. Asks the server only when the choice changes.
    void SetFineFragments(bool fine);
    int Rate() const { return rate_; }
    int Channels() const { return channels_; }

    // Runs the main loop until data is readable or timeoutMs passed; false when the connection
    // or the stream failed (the server went away).
    bool Wait(int timeoutMs);
    // The next packet; false on a failed stream. bytes == 0 means nothing is there. data may be
    // null for a hole in the stream (bytes of silence).
    bool Peek(const void*& data, size_t& bytes);
    bool Drop();
    bool Healthy() const;

private:
    bool Iterate(int timeoutMs);
    bool QuerySourceSpec(const std::string& source, int timeoutMs);
    void Close();

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    int sampleFormat_ = 0;
    bool fine_ = true;
};
