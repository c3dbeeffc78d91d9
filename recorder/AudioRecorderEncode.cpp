// AudioRecorder, output side: encoder and file set-up, the encode thread and the finishing thread.

#include "AudioRecorder.h"

#include "RecorderPipeline.h"
#include "TextUtil.h"

#include <glog/logging.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/samplefmt.h>
}

#include <chrono>
#include <cstdio>
#include <thread>

// Silence pacing of the encode thread: one silent frame per frame period of wall-clock time,
// catching up when the thread fell behind.
struct AudioRecorder::Pacing {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    int64_t frames = 0;
    void Reset()
    {
        start = std::chrono::steady_clock::now();
        frames = 0;
    }
};

namespace {

// Bounded waits of the encode thread; Stop and Run wake them early.
constexpr auto kPausePoll = std::chrono::milliseconds(100);  // while paused
constexpr auto kFifoWait = std::chrono::milliseconds(400);   // empty microphone FIFO
constexpr auto kSystemPoll = std::chrono::milliseconds(30);  // system FIFO below one frame

} // namespace

int AudioRecorder::OpenEncoderAndFile()
{
    AVFormatContext* out = pipe_->output.get();
    const AVCodecID codecId = format_ == "mp3" ? AV_CODEC_ID_MP3 : AV_CODEC_ID_PCM_S16LE;
    frameSize_ = format_ == "mp3" ? 1152 : 1024;
    outSampleFormat_ = format_ == "mp3" ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;

    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec) {
        DebugPrint("audio codec not found \n");
        return -1;
    }
    pipe_->encoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* enc = pipe_->encoder.get();
    if (!enc)
        return -1;
    enc->codec_type = AVMEDIA_TYPE_AUDIO;
    enc->sample_fmt = static_cast<AVSampleFormat>(outSampleFormat_);
    enc->sample_rate = outSampleRate_;
    enc->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    enc->bit_rate = bitRate_;
    enc->time_base = AVRational{1, outSampleRate_};
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int ret = avcodec_open2(enc, codec, nullptr);
    if (ret < 0) {
        DebugPrint("err: (%s)", ff::ErrorText(ret).c_str());
        DebugPrint("open audio encode err\n");
        return -1;
    }

    AVStream* stream = avformat_new_stream(out, nullptr);
    if (!stream)
        return -1;
    stream->codecpar->codec_tag = 0;
    if (avcodec_parameters_from_context(stream->codecpar, enc) < 0)
        return -1;
    stream->time_base = enc->time_base;
    pipe_->stream = stream;

    const std::string path = OutputPath();
    av_dump_format(out, 0, path.c_str(), 1);
    if (!(out->oformat->flags & AVFMT_NOFILE)) {
        ret = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            LOG(ERROR) << "Could not open output file " << path << ": " << ff::ErrorText(ret);
            return -1;
        }
    }
    ret = avformat_write_header(out, nullptr);
    if (ret < 0) {
        LOG(ERROR) << "Could not write header " << path << ": " << ff::ErrorText(ret);
        pipe_->output.reset();
        std::remove(path.c_str());
        return -1;
    }
    return 0;
}

// Fills frame samples [offset, nb_samples) with silence.
void AudioRecorder::FillSilence(AVFrame* frame, int offset)
{
    if (offset < frame->nb_samples)
        av_samples_set_silence(frame->data, offset, frame->nb_samples - offset, outChannels_,
                               static_cast<AVSampleFormat>(outSampleFormat_));
}

bool AudioRecorder::EncodeAndWrite(AVFrame* frame, AVPacket* packet)
{
    // Each frame goes to the encoder exactly once; every packet it has ready is written.
    const int ret = avcodec_send_frame(pipe_->encoder.get(), frame);
    if (ret < 0 && ret != AVERROR_EOF) {
        DebugPrint("audio encode err,times=%d, ret=%d, got_picture=%d\n", 1, ret, 0);
        return false;
    }
    return DrainEncoder(packet);
}

