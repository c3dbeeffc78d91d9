#pragma once
// TakeTimeline: which moments of the recording end up in the file, and when the next encoder frame
// can be made.
//
// Positions count output sample periods (1 / 44100 s) since the recording's epoch (see
// SampleFifo). Run, Pause and Stop open and close segments of the timeline at the position of the
// moment they were called; the file is the segments one after another, so a frame may hold the
// end of one segment and the start of the next. A frame is made when every source holds its
// samples, or when a source is so late (its allowance passed) that its part counts as silence:
// a stalled or vanished device never holds the recording up, and the file's length follows the
// clock, not the arrival of data. The file holds whole frames: Stop ends it at the end of the
// frame that holds the moment of Stop (at most one frame, 26 ms, later).
//
// Thread-safety: Run, Pause and Stop (the owner's thread) and NextFrame/ReadyAt (the encode
// thread) may run at the same time; one mutex guards the segments.

#include "SampleFifo.h"

#include <cstdint>
#include <mutex>
#include <vector>

class TakeTimeline {
public:
    explicit TakeTimeline(int frameSize);

    // A source whose samples may arrive up to allowance positions after they were captured.
    // Call before the first NextFrame; the index is the order of the calls.
    void AddSource(SampleFifo* fifo, int64_t allowance);

    void Run(int64_t pos);   // opens a segment (no-op while one is open)
    void Pause(int64_t pos); // closes the open segment
    // Closes the open segment at pos, moved on to the end of its frame; nothing opens again.
    void Stop(int64_t pos);

    // The next frame at time now (a position): reads each source's part into buffers[i] (frame-
    // size samples, planes as the output format needs) and returns its sample count (frameSize).
    // 0 when the frame is not ready yet, -1 when the recording is stopped and everything was made.
    int NextFrame(int64_t now, const std::vector<uint8_t* const*>& buffers);

    // The time (a position) from which the next frame is ready even if no source delivers
    // anything more; SampleFifo::kNoPosition while it waits for Run.
    int64_t ReadyAt() const;

    // The position the next frame ends at (the sources must reach it); kNoPosition while it waits
    // for Run.
    int64_t NextFrameEnd() const;

    int64_t Produced() const;  // samples in the frames made so far

private:
    struct Segment {
        int64_t start;
        int64_t end; // kOpen while recording
    };
    struct Source {
        SampleFifo* fifo;
        int64_t allowance;
    };
    struct Piece {
        int64_t pos;
        int count;
    };
    static constexpr int64_t kOpen = INT64_MAX;

    // Lock held: the frame's pieces from the cursor up to limit; sets next cursor.
    int Collect(int64_t limit, std::vector<Piece>& pieces, size_t& segment, int64_t& cursor, bool& exhausted) const;

    const int frameSize_;
    std::vector<Source> sources_;
    mutable std::mutex lock_;
    std::vector<Segment> segments_; // guarded by lock_
    size_t segment_ = 0;            // cursor: segment index; guarded by lock_
    int64_t cursor_ = 0;            // cursor: next position to make; guarded by lock_
    int64_t produced_ = 0;          // guarded by lock_
    bool stopped_ = false;          // guarded by lock_
};
