// AudioRecorder, microphone: opening the input at Open, and the microphone capture thread.

#include "AudioRecorder.h"

#include "DeviceDiscovery.h"
#include "RecorderPipeline.h"
#include "TextUtil.h"
#include "VoiceProcessor.h"

#include <glog/logging.h>
#include <pulse/sample.h>

#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include <mutex>
#include <vector>

namespace {

// Format of the voice-processing stage: 32000 Hz mono s16 in 10 ms units.
constexpr int kProcessingRate = 32000;
// Wait for room in a full microphone FIFO.
constexpr auto kFifoWait = std::chrono::milliseconds(400);
// The microphone FIFO holds six seconds.
constexpr int kMicFifoSeconds = 6;
// Bound for connecting to the sound server and starting the stream.
constexpr int kOpenTimeoutMs = 2000;
// Wait for data before looking again (also how often Stop is noticed).
constexpr int kPollMs = 10;

// Samples converted by one call of a resampler, in buffers that grow as needed.
class ConvertBuffer {
public:
    ~ConvertBuffer() { Free(); }
    // Makes room for count samples of fmt/channels; false when allocation failed.
    bool Reserve(int count, int channels, AVSampleFormat fmt)
    {
        if (data_ && count <= capacity_)
            return true;
        Free();
        if (av_samples_alloc_array_and_samples(&data_, &lineSize_, channels, count, fmt, 0) < 0) {
            data_ = nullptr;
            return false;
        }
        capacity_ = count;
        return true;
    }
    uint8_t** Data() const { return data_; }

private:
    void Free()
    {
        if (data_) {
            av_freep(&data_[0]);
            av_freep(&data_);
        }
        capacity_ = 0;
    }
    uint8_t** data_ = nullptr;
    int lineSize_ = 0;
    int capacity_ = 0;
};

} // namespace

int AudioRecorder::OpenMicrophone()
{
    std::vector<AudioInputDevice> devices;
    EnumAudioInputDevices(devices);
    if (devices.empty()) {
        LOG(ERROR) << "no audio input device";
        return -1;
    }
    DebugPrint("device name: %s\n", devices.front().friendlyName.toUtf8().constData());
    const std::string deviceName = devices.front().displayName.toUtf8().toStdString();
    DebugPrint("audiodevice: %s\n", deviceName.c_str());

    // The device's own rate and channel count; the converter below takes them as they are.
    pipe_->micInput = std::make_unique<PulseRecordStream>();
    if (pipe_->micInput->Open(deviceName, PA_SAMPLE_S16LE, 0, 0, kOpenTimeoutMs) !=
        PulseRecordStream::OpenError::kNone) {
        LOG(ERROR) << "psDevName:" << deviceName;
        LOG(ERROR) << "avformat_open_input err,ret=" << AVERROR(EIO) << ",errstr=" << ff::ErrorText(AVERROR(EIO));
        return -1;
    }
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE);
    pipe_->micDecoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    AVCodecContext* dec = pipe_->micDecoder.get();
    if (!dec) {
        LOG(ERROR) << "can not find or open audio decoder!";
        return -1;
    }
    dec->sample_rate = pipe_->micInput->Rate();
    av_channel_layout_default(&dec->ch_layout, pipe_->micInput->Channels());
    if (avcodec_open2(dec, decoder, nullptr) < 0) {
        LOG(ERROR) << "can not find or open audio decoder!";
        return -1;
    }

    // The converter to the output format takes what the device delivers, or the processing
    // format when voice processing is on.
    const bool processing = noiseSuppression_ || gainControl_;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* swr = nullptr;
    const int ret = swr_alloc_set_opts2(&swr, &stereo, static_cast<AVSampleFormat>(outSampleFormat_), outSampleRate_,
                                        processing ? &mono : &dec->ch_layout,
                                        processing ? AV_SAMPLE_FMT_S16 : dec->sample_fmt,
                                        processing ? kProcessingRate : dec->sample_rate, 0, nullptr);
    if (ret < 0 || !swr) {
        LOG(ERROR) << "Could not allocate resampler context";
        return -1;
    }
    pipe_->micToOutput.reset(swr);
    if (swr_init(swr) < 0) {
        LOG(ERROR) << "Failed to initialize the resampling context";
        return -1;
    }
    pipe_->micFifo.reset(av_audio_fifo_alloc(static_cast<AVSampleFormat>(outSampleFormat_), outChannels_,
                                             outSampleRate_ * kMicFifoSeconds));
    if (!pipe_->micFifo) {
        LOG(ERROR) << "Could not allocate audio fifo";
        return -1;
    }
    return 0;
}

