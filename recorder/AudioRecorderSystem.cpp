// AudioRecorder, system sound: the loopback capture thread.

#include "AudioRecorder.h"

#include "DeviceDiscovery.h"
#include "PulseRecordStream.h"
#include "RecorderPipeline.h"
#include "TextUtil.h"

#include <glog/logging.h>
#include <pulse/sample.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include <cstring>
#include <vector>

namespace {

// Captured frames gathered before one conversion: the converter runs about twice a second
// instead of once per packet.
constexpr int kBlockFrames = 22050;
// Bytes per captured sample: the stream is signed 32-bit.
constexpr int kCaptureSampleBytes = 4;
// Wait for data before counting an empty poll.
constexpr int kEmptyPollMs = 10;
// Consecutive empty polls (about one second) after which system sound counts as not flowing.
constexpr int kEmptyPollsInactive = 100;
// Bound for connecting to the sound server and starting the stream.
constexpr int kOpenTimeoutMs = 2000;

} // namespace

void AudioRecorder::SystemCaptureThread()
{
    // System sound capture thread. Owns its sound-server connection, the block buffer, the output
    // frame and the converter. Shares systemFifo with the encode thread under systemFifoLock_
    // (allocates it on first use), and the flags systemActive_, loopbackDrained_, running_,
    // stopRequested_ without a lock.
    struct EndMark {
        AudioRecorder* r;
        ~EndMark()
        {
            r->systemActive_ = false;
            r->systemThreadEnded_ = true;
            r->WakeAll();
        }
    } endMark{this};

    std::string monitor;
    int rate = 0;
    int channels = 0;
    if (!GetDefaultSinkMonitor(monitor, rate, channels)) {
        LOG(ERROR) << "Get Default Audio Endpoint error";
        return;
    }
    const int blockAlign = channels * kCaptureSampleBytes;
    PulseRecordStream stream;
    switch (stream.Open(monitor, PA_SAMPLE_S32LE, rate, channels, kOpenTimeoutMs)) {
    case PulseRecordStream::OpenError::kNone:
        break;
    case PulseRecordStream::OpenError::kConnect:
        LOG(ERROR) << "CoCreateInstance error";
        return;
    case PulseRecordStream::OpenError::kStream:
        LOG(ERROR) << "IMMDevice Activate error";
        return;
    case PulseRecordStream::OpenError::kStart:
        LOG(ERROR) << "AudioClient Initialize  error";
        return;
    }
    LOG(INFO) << "nChannels: " << channels;
    LOG(INFO) << "wFormatTag: " << 1;
    LOG(INFO) << "nSamplesPerSec: " << rate;
    LOG(INFO) << "wBitsPerSample: " << kCaptureSampleBytes * 8;
    LOG(INFO) << "nBlockAlign: " << blockAlign;
    LOG(INFO) << "cbSize: " << 0;

    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, channels);
    AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* rawSwr = nullptr;
    if (swr_alloc_set_opts2(&rawSwr, &outLayout, static_cast<AVSampleFormat>(outSampleFormat_),
                            outSampleRate_, &inLayout, AV_SAMPLE_FMT_S32, rate, 0, nullptr) < 0 ||
        !rawSwr) {
        LOG(ERROR) << "Could not allocate resampler context";
        return;
    }
    ff::SwrPtr swr(rawSwr);
    if (swr_init(swr.get()) < 0) {
        LOG(ERROR) << "swr_init error";
        return;
    }
    const int blockOut = static_cast<int>(
        av_rescale_rnd(swr_get_delay(swr.get(), rate) + kBlockFrames, outSampleRate_, rate, AV_ROUND_UP));
    ff::FramePtr outFrame = ff::MakeFrame();
    if (!outFrame) {
        LOG(ERROR) << "frame alloc error";
        return;
    }
    outFrame->format = outSampleFormat_;
    outFrame->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    outFrame->sample_rate = outSampleRate_;
    outFrame->nb_samples = blockOut;
    if (av_frame_get_buffer(outFrame.get(), 0) < 0) {
        LOG(ERROR) << "av_frame_get_buffer error";
        return;
    }
    {
        std::lock_guard<std::mutex> guard(systemFifoLock_);
        if (!pipe_->systemFifo)
            pipe_->systemFifo.reset(
                av_audio_fifo_alloc(static_cast<AVSampleFormat>(outSampleFormat_), outChannels_, 6 * blockOut));
        if (!pipe_->systemFifo) {
            LOG(ERROR) << "Could not allocate audio fifo";
            return;
        }
    }

    // The stream delivers from now on; until it proves otherwise (a second without packets),
    // the encode thread waits for its samples instead of putting silence in their place.
    if (!stopRequested_)
        systemActive_ = true;

    const size_t blockBytes = static_cast<size_t>(blockAlign) * kBlockFrames;
    std::vector<uint8_t> block(blockBytes, 0);
    size_t fill = 0;

    // Converts frames of the block buffer (or flushes the converter when frames is 0 and
    // flush is set) and appends the result to systemFifo.
    auto convertAndStore = [&](int frames, bool flush) -> bool {
        const uint8_t* in = block.data();
        const int got = swr_convert(swr.get(), outFrame->data, blockOut, flush ? nullptr : &in, frames);
        if (got < 0) {
            LOG(ERROR) << "swr_convert  error";
            return false;
        }
        if (got == 0)
            return true;
        {
            std::lock_guard<std::mutex> guard(systemFifoLock_);
            AVAudioFifo* fifo = pipe_->systemFifo.get();
            if (got < av_audio_fifo_space(fifo))
                av_audio_fifo_write(fifo, reinterpret_cast<void**>(outFrame->data), got);
            else
                LOG(ERROR) << "audio fifo not enough space";
        }
        systemFifoSignal_.notify_all();
        return true;
    };

    // Appends bytes (zeros when src is null: a hole in the stream, or padding) to the block;
    // each full block is converted into systemFifo. Counts what was taken in.
    int64_t takenFrames = 0;
    auto append = [&](const uint8_t* src, size_t left) -> bool {
        takenFrames += static_cast<int64_t>(left / static_cast<size_t>(blockAlign));
        systemTaken_ = takenFrames * outSampleRate_ / rate;
        while (left > 0) {
            const size_t take = std::min(left, blockBytes - fill);
            if (src)
                std::memcpy(block.data() + fill, src, take);
            else
                std::memset(block.data() + fill, 0, take);
            fill += take;
            left -= take;
            if (src)
                src += take;
            if (fill == blockBytes) {
                if (!convertAndStore(kBlockFrames, false))
                    return false;
                fill = 0;
            }
        }
        return true;
    };

    int emptyPolls = 0;
    bool failed = false;
    while (!stopRequested_ && !failed) {
        if (source_ == kBoth && !(loopbackDrained_ && micFlushed_) && !micThreadEnded_) {
            // Start synchronisation with the microphone: drop what is queued until both sides
            // have emptied their queues; ends on Stop and when the microphone thread has ended.
            const void* data = nullptr;
            size_t bytes = 0;
            if (!stream.Peek(data, bytes)) {
                failed = true;
                break;
            }
            if (bytes == 0) {
                loopbackDrained_ = true;
                stream.Wait(1);
            } else {
                stream.Drop();
            }
            continue;
        }
        if (!stream.Wait(kEmptyPollMs)) {
            failed = true;
            break;
        }
        const void* data = nullptr;
        size_t bytes = 0;
        if (!stream.Peek(data, bytes)) {
            failed = true;
            break;
        }
        if (bytes == 0) {
            if (running_ && ++emptyPolls >= kEmptyPollsInactive) {
                {
                    std::lock_guard<std::mutex> guard(systemFifoLock_);
                    systemActive_ = false;
                }
                systemFifoSignal_.notify_all();
                emptyPolls = 0;
            }
            continue;
        }
        if (!running_) {
            stream.Drop(); // idle or paused: nothing heard now reaches the file
            stream.SetFineFragments(true);
            continue;
        }
        stream.SetFineFragments(false);
        systemActive_ = true;
        emptyPolls = 0;

        // Silence asked for by Run after a pause evens this source out with the microphone.
        const int64_t pad = systemPad_.exchange(0);
        if (pad > 0 && !append(nullptr, static_cast<size_t>(pad * rate / outSampleRate_) * blockAlign)) {
            failed = true;
            break;
        }
        if (!append(static_cast<const uint8_t*>(data), bytes - bytes % static_cast<size_t>(blockAlign)))
            failed = true;
        if (!stream.Drop()) {
            LOG(ERROR) << "AudioCaptureClient ReleaseBuffer  error";
            failed = true;
        }
    }
    if (failed && !stopRequested_)
        LOG(ERROR) << "AudioCaptureClient GetBuffer  error";

    // The last partial block and what the converter still holds belong to the recording too.
    if (!failed || fill > 0) {
        if (fill > 0)
            convertAndStore(static_cast<int>(fill / static_cast<size_t>(blockAlign)), false);
        convertAndStore(0, true);
    }
    DebugPrint("speaker audio capture thread exit\n");
}