bool AudioRecorder::DrainEncoder(AVPacket* packet)
{
    AVStream* stream = pipe_->stream;
    for (;;) {
        const int ret = avcodec_receive_packet(pipe_->encoder.get(), packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0) {
            DebugPrint("audio encode err,times=%d, ret=%d, got_picture=%d\n", 1, ret, 0);
            return false;
        }
        packet->stream_index = 0;
        packet->pts = packet->dts = runningPts_;
        const int64_t samples = packet->duration > 0 ? packet->duration : frameSize_;
        packet->duration = av_rescale_q(samples, AVRational{1, outSampleRate_}, stream->time_base);
        const int64_t stamped = runningPts_;
        runningPts_ += packet->duration;
        const int w = av_interleaved_write_frame(pipe_->output.get(), packet);
        if (w < 0)
            LOG(ERROR) << "write audio frame err,ret=" << w;
        av_packet_unref(packet);

        // Whole seconds, truncated: second n is reported once n seconds of audio are written.
        const int64_t seconds = av_rescale_rnd(stamped, stream->time_base.num, stream->time_base.den, AV_ROUND_DOWN);
        if (seconds != lastPostedSecond_.load()) {
            if (owner_)
                owner_->PostRecorderSeconds(seconds);
            lastPostedSecond_ = seconds;
        }
    }
}

void AudioRecorder::PaceSilence(Pacing& pacing)
{
    using namespace std::chrono;
    const double elapsedMs =
        duration_cast<duration<double, std::milli>>(steady_clock::now() - pacing.start).count();
    const auto due = static_cast<int64_t>(static_cast<float>(elapsedMs / 1000.0) *
                                          static_cast<float>(outSampleRate_) / frameSize_);
    if (pacing.frames >= due) {
        // One frame period (26 ms for MP3, 23 ms for WAV); Stop ends the wait early.
        const auto period = milliseconds(1000 / (outSampleRate_ / frameSize_));
        std::unique_lock<std::mutex> lock(stopLock_);
        stopSignal_.wait_for(lock, period, [this] { return stopRequested_.load(); });
    }
    ++pacing.frames;
}

bool AudioRecorder::ReadMicFrame(AVFrame* frame, bool draining)
{
    std::unique_lock<std::mutex> lock(micFifoLock_);
    AVAudioFifo* fifo = pipe_->micFifo.get();
    if (draining) {
        const int n = std::min(av_audio_fifo_size(fifo), frameSize_);
        if (n <= 0)
            return false;
        av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), n);
        FillSilence(frame, n);
        lock.unlock();
        micFifoSignal_.notify_all();
        return true;
    }
    while (av_audio_fifo_size(fifo) < frameSize_) {
        DebugPrint("audio fifo is empty, lock\n");
        if (stopRequested_) {
            lock.unlock();
            micFifoSignal_.notify_all();
            return false;
        }
        micFifoSignal_.wait_for(lock, kFifoWait, [&] {
            return stopRequested_.load() || av_audio_fifo_size(fifo) >= frameSize_;
        });
        DebugPrint("audio fifo is empty, unlock\n");
    }
    av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), frameSize_);
    lock.unlock();
    micFifoSignal_.notify_all();
    return true;
}