void AudioRecorder::WriteToMicFifo(uint8_t** data, int samples)
{
    std::unique_lock<std::mutex> lock(micFifoLock_);
    AVAudioFifo* fifo = pipe_->micFifo.get();
    while (av_audio_fifo_space(fifo) < samples) {
        LOG(ERROR) << "audio fifo space is not enough";
        if (stopRequested_)
            return; // the block is given up
        micFifoSignal_.wait_for(lock, kFifoWait,
                                [&] { return stopRequested_.load() || av_audio_fifo_space(fifo) >= samples; });
    }
    av_audio_fifo_write(fifo, reinterpret_cast<void**>(data), samples);
    lock.unlock();
    micFifoSignal_.notify_all();
}

void AudioRecorder::MicCaptureThread()
{
    // Microphone capture thread. Owns the input, the decoder, both converters and the voice
    // processor while it runs. Writes micFifo under micFifoLock_ and wakes micFifoSignal_ after
    // each write; shares micFlushed_, loopbackDrained_, running_ and stopRequested_ without a lock.
    struct EndMark {
        AudioRecorder* r;
        ~EndMark()
        {
            r->micThreadEnded_ = true;
            r->WakeAll();
        }
    } endMark{this};

    PulseRecordStream* input = pipe_->micInput.get();
    AVCodecContext* dec = pipe_->micDecoder.get();
    SwrContext* toOutput = pipe_->micToOutput.get();
    ff::FramePtr frame = ff::MakeFrame();
    ff::PacketPtr packet = ff::MakePacket();
    if (!input || !dec || !toOutput || !frame || !packet) {
        LOG(ERROR) << "frame alloc error";
        return;
    }
    const size_t blockAlign = static_cast<size_t>(input->Channels()) * 2;

    const bool processing = noiseSuppression_ || gainControl_;
    VoiceProcessor voice;
    if (processing && voice.Init(noiseSuppression_ != 0, gainControl_ != 0, micGainDb_) < 0)
        return;
    ff::SwrPtr toProcessing;
    ConvertBuffer processingBuffer;
    ConvertBuffer outputBuffer;
    ConvertBuffer silenceBuffer;
    double takenSeconds = 0; // what this thread took in since Open, padding included
    std::vector<int16_t> processed;
    const auto outFormat = static_cast<AVSampleFormat>(outSampleFormat_);

    // Converts count input samples (input == nullptr flushes) to the output format and stores
    // them; false ends the thread.
    auto toFifo = [&](const uint8_t** in, int count, int stageRate) -> bool {
        const int want = static_cast<int>(av_rescale_rnd(swr_get_delay(toOutput, stageRate) + count,
                                                         outSampleRate_, stageRate, AV_ROUND_UP));
        if (want < 1)
            return true; // nothing to convert in this packet
        if (!outputBuffer.Reserve(want, outChannels_, outFormat)) {
            LOG(ERROR) << "av_samples_alloc_array_and_samples error";
            return false;
        }
        const int got = swr_convert(toOutput, outputBuffer.Data(), want, in, count);
        if (got < 0) {
            LOG(ERROR) << "Error while converting";
            return false;
        }
        if (got > 0)
            WriteToMicFifo(outputBuffer.Data(), got);
        return true;
    };

    // One decoded frame through the voice processing (when on) into micFifo.
    auto store = [&](AVFrame* f) -> bool {
        if (!processing)
            return toFifo(const_cast<const uint8_t**>(f->extended_data), f->nb_samples, f->sample_rate);
        if (!toProcessing) {
            AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
            SwrContext* swr = nullptr;
            if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, kProcessingRate, &f->ch_layout,
                                    static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr) < 0 ||
                !swr) {
                LOG(ERROR) << "swr alloc error";
                return false;
            }
            toProcessing.reset(swr);
            if (swr_init(swr) < 0) {
                LOG(ERROR) << "swr init error";
                return false;
            }
        }
        const int want = static_cast<int>(av_rescale_rnd(swr_get_delay(toProcessing.get(), f->sample_rate) +
                                                             f->nb_samples,
                                                         kProcessingRate, f->sample_rate, AV_ROUND_UP));
        if (!processingBuffer.Reserve(std::max(want, 1), 1, AV_SAMPLE_FMT_S16)) {
            LOG(ERROR) << "samples alloc error";
            return false;
        }
        const int got = swr_convert(toProcessing.get(), processingBuffer.Data(), want,
                                    const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        if (got < 0) {
            LOG(ERROR) << "Error while converting";
            return false;
        }
        processed.clear();
        voice.Process(reinterpret_cast<const int16_t*>(processingBuffer.Data()[0]), static_cast<size_t>(got),
                      processed);
        // A packet that completes no 10 ms unit gives an empty block; the thread goes on.
        if (processed.empty())
            return true;
        const uint8_t* in = reinterpret_cast<const uint8_t*>(processed.data());
        return toFifo(&in, static_cast<int>(processed.size()), kProcessingRate);
    };

    bool failed = false;
    while (!stopRequested_ && !failed) {
        if (source_ == kBoth && !(micFlushed_ && loopbackDrained_) && !systemThreadEnded_) {
            // Start synchronisation with the system sound: drop what the device has buffered,
            // then wait (bounded) for the other side; ends on Stop and when that thread ended.
            const void* data = nullptr;
            size_t bytes = 0;
            while (input->Peek(data, bytes) && bytes > 0)
                input->Drop();
            micFlushed_ = true;
            input->Wait(1);
            continue;
        }
        const void* data = nullptr;
        size_t bytes = 0;
        if (!input->Wait(kPollMs) || !input->Peek(data, bytes)) {
            // The device or the sound server went away: the recording goes on without it.
            LOG(ERROR) << "read audio packet err";
            failed = true;
            break;
        }
        if (bytes == 0)
            continue;
        if (!running_) {
            input->Drop(); // idle or paused: nothing heard now reaches the file
            input->SetFineFragments(true);
            continue;
        }
        input->SetFineFragments(false);
        // Silence asked for by Run after a pause evens this source out with the system sound.
        if (const int64_t pad = micPad_.exchange(0); pad > 0) {
            if (!silenceBuffer.Reserve(static_cast<int>(pad), outChannels_, outFormat)) {
                LOG(ERROR) << "av_samples_alloc_array_and_samples error";
                failed = true;
                break;
            }
            av_samples_set_silence(silenceBuffer.Data(), 0, static_cast<int>(pad), outChannels_, outFormat);
            WriteToMicFifo(silenceBuffer.Data(), static_cast<int>(pad));
            takenSeconds += static_cast<double>(pad) / outSampleRate_;
        }
        const size_t whole = bytes - bytes % blockAlign;
        takenSeconds += static_cast<double>(whole / blockAlign) / input->Rate();
        micTaken_ = static_cast<int64_t>(takenSeconds * outSampleRate_ + 0.5);
        if (whole > 0 && av_new_packet(packet.get(), static_cast<int>(whole)) == 0) {
            if (data)
                std::memcpy(packet->data, data, whole);
            else
                std::memset(packet->data, 0, whole); // a hole in the stream is silence
        }
        input->Drop();
        if (packet->size == 0)
            continue;
        int ret = avcodec_send_packet(dec, packet.get());
        av_packet_unref(packet.get());
        if (ret < 0) {
            LOG(ERROR) << "can not decoder a frame";
            continue;
        }
        while ((ret = avcodec_receive_frame(dec, frame.get())) >= 0) {
            const bool ok = store(frame.get());
            av_frame_unref(frame.get());
            if (!ok) {
                failed = true;
                break;
            }
        }
    }
    // What the converter still holds belongs to the end of the recording.
    toFifo(nullptr, 0, processing ? kProcessingRate : dec->sample_rate);
    DebugPrint("micophone audio capture thread exit\n");
}
