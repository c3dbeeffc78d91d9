#pragma once
// SampleFifo: the samples of one capture source on their way to the encoder, in the output format,
// placed on the recording's timeline.
//
// Every sample has a position: the number of output sample periods (1 / 44100 s) between the
// recording's epoch and the moment it was captured. The writer hands over blocks with the position
// of their first sample; the reader asks for the samples of a range of positions and gets silence
// wherever nothing was captured. So the two sources of a mixed recording line up by when they were
// captured, never by how many samples happened to arrive:
//   - a block that starts after the end of what is held leaves a gap, read as silence;
//   - a block that starts before that end overlaps it: its overlapping head is dropped;
//   - samples before the reader's position are dropped (they arrived too late).
// When the FIFO is full the oldest samples make room (logged once per overflow).
//
// Thread-safety: Write and Read/EndPos may run on different threads at the same time; one mutex
// guards everything. After every write the FIFO calls the data-arrived callback (outside its lock).

#include <cstdint>
#include <functional>
#include <mutex>

struct AVAudioFifo;

class SampleFifo {
public:
    // No position yet (nothing written).
    static constexpr int64_t kNoPosition = INT64_MIN;

    // format: an AVSampleFormat; capacity in samples.
    SampleFifo(int format, int channels, int capacity);
    ~SampleFifo();
    SampleFifo(const SampleFifo&) = delete;
    SampleFifo& operator=(const SampleFifo&) = delete;

    // Called after every Write, on the writer's thread, without the FIFO's lock.
    void SetDataCallback(std::function<void()> onData);

    // Places count samples (planes as the format needs) at pos.
    void Write(const uint8_t* const* data, int count, int64_t pos);

    // Fills dst[offset, offset + count) with the samples at [pos, pos + count); silence where none
    // is held. Everything before pos + count is released. Returns the number of captured samples
    // copied (the rest is silence).
    int Read(uint8_t* const* dst, int offset, int count, int64_t pos);

    // Position just after the last sample written; kNoPosition before the first write.
    int64_t EndPos() const;

private:
    void DropFront(int count); // lock held

    const int format_;
    const int channels_;
    const int capacity_;
    mutable std::mutex lock_;
    AVAudioFifo* fifo_ = nullptr;       // guarded by lock_
    int64_t startPos_ = kNoPosition;    // position of the first held sample; guarded by lock_
    int64_t readPos_ = kNoPosition;     // everything before it was read or skipped; guarded by lock_
    bool overflowLogged_ = false;       // guarded by lock_
    std::function<void()> onData_;      // set before the writer starts
};
