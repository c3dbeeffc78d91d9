// AudioRecorder: options, Open/Run/Pause/Stop and the encode thread.
//
// Ownership and threads:
// - The owner's thread runs the constructor, Open, Run, Pause, Stop and the destructor.
// - Open builds the whole pipeline (writer, FIFOs, sources, streams, journal) and then starts the
//   encode thread; a failed Open has started nothing and left no file.
// - The sound server's main loop thread delivers into the sources (each CaptureStream says when).
// - The encode thread makes the frames, writes the file, finishes it, ends the streams and marks
//   the recording finished; the destructor joins it, so nothing outlives the recorder.

#include "AudioRecorder.h"

#include "CaptureBackend.h"
#include "CaptureSource.h"
#include "EchoReference.h"
#include "RecordingJournal.h"
#include "RecordingTracks.h"
#include "RecordingWriter.h"
#include "SampleFifo.h"
#include "SourceGroup.h"
#include "TakeTimeline.h"
#include "VoiceGate.h"

#include <glog/logging.h>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <array>
#include <chrono>
#include <cmath>
#include <deque>
#include <vector>

namespace {

// The FIFOs hold six seconds: far more than a source runs ahead of the encoder.
constexpr int kFifoSeconds = 6;
// Levels reach the owner about 20 times a second.
constexpr int64_t kLevelPeriodNs = 50'000'000;
// Streams look for device changes about 10 times a second (a change is followed within 0.5 s).
constexpr int64_t kMaintainPeriodNs = 100'000'000;
// The file reaches the disk (and a WAV's header its sizes) once a second: a crash loses at most that.
constexpr int64_t kSyncPeriodNs = 1'000'000'000;
// New samples wake the encode thread once they reach this far past the end of the next frame
// (about three frames more: fewer wake-ups, and still well within the level meters' 50 ms).
constexpr int64_t kWakeAhead = 3 * 1152;
// Longest and shortest sleep of the encode thread between looks at its sources.
constexpr auto kMaxWait = std::chrono::milliseconds(50);
constexpr auto kMinWait = std::chrono::milliseconds(2);

} // namespace

// Everything of one recording. Members are destroyed in reverse order: the streams first, so
// nothing is delivered into a source that is gone.
struct AudioRecorder::Pipeline {
    RecordingWriter writer;
    RecordingJournal journal;
    std::unique_ptr<RecordingTracks> tracks; // each source apart, beside the mix
    std::unique_ptr<EchoReference> echo; // the system sound for the microphone's echo canceller
    std::unique_ptr<SampleFifo> systemFifo;
    std::unique_ptr<SampleFifo> micFifo;
    std::unique_ptr<CaptureSource> system;
    std::unique_ptr<CaptureSource> mic;
    // The system sound captured as the echo reference only (the microphone alone is recorded, or
    // only chosen programs' sound).
    std::unique_ptr<SampleFifo> referenceFifo;
    std::unique_ptr<CaptureSource> reference;
    std::unique_ptr<SourceGroup> programs; // instead of system: the chosen programs' streams
    std::unique_ptr<TakeTimeline> timeline;
    std::unique_ptr<CaptureStream> systemStream;
    std::unique_ptr<CaptureStream> micStream;
    std::unique_ptr<CaptureStream> referenceStream;

    std::array<CaptureStream*, 3> Streams() const
    {
        return {systemStream.get(), micStream.get(), referenceStream.get()};
    }
};

AudioRecorder::AudioRecorder(RecorderOwner* owner, CaptureBackend* backend)
    : owner_(owner), backend_(backend ? backend : &CaptureBackend::SoundServer())
{
}

AudioRecorder::~AudioRecorder()
{
    if (encodeThread_.joinable()) {
        Stop();
        encodeThread_.join();
    }
}

