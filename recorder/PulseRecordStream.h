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

    // Connects to the server and starts recording source in signed 32-bit at rate/channels.
    // fragmentBytes is the size the server delivers at a time. Bounded: gives up after
    // timeoutMs.
    OpenError Open(const std::string& source, int rate, int channels, size_t fragmentBytes,
                   int timeoutMs);

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
    void Close();

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};
