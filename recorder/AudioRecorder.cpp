// AudioRecorder: options, Open/Run/Pause/Stop and the lifetime of the recording threads.
//
// Ownership and threads:
// - The owner's thread runs the constructor, Open, Run, Pause, Stop and the destructor.
// - Open builds the whole pipeline (input, encoder, file, FIFOs, graph) before it starts any
//   thread, so a failed Open has nothing to end but the threads it started, and no thread ever
//   sees a half-built pipeline.
// - The worker threads (encode, system capture, microphone capture) count themselves in
//   activeWorkers_; the finishing thread waits for the stop event and then for that count to reach
//   zero before it writes the trailer. The destructor joins every thread, so no thread outlives
//   the recorder.

#include "AudioRecorder.h"

#include "ConfigStore.h"
#include "RecorderPipeline.h"

#include <glog/logging.h>

#include <cstdio>
#include <system_error>

namespace {
// Two packets of 10 ms at 44100 Hz: the most the two sources can differ by at a pause.
constexpr int64_t kMaxPauseSkew = 882;
} // namespace

AudioRecorder::AudioRecorder(RecorderOwner* owner) : owner_(owner) {}

AudioRecorder::~AudioRecorder()
{
    EndThreads();
}

int AudioRecorder::Open(const RecordParams& params)
{
    if (opened_)
        return -1; // one recording per recorder
    opened_ = true;

    fileName_ = params.fileName;
    folder_ = params.folder;
    format_ = params.format;
    bitRate_ = params.bitRate;
    micPresent_ = params.micPresent;
    micName_ = params.micName;

    noiseSuppression_ = static_cast<int>(ReadConfigInt(config::kSection, config::kNoiseCheck, 0));
    gainControl_ = static_cast<int>(ReadConfigInt(config::kSection, config::kAgcCheck, 0));
    if (format_ == "wav") {
        noiseSuppression_ = 0;
        gainControl_ = 0;
    }

    frameSize_ = 1024;
    outSampleFormat_ = format_ == "mp3" ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    outSampleRate_ = 44100;
    outChannels_ = 2;
    runningPts_ = 0;
    lastPostedSecond_ = 0;
    state_ = kIdle;

    source_ = static_cast<int>(ReadConfigInt(config::kSection, config::kVoiceSource, 0));
    silentMode_ = static_cast<int>(ReadConfigInt(config::kSection, config::kAudioMuteCheck, 0));
    micGainDb_ = static_cast<int>(ReadConfigInt(config::kSection, config::kVoiceSize, 20));
    if (params.sourceOverride)
        source_ = *params.sourceOverride;
    if (params.silentOverride)
        silentMode_ = *params.silentOverride;

    pipe_ = std::make_unique<Pipeline>();
    const std::string path = OutputPath();
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, nullptr, path.c_str()) < 0 || !out) {
        LOG(ERROR) << "Could not create output context";
        pipe_.reset();
        return -1;
    }
    pipe_->output.reset(out);

    const bool wantMic = silentMode_ == 0 && (source_ == kBoth || source_ == kMicrophone) && micPresent_;
    int ret = wantMic ? OpenMicrophone() : 0;
    if (ret >= 0)
        ret = OpenEncoderAndFile();
    if (ret < 0) {
        LOG(ERROR) << "音频参数初始化失败";
        pipe_.reset();
        return ret;
    }

    if (!micPresent_)
        source_ = kSystemSound;

    // The graph is built before any thread starts, so its failure leaves no thread to end.
    if (silentMode_ == 0 && source_ == kBoth) {
        ret = BuildMixGraph();
        if (ret < 0) {
            LOG(ERROR) << "混音参数初始化失败";
            pipe_.reset(); // closes and removes nothing but our own empty file below
            std::remove(path.c_str());
            return ret;
        }
    }

    const bool withMic = silentMode_ == 0 && (source_ == kBoth || source_ == kMicrophone);
    const bool withSystem = silentMode_ == 0 && (source_ == kBoth || source_ == kSystemSound);
    {
        // Every worker is counted before the first one starts, so the encode thread's wait for
        // the capture threads can never end early.
        std::lock_guard<std::mutex> guard(stopLock_);
        activeWorkers_ = 1 + (withMic ? 1 : 0) + (withSystem ? 1 : 0);
        captureWorkers_ = (withMic ? 1 : 0) + (withSystem ? 1 : 0);
    }
    StartThread(encodeThread_, &AudioRecorder::EncodeThread, false);
    if (withMic)
        StartThread(micThread_, &AudioRecorder::MicCaptureThread, true);
    if (withSystem)
        StartThread(systemThread_, &AudioRecorder::SystemCaptureThread, true);
    finishThread_ = std::thread(&AudioRecorder::FinishThread, this);
    return 0;
}

int AudioRecorder::Run()
{
    if (state_ == kPaused && source_ == kBoth && silentMode_ == 0) {
        // Each source stopped at the end of its own last packet before the pause; the one that
        // took in less gets the difference as silence, so both go on aligned. A larger gap comes
        // from system sound that was not flowing and is left alone.
        const int64_t skew = micTaken_.load() - systemTaken_.load();
        if (skew > 0 && skew <= kMaxPauseSkew)
            systemPad_ += skew;
        else if (skew < 0 && -skew <= kMaxPauseSkew)
            micPad_ += -skew;
    }
    state_ = kRecording;
    running_ = true;
    WakeAll();
    return 0;
}

int AudioRecorder::Pause()
{
    state_ = kPaused;
    running_ = false;
    return 0;
}

int AudioRecorder::Stop()
{
    state_ = kStopped;
    running_ = false;
    stopRequested_ = true;
    systemActive_ = false;
    {
        std::lock_guard<std::mutex> guard(stopLock_);
        stopEvent_ = true;
    }
    WakeAll();
    return 0;
}

void AudioRecorder::WakeAll()
{
    // Taking each lock before notifying makes sure a waiter that has just tested its predicate is
    // already waiting when the notification comes.
    { std::lock_guard<std::mutex> g(micFifoLock_); }
    micFifoSignal_.notify_all();
    { std::lock_guard<std::mutex> g(systemFifoLock_); }
    systemFifoSignal_.notify_all();
    { std::lock_guard<std::mutex> g(stopLock_); }
    stopSignal_.notify_all();
}

void AudioRecorder::StartThread(std::thread& slot, void (AudioRecorder::*body)(), bool capture)
{
    auto finished = [this, capture] {
        {
            std::lock_guard<std::mutex> guard(stopLock_);
            --activeWorkers_;
            if (capture)
                --captureWorkers_;
        }
        stopSignal_.notify_all();
    };
    try {
        slot = std::thread([this, body, finished] {
            (this->*body)();
            finished();
        });
    } catch (const std::system_error& e) {
        LOG(ERROR) << "thread start error: " << e.what();
        finished(); // the recording goes on without this thread
    }
}

void AudioRecorder::EndThreads()
{
    if (state_ != kStopped || !stopRequested_)
        Stop();
    for (std::thread* t : {&encodeThread_, &micThread_, &systemThread_, &finishThread_})
        if (t->joinable())
            t->join();
}