bool AudioRecorder::ReadSystemFrame(AVFrame* frame, Pacing& pacing, bool draining)
{
    // Returns false when no frame was made: FIFO empty while draining, or Stop came first (the
    // samples then stay in the FIFO for the drain).
    std::unique_lock<std::mutex> lock(systemFifoLock_);
    AVAudioFifo* fifo = pipe_->systemFifo.get();
    if (draining) {
        const int n = fifo ? std::min(av_audio_fifo_size(fifo), frameSize_) : 0;
        if (n <= 0)
            return false;
        av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), n);
        FillSilence(frame, n);
        return true;
    }
    if (systemActive_) {
        if (source_ == kSystemSound)
            pacing.Reset();
        // Poll until a whole frame is there, the sound stops flowing or Stop comes; the capture
        // thread and Stop wake the wait early.
        auto ready = [this] {
            AVAudioFifo* f = pipe_->systemFifo.get();
            return stopRequested_ || !systemActive_ || (f && av_audio_fifo_size(f) >= frameSize_);
        };
        while (!ready())
            systemFifoSignal_.wait_for(lock, kSystemPoll, ready);
        if (stopRequested_)
            return false;
        fifo = pipe_->systemFifo.get();
        // A short read (the sound stopped flowing) is completed with silence.
        const int n = fifo ? std::min(av_audio_fifo_size(fifo), frameSize_) : 0;
        if (n > 0)
            av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), n);
        FillSilence(frame, std::max(n, 0));
        return true;
    }
    if (fifo && av_audio_fifo_size(fifo) > 0) {
        // The sound stopped flowing (or its device went away) with samples still waiting: they
        // were captured in real time before, so they come first, without pacing.
        if (source_ == kSystemSound)
            pacing.Reset();
        const int n = std::min(av_audio_fifo_size(fifo), frameSize_);
        av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), n);
        FillSilence(frame, n);
        return true;
    }
    lock.unlock();
    if (source_ == kSystemSound)
        PaceSilence(pacing);
    if (stopRequested_)
        return false;
    FillSilence(frame, 0);
    return true;
}

