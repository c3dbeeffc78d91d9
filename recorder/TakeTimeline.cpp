#include "TakeTimeline.h"

#include <algorithm>

TakeTimeline::TakeTimeline(int frameSize) : frameSize_(frameSize) {}

void TakeTimeline::AddSource(SampleFifo* fifo, int64_t allowance)
{
    sources_.push_back({fifo, allowance});
}

void TakeTimeline::Run(int64_t pos)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (stopped_ || (!segments_.empty() && segments_.back().end == kOpen))
        return;
    if (!segments_.empty())
        pos = std::max(pos, segments_.back().end);
    segments_.push_back({pos, kOpen});
}

void TakeTimeline::Pause(int64_t pos)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!segments_.empty() && segments_.back().end == kOpen)
        segments_.back().end = std::max(pos, segments_.back().start);
}

void TakeTimeline::Stop(int64_t pos)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (stopped_)
        return;
    stopped_ = true;
    if (segments_.empty())
        return;
    if (segments_.back().end == kOpen)
        segments_.back().end = std::max(pos, segments_.back().start);
    // The file holds whole frames: the last one takes what was captured right after the stop.
    int64_t total = 0;
    for (const Segment& s : segments_)
        total += s.end - s.start;
    if (const int64_t rest = total % frameSize_; rest != 0)
        segments_.back().end += frameSize_ - rest;
}

int TakeTimeline::Collect(int64_t limit, std::vector<Piece>& pieces, size_t& segment, int64_t& cursor,
                          bool& exhausted) const
{
    int need = frameSize_;
    exhausted = false;
    while (need > 0) {
        if (segment >= segments_.size()) {
            exhausted = true;
            break;
        }
        const Segment& s = segments_[segment];
        cursor = std::max(cursor, s.start);
        if (cursor >= s.end) {
            ++segment;
            continue;
        }
        const int64_t avail = std::min(s.end, limit) - cursor;
        if (avail <= 0)
            break; // waits for the clock or for a source
        const int take = static_cast<int>(std::min<int64_t>(need, avail));
        pieces.push_back({cursor, take});
        cursor += take;
        need -= take;
    }
    return frameSize_ - need;
}

int TakeTimeline::NextFrame(int64_t now, const std::vector<uint8_t* const*>& buffers)
{
    // How far every source is complete: what it holds, or what it may no longer deliver.
    int64_t limit = now;
    for (const Source& src : sources_) {
        const int64_t end = src.fifo->EndPos();
        const int64_t given = now - src.allowance;
        limit = std::min(limit, end == SampleFifo::kNoPosition ? given : std::max(end, given));
    }

    std::vector<Piece> pieces;
    std::lock_guard<std::mutex> guard(lock_);
    size_t segment = segment_;
    int64_t cursor = cursor_;
    bool exhausted = false;
    const int got = Collect(limit, pieces, segment, cursor, exhausted);
    const bool last = stopped_ && exhausted;
    if (got == 0)
        return last ? -1 : 0;
    if (got < frameSize_ && !last)
        return 0; // a whole frame only; the last one may be short
    int offset = 0;
    for (const Piece& piece : pieces) {
        for (size_t i = 0; i < sources_.size() && i < buffers.size(); ++i)
            sources_[i].fifo->Read(buffers[i], offset, piece.count, piece.pos);
        offset += piece.count;
    }
    segment_ = segment;
    cursor_ = cursor;
    produced_ += got;
    return got;
}

int64_t TakeTimeline::NextFrameEnd() const
{
    std::lock_guard<std::mutex> guard(lock_);
    size_t segment = segment_;
    int64_t cursor = cursor_;
    std::vector<Piece> pieces;
    bool exhausted = false;
    const int got = Collect(kOpen, pieces, segment, cursor, exhausted);
    if (got == 0 || (got < frameSize_ && !stopped_))
        return SampleFifo::kNoPosition; // waits for Run
    return cursor;
}

int64_t TakeTimeline::ReadyAt() const
{
    const int64_t cursor = NextFrameEnd();
    if (cursor == SampleFifo::kNoPosition)
        return cursor;
    int64_t allowance = 0;
    for (const Source& src : sources_)
        allowance = std::max(allowance, src.allowance);
    return cursor + allowance;
}

int64_t TakeTimeline::Produced() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return produced_;
}

