#include "SampleFifo.h"

#include <glog/logging.h>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <vector>

namespace {

// Plane pointers of buf moved on by offset samples.
std::vector<uint8_t*> Advance(uint8_t* const* buf, int offset, AVSampleFormat format, int channels)
{
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? channels : 1;
    const int step = av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    std::vector<uint8_t*> out(static_cast<size_t>(planes));
    for (int i = 0; i < planes; ++i)
        out[static_cast<size_t>(i)] = buf[i] + static_cast<ptrdiff_t>(offset) * step;
    return out;
}

// Silence is written in pieces of this many samples (a gap of any length needs no big buffer).
constexpr int kSilenceChunk = 4096;

} // namespace

SampleFifo::SampleFifo(int format, int channels, int capacity)
    : format_(format), channels_(channels), capacity_(std::max(capacity, 1))
{
    fifo_ = av_audio_fifo_alloc(static_cast<AVSampleFormat>(format), channels, capacity_);
}

SampleFifo::~SampleFifo()
{
    if (fifo_)
        av_audio_fifo_free(fifo_);
}

void SampleFifo::SetDataCallback(std::function<void()> onData)
{
    onData_ = std::move(onData);
}

void SampleFifo::DropFront(int count)
{
    count = std::min(count, av_audio_fifo_size(fifo_));
    if (count <= 0)
        return;
    av_audio_fifo_drain(fifo_, count);
    startPos_ += count;
}

void SampleFifo::Write(const uint8_t* const* data, int count, int64_t pos)
{
    if (!fifo_ || count <= 0)
        return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        int skip = 0;
        if (readPos_ != kNoPosition && pos < readPos_)
            skip = static_cast<int>(std::min<int64_t>(count, readPos_ - pos)); // too late
        const int held = av_audio_fifo_size(fifo_);
        if (held > 0) {
            const int64_t end = startPos_ + held;
            if (pos + skip < end)
                skip = static_cast<int>(std::min<int64_t>(count, end - pos)); // overlap
        }
        const int n = count - skip;
        if (n <= 0)
            return;
        const int64_t at = pos + skip;
        const auto format = static_cast<AVSampleFormat>(format_);
        if (held == 0) {
            startPos_ = at;
        } else {
            // A gap before the block is held as silence, so that what follows keeps its place.
            int64_t gap = at - (startPos_ + held);
            if (gap >= capacity_) {
                // More silence than the FIFO holds: everything held ends long before the block.
                DropFront(held);
                startPos_ = at;
                gap = 0;
            }
            if (gap > 0) {
                uint8_t** silence = nullptr;
                if (av_samples_alloc_array_and_samples(&silence, nullptr, channels_, kSilenceChunk, format, 0) >= 0) {
                    av_samples_set_silence(silence, 0, kSilenceChunk, channels_, format);
                    while (gap > 0) {
                        const int piece = static_cast<int>(std::min<int64_t>(gap, kSilenceChunk));
                        if (av_audio_fifo_size(fifo_) + piece > capacity_)
                            DropFront(av_audio_fifo_size(fifo_) + piece - capacity_);
                        av_audio_fifo_write(fifo_, reinterpret_cast<void**>(silence), piece);
                        gap -= piece;
                    }
                    av_freep(&silence[0]);
                    av_freep(&silence);
                } else {
                    DropFront(held);
                    startPos_ = at;
                }
            }
        }
        // Full: the oldest samples make room; a block larger than the FIFO keeps its end.
        int keepFrom = skip;
        int keep = n;
        if (keep > capacity_) {
            keepFrom += keep - capacity_;
            keep = capacity_;
            DropFront(av_audio_fifo_size(fifo_));
            startPos_ = pos + keepFrom;
        }
        const int over = av_audio_fifo_size(fifo_) + keep - capacity_;
        if (over > 0) {
            if (!overflowLogged_)
                LOG(ERROR) << "audio fifo not enough space";
            overflowLogged_ = true;
            DropFront(over);
        } else {
            overflowLogged_ = false;
        }
        const std::vector<uint8_t*> planes =
            Advance(const_cast<uint8_t* const*>(data), keepFrom, format, channels_);
        av_audio_fifo_write(fifo_, reinterpret_cast<void**>(const_cast<uint8_t**>(planes.data())), keep);
    }
    if (onData_)
        onData_();
}

int SampleFifo::Read(uint8_t* const* dst, int offset, int count, int64_t pos)
{
    if (count <= 0)
        return 0;
    const auto format = static_cast<AVSampleFormat>(format_);
    std::lock_guard<std::mutex> guard(lock_);
    readPos_ = readPos_ == kNoPosition ? pos + count : std::max(readPos_, pos + count);
    const int held = fifo_ ? av_audio_fifo_size(fifo_) : 0;
    if (held == 0) {
        av_samples_set_silence(const_cast<uint8_t**>(dst), offset, count, channels_, format);
        return 0;
    }
    if (startPos_ < pos)
        DropFront(static_cast<int>(std::min<int64_t>(held, pos - startPos_)));
    const int64_t lead = std::clamp<int64_t>(startPos_ - pos, 0, count);
    if (lead > 0)
        av_samples_set_silence(const_cast<uint8_t**>(dst), offset, static_cast<int>(lead), channels_, format);
    const int n = static_cast<int>(std::min<int64_t>(av_audio_fifo_size(fifo_), count - lead));
    if (n > 0) {
        const std::vector<uint8_t*> planes = Advance(dst, offset + static_cast<int>(lead), format, channels_);
        av_audio_fifo_read(fifo_, reinterpret_cast<void**>(const_cast<uint8_t**>(planes.data())), n);
        startPos_ += n;
    }
    const int done = static_cast<int>(lead) + std::max(n, 0);
    if (done < count)
        av_samples_set_silence(const_cast<uint8_t**>(dst), offset + done, count - done, channels_, format);
    return std::max(n, 0);
}

int64_t SampleFifo::EndPos() const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (startPos_ == kNoPosition)
        return kNoPosition;
    return startPos_ + (fifo_ ? av_audio_fifo_size(fifo_) : 0);
}