void AudioRecorder::EncodeThread()
{
    // Encode thread. Owns the encoder, the mixing graph, runningPts_ and the output context from
    // Open until it ends (the finishing thread takes them over only after this thread has ended).
    // Reads micFifo under micFifoLock_ and systemFifo under systemFifoLock_.
    ff::PacketPtr packet = ff::MakePacket();
    auto makeFrame = [this](bool withBuffer) {
        ff::FramePtr f = ff::MakeFrame();
        f->nb_samples = frameSize_;
        f->format = outSampleFormat_;
        f->sample_rate = outSampleRate_;
        f->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
        if (withBuffer && av_frame_get_buffer(f.get(), 0) < 0)
            return ff::FramePtr();
        return f;
    };
    ff::FramePtr micFrame = makeFrame(true);
    ff::FramePtr systemFrame = makeFrame(true);
    ff::FramePtr mixed = ff::MakeFrame();
    if (!packet || !micFrame || !systemFrame || !mixed) {
        LOG(ERROR) << "frame alloc error";
        return;
    }
    Pacing pacing;
    int64_t framesSent = 0;

    // One frame from the sources into the encoder; false ends the thread.
    auto encodeOne = [&](bool draining) -> bool {
        if (av_frame_make_writable(micFrame.get()) < 0 || av_frame_make_writable(systemFrame.get()) < 0)
            return false;
        if (silentMode_ != 0) {
            if (draining)
                return false;
            PaceSilence(pacing);
            FillSilence(systemFrame.get(), 0);
            systemFrame->pts = framesSent++ * frameSize_;
            return EncodeAndWrite(systemFrame.get(), packet.get());
        }
        switch (source_) {
        case kBoth: {
            const bool haveMic = ReadMicFrame(micFrame.get(), draining);
            if (!haveMic && !draining)
                return true; // stopping: the loop ends and the FIFOs are drained
            // The microphone sets the pace of a mixed recording, also at its end: the drain
            // ends with the microphone's last samples.
            if (draining && !haveMic)
                return false;
            bool haveSystem = ReadSystemFrame(systemFrame.get(), pacing, draining);
            if (!haveSystem && !draining) {
                // Stop came between the two reads: the system part of this frame is taken as the
                // drain takes it, after the last captured samples are in, so both sources stay
                // aligned to the end.
                WaitForCaptureThreads();
                haveSystem = ReadSystemFrame(systemFrame.get(), pacing, true);
            }
            if (!haveMic)
                FillSilence(micFrame.get(), 0);
            if (!haveSystem)
                FillSilence(systemFrame.get(), 0);
            int ret = av_buffersrc_add_frame_flags(pipe_->in1, micFrame.get(), AV_BUFFERSRC_FLAG_KEEP_REF);
            if (ret < 0) {
                LOG(ERROR) << "audio mic frame add  filtergraph error, ret=" << ret;
                return false;
            }
            ret = av_buffersrc_add_frame_flags(pipe_->in0, systemFrame.get(), AV_BUFFERSRC_FLAG_KEEP_REF);
            if (ret < 0) {
                LOG(ERROR) << "audio spk frame add  filtergraph error, ret=" << ret;
                return false;
            }
            for (;;) {
                ret = av_buffersink_get_frame(pipe_->out, mixed.get());
                if (ret == AVERROR(EAGAIN))
                    return true; // the mixer waits for more input
                if (ret < 0) {
                    LOG(ERROR) << "get audio frame from filtergraph error, ret=" << ret;
                    return false;
                }
                mixed->pts = framesSent++ * frameSize_;
                const bool ok = EncodeAndWrite(mixed.get(), packet.get());
                av_frame_unref(mixed.get());
                if (!ok)
                    return false;
            }
        }
        case kMicrophone:
            if (!pipe_->micFifo) {
                LOG(ERROR) << "audio fifo is null";
                return false;
            }
            if (!ReadMicFrame(micFrame.get(), draining))
                return !draining; // stopping: the loop ends and the FIFO is drained
            micFrame->pts = framesSent++ * frameSize_;
            return EncodeAndWrite(micFrame.get(), packet.get());
        case kSystemSound:
            if (!ReadSystemFrame(systemFrame.get(), pacing, draining))
                return !draining; // stopping: the loop ends and the FIFO is drained
            systemFrame->pts = framesSent++ * frameSize_;
            return EncodeAndWrite(systemFrame.get(), packet.get());
        default: {
            // No source: nothing to encode; wait like a pause so the thread does not spin.
            std::unique_lock<std::mutex> lock(stopLock_);
            stopSignal_.wait_for(lock, kPausePoll, [this] { return stopRequested_.load(); });
            return true;
        }
        }
    };

    bool failed = false;
    while (!stopRequested_) {
        if (!running_) {
            // Paused (or not yet running): no frame is made and the time stands still.
            std::unique_lock<std::mutex> lock(stopLock_);
            while (!running_ && !stopRequested_) {
                pacing.Reset();
                stopSignal_.wait_for(lock, kPausePoll,
                                     [this] { return running_.load() || stopRequested_.load(); });
            }
            continue;
        }
        if (!encodeOne(false)) {
            failed = true;
            break;
        }
    }

    if (!failed) {
        // Stopped: once the capture threads have delivered their last samples, encode what is
        // left in the FIFOs (padded to whole frames), then flush the encoder.
        WaitForCaptureThreads();
        while (encodeOne(true)) {
        }
    }
    if (avcodec_send_frame(pipe_->encoder.get(), nullptr) >= 0)
        DrainEncoder(packet.get());
    DebugPrint("audio encode thread exit\n");
}

void AudioRecorder::WaitForCaptureThreads()
{
    std::unique_lock<std::mutex> lock(stopLock_);
    stopSignal_.wait(lock, [this] { return captureWorkers_ == 0; });
}

void AudioRecorder::FinishThread()
{
    // Finishing thread. Waits for the stop event and for the encode and capture threads to end,
    // then writes the trailer and frees the pipeline, which nobody else touches by then.
    {
        std::unique_lock<std::mutex> lock(stopLock_);
        stopSignal_.wait(lock, [this] { return stopEvent_; });
        DebugPrint(" WaitForMultipleObjects exit\n");
        stopSignal_.wait(lock, [this] { return activeWorkers_ == 0; });
    }
    if (av_write_trailer(pipe_->output.get()) < 0) {
        LOG(ERROR) << "av_write_trailer error";
    }
    pipe_.reset();
}