int64_t AudioRecorder::NowPos() const
{
    return av_rescale(backend_->NowNs() - epochNs_, RecordingWriter::kSampleRate, 1'000'000'000);
}

void AudioRecorder::Wake()
{
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        ++wakeCount_;
    }
    wakeSignal_.notify_all();
}

void AudioRecorder::WakeFor(const SampleFifo& fifo)
{
    if (fifo.EndPos() >= neededPos_.load())
        Wake();
}

int AudioRecorder::Open(const RecordingPlan& plan)
{
    if (opened_)
        return -1; // one recording per recorder
    opened_ = true;
    plan_ = plan;
    if (plan.format != "mp3" && plan.format != "wav") {
        LOG(ERROR) << "音频参数初始化失败";
        return -1;
    }
    auto pipe = std::make_unique<Pipeline>();
    const bool withMic = !plan.silent && (plan.source == kBoth || plan.source == kMicrophone);
    const bool withSystem = !plan.silent && (plan.source == kBoth || plan.source == kSystemSound);

    const std::string path = OutputPath();
    const int opened = pipe->writer.Open(path, plan.format, plan.bitRate, withMic && withSystem);
    if (opened < 0) {
        LOG(ERROR) << (opened == RecordingWriter::kGraphFailed ? "混音参数初始化失败" : "音频参数初始化失败");
        return -1;
    }
    if (plan.splitTracks && withMic && withSystem) {
        pipe->tracks = std::make_unique<RecordingTracks>();
        if (!pipe->tracks->Open(path, plan.format, plan.bitRate)) {
            pipe->writer.Finish();
            std::remove(path.c_str());
            return -1;
        }
    }
    pipe->writer.onSeconds = [this](int64_t seconds) {
        if (owner_)
            owner_->PostRecorderSeconds(seconds);
    };

    epochNs_ = backend_->NowNs();
    pipe->timeline = std::make_unique<TakeTimeline>(pipe->writer.FrameSize());
    const int64_t allowance =
        av_rescale(CaptureSource::kGapNs, RecordingWriter::kSampleRate, 1'000'000'000);
    CaptureSource::Options options;
    options.outFormat = pipe->writer.SampleFormat();
    options.outRate = RecordingWriter::kSampleRate;
    options.outChannels = 2;
    options.epochNs = epochNs_;
    const int capacity = RecordingWriter::kSampleRate * kFifoSeconds;
    if (withMic && plan.echoCancel)
        pipe->echo = std::make_unique<EchoReference>();
    options.echoOut = pipe->echo.get();
    if (withSystem) {
        pipe->systemFifo = std::make_unique<SampleFifo>(options.outFormat, options.outChannels, capacity);
        if (plan.programs.Narrowed()) {
            // The echo comes from everything the speakers play: the reference is captured apart.
            CaptureSource::Options lanes = options;
            lanes.echoOut = nullptr;
            pipe->programs = std::make_unique<SourceGroup>(lanes, *pipe->systemFifo,
                                                           [backend = backend_] { return backend->NowNs(); });
        } else
            pipe->system = std::make_unique<CaptureSource>(options, *pipe->systemFifo);
        pipe->timeline->AddSource(pipe->systemFifo.get(), allowance);
        pipe->systemFifo->SetDataCallback([this, fifo = pipe->systemFifo.get()] { WakeFor(*fifo); });
    }
    if (pipe->echo && !pipe->system) {
        options.referenceOnly = true; // nothing reaches its FIFO
        pipe->referenceFifo = std::make_unique<SampleFifo>(options.outFormat, options.outChannels, 1);
        pipe->reference = std::make_unique<CaptureSource>(options, *pipe->referenceFifo);
        options.referenceOnly = false;
    }
    options.echoOut = nullptr;
    if (withMic) {
        options.echoIn = pipe->echo.get();
        options.noiseSuppression = plan.noiseSuppression;
        options.gainControl = plan.gainControl;
        options.micGainDb = plan.micGainDb;
        pipe->micFifo = std::make_unique<SampleFifo>(options.outFormat, options.outChannels, capacity);
        pipe->mic = std::make_unique<CaptureSource>(options, *pipe->micFifo);
        pipe->timeline->AddSource(pipe->micFifo.get(), allowance);
        pipe->micFifo->SetDataCallback([this, fifo = pipe->micFifo.get()] { WakeFor(*fifo); });
    }
    pipe->journal.Begin(path, plan.format);
    if (pipe->system)
        pipe->systemStream = backend_->Open(CaptureKind::kSystemSound, *pipe->system);
    else if (pipe->programs)
        pipe->systemStream = backend_->OpenPrograms(plan.programs, *pipe->programs);
    if (pipe->mic)
        pipe->micStream = backend_->Open(CaptureKind::kMicrophone, *pipe->mic);
    if (pipe->reference)
        pipe->referenceStream = backend_->Open(CaptureKind::kSystemSound, *pipe->reference);

    pipe_ = std::move(pipe);
    state_ = kIdle;
    try {
        encodeThread_ = std::thread(&AudioRecorder::EncodeThread, this);
    } catch (const std::system_error& e) {
        LOG(ERROR) << "thread start error: " << e.what();
        pipe_->writer.Finish();
        std::remove(path.c_str());
        pipe_->journal.End();
        if (pipe_->tracks)
            pipe_->tracks->Discard();
        pipe_.reset();
        return -1;
    }
    return 0;
}

int AudioRecorder::Run()
{
    if (!pipe_ || state_ == kStopped)
        return -1;
    state_ = kRecording;
    pipe_->timeline->Run(NowPos());
    Wake();
    return 0;
}

int AudioRecorder::Pause()
{
    if (!pipe_ || state_ == kStopped)
        return -1;
    state_ = kPaused;
    pipe_->timeline->Pause(NowPos());
    Wake();
    return 0;
}

int AudioRecorder::Stop()
{
    if (state_ == kStopped || !pipe_) {
        state_ = kStopped;
        return 0;
    }
    state_ = kStopped;
    pipe_->timeline->Stop(NowPos());
    {
        std::lock_guard<std::mutex> guard(streamsLock_); // the encode thread may be ending them
        for (CaptureStream* stream : pipe_->Streams())
            if (stream)
                stream->Hurry();
    }
    Wake();
    return 0;
}

void AudioRecorder::EncodeThread()
{
    // Encode thread. Owns the writer (encoder, graph, file), the journal and, once running, the
    // streams' upkeep (Maintain) and their end. Reads the FIFOs through the timeline (each FIFO
    // has its own lock; the timeline's segments have theirs). Woken through wakeLock_/wakeSignal_.
    Pipeline& p = *pipe_;
    auto makeFrame = [&] {
        ff::FramePtr f = ff::MakeFrame();
        if (!f)
            return f;
        f->nb_samples = p.writer.FrameSize();
        f->format = p.writer.SampleFormat();
        f->sample_rate = RecordingWriter::kSampleRate;
        f->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
        if (av_frame_get_buffer(f.get(), 0) < 0)
            f.reset();
        return f;
    };
    ff::FramePtr systemFrame = makeFrame();
    ff::FramePtr micFrame = makeFrame();
    // Frames the sources are read into: writable again (the mixer may still hold a reference to
    // the last ones) and whole.
    std::vector<uint8_t* const*> buffers;
    auto prepare = [&] {
        buffers.clear();
        for (AVFrame* f : {systemFrame.get(), micFrame.get()}) {
            f->nb_samples = p.writer.FrameSize();
            if (av_frame_make_writable(f) < 0)
                return false;
        }
        if (p.systemFifo)
            buffers.push_back(systemFrame->data);
        if (p.micFifo)
            buffers.push_back(micFrame->data);
        return true;
    };
    // The only source of a one-source recording goes to the writer as its first frame.
    AVFrame* first = p.systemFifo ? systemFrame.get() : p.micFifo ? micFrame.get() : systemFrame.get();
    AVFrame* second = p.systemFifo && p.micFifo ? micFrame.get() : nullptr;

    // The mix, and each source on its own track when they are kept apart.
    auto writeAll = [&](AVFrame* a, AVFrame* b, int count) {
        return p.writer.Write(a, b, count) && (!p.tracks || p.tracks->Write(a, b, count));
    };

    // Voice activation: the frames wait in held until the gate says whether they go to the file.
    std::unique_ptr<VoiceGate> gate;
    if (plan_.voiceActivated) {
        VoiceGate::Settings settings;
        settings.thresholdDb = plan_.voiceThresholdDb;
        settings.silenceSeconds = plan_.voiceSilenceSeconds;
        gate = std::make_unique<VoiceGate>(settings, RecordingWriter::kSampleRate);
    }
    struct Held {
        ff::FramePtr first;
        ff::FramePtr second;
        int count;
    };
    std::deque<Held> held;
    bool gateWrote = false;
    // The gate waits for sound until it first opens, and again after each pause it makes.
    bool waiting = gate != nullptr;
    if (waiting && owner_)
        owner_->PostRecorderWaiting(true);
    double gateLevels[2] = {VoiceGate::kSilenceDb, VoiceGate::kSilenceDb}; // first, second frame's loudest since the last report
    auto apply = [&](VoiceGate::Verdict verdict) {
        for (; verdict.drop > 0; --verdict.drop)
            held.pop_front();
        for (; verdict.write > 0; --verdict.write) {
            const Held frame = std::move(held.front());
            held.pop_front();
            if (!writeAll(frame.first.get(), frame.second.get(), frame.count))
                return false;
            gateWrote = true;
        }
        return true;
    };
    const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(p.writer.SampleFormat())) != 0;
    auto write = [&](int count) {
        if (!gate)
            return writeAll(first, second, count);
        // The louder source decides; the frames are kept by reference (the next frame is read
        // into new buffers).
        const double firstDb =
            VoiceGate::LevelDb(first->data, planar ? 2 : 1, planar ? count : 2 * count, p.writer.SampleFormat());
        const double secondDb = second ? VoiceGate::LevelDb(second->data, planar ? 2 : 1, planar ? count : 2 * count,
                                                            p.writer.SampleFormat())
                                       : VoiceGate::kSilenceDb;
        const double level = std::max(firstDb, secondDb);
        Held frame{ff::FramePtr(av_frame_clone(first)), ff::FramePtr(second ? av_frame_clone(second) : nullptr), count};
        if (!frame.first || (second && !frame.second)) {
            LOG(ERROR) << "frame alloc error";
            return false;
        }
        held.push_back(std::move(frame));
        // The meters show what the gate compares: the louder frame of each source since the
        // last report.
        gateLevels[0] = std::max(gateLevels[0], firstDb);
        gateLevels[1] = std::max(gateLevels[1], secondDb);
        const bool ok = apply(gate->Push(count, level));
        if (gate->IsOpen() == waiting && owner_) {
            waiting = !gate->IsOpen();
            owner_->PostRecorderWaiting(waiting);
        }
        return ok;
    };

    bool ok = systemFrame && micFrame;
    if (!ok)
        LOG(ERROR) << "frame alloc error";
    const auto now = [this] { return backend_->NowNs(); };
    int64_t lastLevels = now();
    int64_t lastMaintain = lastLevels;
    int64_t lastSync = lastLevels;
    uint64_t seenWakes = 0;
    while (ok) {
        const int64_t frameEnd = p.timeline->NextFrameEnd();
        neededPos_ = frameEnd == SampleFifo::kNoPosition ? INT64_MAX : frameEnd + kWakeAhead;
        const int64_t readyAt = p.timeline->ReadyAt();
        auto wait = kMaxWait;
        if (readyAt != SampleFifo::kNoPosition) {
            const int64_t ms = (readyAt - NowPos()) * 1000 / RecordingWriter::kSampleRate;
            wait = std::clamp(std::chrono::milliseconds(ms), kMinWait, kMaxWait);
        }
        {
            std::unique_lock<std::mutex> lock(wakeLock_);
            wakeSignal_.wait_for(lock, wait, [&] { return wakeCount_ != seenWakes; });
            seenWakes = wakeCount_;
        }
        const int64_t t = now();
        if (t - lastMaintain >= kMaintainPeriodNs) {
            lastMaintain = t;
            for (CaptureStream* stream : p.Streams())
                if (stream)
                    stream->Maintain();
        }
        if (t - lastLevels >= kLevelPeriodNs) {
            lastLevels = t;
            float mic = p.mic ? p.mic->TakePeak() : -1.0f;
            float system = p.system ? p.system->TakePeak() : p.programs ? p.programs->TakePeak() : -1.0f;
            if (gate) {
                // Voice activation: the gate's RMS levels, on the scale of its threshold (peaks
                // lie 3 dB above a tone's RMS and 10 to 20 dB above speech's).
                const auto linear = [](double db) { return static_cast<float>(std::pow(10.0, db / 20.0)); };
                if (p.systemFifo)
                    system = linear(gateLevels[0]);
                if (p.micFifo)
                    mic = linear(gateLevels[p.systemFifo ? 1 : 0]);
                gateLevels[0] = gateLevels[1] = VoiceGate::kSilenceDb;
            }
            if (owner_)
                owner_->PostRecorderLevels(mic, system);
        }
        int made = 0;
        const int64_t pos = NowPos();
        while ((ok = prepare()) && (made = p.timeline->NextFrame(pos, buffers)) > 0) {
            if (buffers.empty())
                av_samples_set_silence(first->data, 0, made, 2, static_cast<AVSampleFormat>(p.writer.SampleFormat()));
            if (!write(made)) {
                ok = false;
                break;
            }
        }
        if (made < 0) {
            // Stopped, and everything up to the stop is made; the gate gives up what it holds.
            if (gate)
                ok = apply(gate->Finish());
            // A take in which nothing was heard still ends as a playable file: one frame of
            // silence (an MP3 without a frame has no length a player can read).
            if (gate && ok && !gateWrote) {
                for (AVFrame* frame : {first, second})
                    if (frame)
                        av_samples_set_silence(frame->data, 0, frame->nb_samples, 2,
                                               static_cast<AVSampleFormat>(p.writer.SampleFormat()));
                ok = writeAll(first, second, first->nb_samples);
            }
            break;
        }
        if (ok && t - lastSync >= kSyncPeriodNs) {
            lastSync = t;
            ok = p.writer.Sync() && (!p.tracks || p.tracks->Sync());
        }
    }

    // The streams end first: nothing is captured for a finished file.
    {
        std::lock_guard<std::mutex> guard(streamsLock_);
        p.systemStream.reset();
        p.micStream.reset();
        p.referenceStream.reset();
    }
    const bool tracksWritten = !p.tracks || p.tracks->Finish();
    const bool written = p.writer.Finish() && tracksWritten && ok;
    p.journal.End();
    if (!written) {
        OutputFile::Error error = p.writer.GetError();
        if (error == OutputFile::Error::kNone && p.tracks)
            error = p.tracks->GetError();
        LOG(ERROR) << "recording stopped: " << (error == OutputFile::Error::kDiskFull ? "disk full" : "write failed")
                   << ", " << OutputPath();
        state_ = kStopped;
        p.timeline->Stop(NowPos());
        if (owner_)
            owner_->PostRecorderError(error == OutputFile::Error::kDiskFull ? RecorderError::kDiskFull
                                                                            : RecorderError::kWriteFailed);
    }
    LOG(INFO) << "audio encode thread exit";
    finished_ = true;
}
