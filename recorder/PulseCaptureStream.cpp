#include "PulseCaptureStream.h"

#include "PulseContext.h"
#include "PulseProgramLoop.h"

#include <glog/logging.h>
#include <pulse/pulseaudio.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>

namespace {

// Packet length asked of the server, in samples of the stream: about 50 ms, 20 wake-ups a second.
// A PipeWire graph runs in the largest power-of-two block not above the smallest latency any
// stream asks for: this keeps its largest block (2048 samples); 40 ms would halve it, 20 ms
// quarter it. The odd length matters for timing: the server renders in blocks (441, 1024, 2048
// samples...) and a packet leaves when the block that completes it is done, so the end of a
// packet arrives up to a block after its capture. With a length that is no multiple of any block,
// the packet ends fall on every phase of the blocks within a few packets, and the earliest bound
// (CaptureSource) is the one whose packet ended right with a block.
constexpr uint32_t kFragmentFrames = 2302;
// A stream of one playback stream asks for about 100 ms a packet (odd for the same reason); the
// server sends its packets as its sink renders anyway, and they are read every few tens of ms.
constexpr uint32_t kProgramFragmentFrames = 4603;
// Timing reports: after every packet for the first second of a stream (at 48 kHz), then at most
// every 200 ms.
constexpr int64_t kEagerTimingFrames = 48000;
constexpr int64_t kTimingPeriodNs = 200'000'000;
// Used when the server does not say the device's own format.
constexpr uint32_t kFallbackRate = 44100;
constexpr uint8_t kFallbackChannels = 2;

// The sample format a stream is asked for: the system sound's is signed 32-bit, the microphone's
// 16-bit; a stream of one playback stream comes in the recording's own format (packed), so that
// the server converts once and the capture worker of each of a program's many streams has no
// conversion left to do (nothing is lost that the file would keep).
int DeliveredFormat(CaptureKind kind, const CaptureSource* program)
{
    if (program)
        return av_get_packed_sample_fmt(static_cast<AVSampleFormat>(program->OutFormat())) == AV_SAMPLE_FMT_S16
                   ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
    return kind == CaptureKind::kSystemSound ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
}

pa_sample_format_t PulseFormat(int format)
{
    return format == AV_SAMPLE_FMT_S16 ? PA_SAMPLE_S16LE : format == AV_SAMPLE_FMT_FLT ? PA_SAMPLE_FLOAT32LE : PA_SAMPLE_S32LE;
}

// The device a kind records from in this picture of the server; empty when there is none.
const PulseDevice* WantedDevice(CaptureKind kind, const PulseServerState& state)
{
    if (kind == CaptureKind::kSystemSound) {
        const PulseDevice* sink = state.Find(PulseDirection::kRender, state.defaultSink);
        return sink && !sink->monitorSource.empty() ? state.Find(PulseDirection::kCapture, sink->monitorSource)
                                                    : nullptr;
    }
    const PulseDevice* source = state.Find(PulseDirection::kCapture, state.defaultSource);
    if (source && !source->isMonitor)
        return source;
    for (const PulseDevice& d : state.sources)
        if (!d.isMonitor)
            return &d;
    return nullptr;
}

// The monitor of the sink the playback stream sinkInput plays on; null when it is not listed.
const PulseDevice* MonitorOf(uint32_t sinkInput, const PulseServerState& state)
{
    for (const PulseSinkInput& input : state.sinkInputs) {
        if (input.index != sinkInput)
            continue;
        for (const PulseDevice& sink : state.sinks)
            if (sink.index == input.sink && !sink.monitorSource.empty())
                return state.Find(PulseDirection::kCapture, sink.monitorSource);
    }
    return nullptr;
}

// Takes the lock of the loop a stream lives on: its program loop, else the shared one.
void LockLoop(PulseProgramLoop* program, PulseContext& pulse, std::optional<PulseContext::Lock>& shared,
              std::unique_lock<PulseProgramLoop>& own)
{
    if (program)
        own = std::unique_lock<PulseProgramLoop>(*program);
    else
        shared.emplace(pulse);
}

} // namespace

PulseCaptureStream::PulseCaptureStream(CaptureKind kind, CaptureSource& source)
    : kind_(kind), deliveredFormat_(DeliveredFormat(kind, nullptr)), source_(source),
      worker_(std::make_unique<CaptureWorker>(source)), pulse_(PulseContext::Instance())
{
    listener_ = pulse_.AddListener([this] { changed_ = true; });
    Maintain();
}

PulseCaptureStream::PulseCaptureStream(CaptureSource& source, uint32_t sinkInput, PulseProgramLoop& loop)
    : kind_(CaptureKind::kSystemSound), sinkInput_(sinkInput), deliveredFormat_(DeliveredFormat(kind_, &source)),
      source_(source), pulse_(PulseContext::Instance()), programLoop_(&loop)
{
    listener_ = pulse_.AddListener([this] { changed_ = true; });
    Maintain();
}

std::string PulseCaptureStream::Label() const
{
    if (sinkInput_ != kNoSinkInput)
        return "program stream " + std::to_string(sinkInput_);
    return kind_ == CaptureKind::kSystemSound ? "system sound" : "microphone";
}

PulseCaptureStream::~PulseCaptureStream()
{
    pulse_.RemoveListener(listener_);
    std::optional<PulseContext::Lock> shared;
    std::unique_lock<PulseProgramLoop> own;
    LockLoop(programLoop_, pulse_, shared, own);
    CloseStream();
}

void PulseCaptureStream::CloseStream()
{
    for (pa_operation** op : {&infoOp_, &timingOp_}) {
        if (*op) {
            pa_operation_cancel(*op);
            pa_operation_unref(*op);
            *op = nullptr;
        }
    }
    if (stream_) {
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
        pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
        pa_stream_set_moved_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
        if (worker_)
            worker_->End();
        else
            source_.End();
        LOG(INFO) << "capture " << Label() << ": longest read callback " << longestReadNs_ / 1000 << " us, "
                  << reads_ << " callbacks, " << packets_ << " packets, " << timings_ << " timing reports, " << readFrames_ << " samples";
        longestReadNs_ = 0;
        reads_ = packets_ = timings_ = 0;
    }
    device_.clear();
}

void PulseCaptureStream::Maintain()
{
    const uint64_t generation = programLoop_ ? programLoop_->Generation() : pulse_.Generation();
    if (!changed_.exchange(false) && !broken_ && generation == generation_)
        return;
    const PulseServerState state = pulse_.Snapshot();
    const PulseDevice* device = !state.connected ? nullptr
        : sinkInput_ != kNoSinkInput         ? MonitorOf(sinkInput_, state)
                                             : WantedDevice(kind_, state);

    std::optional<PulseContext::Lock> shared;
    std::unique_lock<PulseProgramLoop> own;
    LockLoop(programLoop_, pulse_, shared, own);
    pa_context* context = programLoop_ ? programLoop_->Context() : pulse_.Context();
    if (stream_ && !broken_ && generation == generation_ && device && device->name == device_)
        return; // nothing that concerns this stream
    CloseStream();
    if (sinkInput_ != kNoSinkInput && (opened_ || !device || !context)) {
        if (!ended_)
            LOG(INFO) << "capture " << Label() << (opened_ ? ": ended" : ": no longer there");
        ended_ = true;
        return;
    }
    broken_ = false;
    generation_ = generation;
    if (!device || !context) {
        if (!missingLogged_)
            LOG(ERROR) << (kind_ == CaptureKind::kSystemSound ? "Get Default Audio Endpoint error"
                                                              : "no audio input device");
        missingLogged_ = true;
        return; // silence until a device is there; the next change brings us back here
    }
    missingLogged_ = false;

    pa_sample_spec spec{};
    spec.format = PulseFormat(deliveredFormat_);
    spec.rate = device->rate > 0 ? device->rate : kFallbackRate;
    spec.channels = device->channels > 0 ? device->channels : kFallbackChannels;
    if (!pa_sample_spec_valid(&spec)) {
        LOG(ERROR) << "Unsupported Audio Format";
        return;
    }
    format_.sampleFormat = deliveredFormat_;
    format_.rate = static_cast<int>(spec.rate);
    format_.channels = spec.channels;
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    const char* name = sinkInput_ != kNoSinkInput           ? "TAMSU program sound"
                       : kind_ == CaptureKind::kSystemSound ? "TAMSU system sound"
                                                            : "TAMSU microphone";
    stream_ = pa_stream_new(context, name, &spec, &map);
    opened_ = true;
    if (!stream_) {
        LOG(ERROR) << "IMMDevice Activate error";
        broken_ = sinkInput_ != kNoSinkInput; // a stream of one playback stream ends at the next Maintain
        return;
    }
    if (sinkInput_ != kNoSinkInput && pa_stream_set_monitor_stream(stream_, sinkInput_) < 0) {
        LOG(ERROR) << "capture " << Label() << ": the server refuses to monitor it";
        CloseStream();
        broken_ = true; // Ended() at the next Maintain
        return;
    }
    if (sinkInput_ == kNoSinkInput)
        pa_stream_set_read_callback(stream_, &PulseCaptureStream::OnRead, this); // else Read
    pa_stream_set_state_callback(stream_, &PulseCaptureStream::OnState, this);
    pa_stream_set_suspended_callback(stream_, &PulseCaptureStream::OnRestart, this);
    pa_stream_set_overflow_callback(stream_, &PulseCaptureStream::OnRestart, this);
    pa_stream_set_moved_callback(stream_, &PulseCaptureStream::OnRestart, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // server defaults for everything but the packet size
    attr.fragsize = static_cast<uint32_t>((sinkInput_ != kNoSinkInput ? kProgramFragmentFrames : kFragmentFrames) *
                                          pa_frame_size(&spec));
    // Not moved by the server when the device goes: this stream then fails and the next one opens
    // on whatever is the default device by then (a loopback must never end up on a microphone).
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, device->name.c_str(), &attr, flags) < 0) {
        LOG(ERROR) << "AudioClient Initialize  error";
        CloseStream();
        broken_ = sinkInput_ != kNoSinkInput; // a stream of one playback stream ends at the next Maintain
        return;
    }
    needBegin_ = true;
    frameBytes_ = pa_frame_size(&spec);
    latencyNs_ = 0;
    readFrames_ = 0;
    beginFrames_ = 0;
    device_ = device->name;
    generation_ = generation;
    LOG(INFO) << "capture " << Label() << " from " << device_;
    LOG(INFO) << "nChannels: " << format_.channels;
    LOG(INFO) << "nSamplesPerSec: " << format_.rate;
    LOG(INFO) << "wBitsPerSample: " << av_get_bytes_per_sample(static_cast<AVSampleFormat>(format_.sampleFormat)) * 8;
}

void PulseCaptureStream::OnState(pa_stream* stream, void* self)
{
    // Sound server's main loop thread, loop lock held.
    auto* me = static_cast<PulseCaptureStream*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        // The device's own latency, so that its samples are placed at the moment they were heard.
        if (me->infoOp_) {
            pa_operation_cancel(me->infoOp_);
            pa_operation_unref(me->infoOp_);
        }
        me->infoOp_ = pa_context_get_source_info_by_index(pa_stream_get_context(stream),
                                                          pa_stream_get_device_index(stream),
                                                          &PulseCaptureStream::OnSourceInfo, me);
    } else if (!PA_STREAM_IS_GOOD(state)) {
        if (me->sinkInput_ != kNoSinkInput && state == PA_STREAM_FAILED)
            LOG(ERROR) << "capture " << me->Label() << ": "
                       << pa_strerror(pa_context_errno(pa_stream_get_context(stream)));
        me->broken_ = true;
        me->changed_ = true;
    }
}

void PulseCaptureStream::OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self)
{
    // Sound server's main loop thread, loop lock held.
    auto* me = static_cast<PulseCaptureStream*>(self);
    if (eol || !info)
        return;
    const int64_t latency = static_cast<int64_t>(info->latency) * 1000;
    LOG(INFO) << "capture device " << (info->name ? info->name : "") << " latency " << info->latency << " us";
    me->latencyNs_ = latency; // the timing reports keep it current from here on
}

void PulseCaptureStream::OnRestart(pa_stream*, void* self)
{
    // Sound server's main loop thread, loop lock held: suspension, lost packets or a move end the
    // continuity of the samples.
    static_cast<PulseCaptureStream*>(self)->needBegin_ = true;
}

void PulseCaptureStream::OnRead(pa_stream* stream, size_t, void* self)
{
    // Sound server's main loop thread, loop lock held. Owns the CaptureSource's stream side while
    // this stream exists.
    auto* me = static_cast<PulseCaptureStream*>(self);
    const int64_t arrival = MonotonicNowNs();
    const size_t frameBytes = pa_frame_size(pa_stream_get_sample_spec(stream));
    ++me->reads_;
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            break;
        const auto frames = static_cast<int64_t>(bytes / frameBytes);
        me->readFrames_ += frames;
        ++me->packets_;
        if (pa_stream_is_suspended(stream) == 1) {
            me->needBegin_ = true; // what comes after this is no continuation of what came before
            pa_stream_drop(stream);
            continue;
        }
        if (me->needBegin_) {
            me->needBegin_ = false;
            me->beginFrames_ = me->readFrames_ - frames;
            me->worker_->Begin(me->format_, me->latencyNs_);
        }
        me->worker_->Packet(data, static_cast<int>(bytes / frameBytes), static_cast<int>(frameBytes),
                           arrival); // null data: a hole
        pa_stream_drop(stream);
    }
    me->AskTiming(arrival);
    me->longestReadNs_ = std::max(me->longestReadNs_, MonotonicNowNs() - arrival);
}

void PulseCaptureStream::AskTiming(int64_t nowNs)
{
    // A timing report after every packet (or Read) while the stream is new (its placement rests on
    // its first bounds), then a few a second: each costs a round trip to the server.
    if (!timingOp_ && (readFrames_ - beginFrames_ < kEagerTimingFrames || nowNs - lastTimingNs_ >= kTimingPeriodNs)) {
        lastTimingNs_ = nowNs;
        timingOp_ = pa_stream_update_timing_info(stream_, &PulseCaptureStream::OnTiming, this);
        ++timings_;
    }
}

void PulseCaptureStream::Read(std::vector<uint8_t>& staging)
{
    // The program loop's thread, its lock held (the owner's timer, or the owner's thread before
    // the stream closes). Owns the CaptureSource's stream side while this stream exists. Every
    // call into libpulse asks the kernel for the process id (its fork check): per packet only peek
    // and drop are called.
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return;
    const int64_t arrival = MonotonicNowNs();
    ++reads_;
    // Whether the stream is suspended cannot change during this call: nothing of the server is
    // taken in meanwhile.
    const bool suspended = pa_stream_is_suspended(stream_) == 1;
    size_t staged = 0;
    const auto handOver = [&] {
        if (staged > 0)
            source_.Deliver(staging.data(), static_cast<int>(staged / frameBytes_), arrival);
        staged = 0;
    };
    for (;;) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0)
            break; // nothing (more) queued
        const auto frames = static_cast<int64_t>(bytes / frameBytes_);
        readFrames_ += frames;
        ++packets_;
        if (suspended) {
            needBegin_ = true; // what comes after this is no continuation of what came before
        } else {
            if (needBegin_) {
                handOver(); // what came before belongs to the earlier run
                needBegin_ = false;
                beginFrames_ = readFrames_ - frames;
                if (!source_.Begin(format_, latencyNs_))
                    LOG(ERROR) << "capture: the stream's format cannot be converted";
            }
            if (!data) {
                handOver();
                source_.Deliver(nullptr, static_cast<int>(frames), arrival); // a hole
            } else {
                if (staged + bytes > staging.size())
                    staging.resize(staged + bytes); // rarely: it keeps its size
                std::memcpy(staging.data() + staged, data, bytes);
                staged += bytes;
            }
        }
        pa_stream_drop(stream_);
    }
    handOver();
    AskTiming(arrival);
    longestReadNs_ = std::max(longestReadNs_, MonotonicNowNs() - arrival);
}

void PulseCaptureStream::Hurry()
{
    if (worker_)
        worker_->Hurry(); // a program's stream: its owner reads more often
}

void PulseCaptureStream::OnTiming(pa_stream* stream, int success, void* self)
{
    // Sound server's main loop thread, loop lock held: the server's count of the samples it wrote
    // into the stream, at the server's time of the report.
    auto* me = static_cast<PulseCaptureStream*>(self);
    if (me->timingOp_) {
        pa_operation_unref(me->timingOp_);
        me->timingOp_ = nullptr;
    }
    const pa_timing_info* info = success ? pa_stream_get_timing_info(stream) : nullptr;
    // Only a report stamped by the server's own clock (the same machine's) bounds the capture
    // time; a write index that lost its meaning (a seek) bounds nothing.
    if (!info || !info->synchronized_clocks || info->write_index_corrupt || info->write_index < 0 || me->needBegin_)
        return;
    timespec real{}, mono{};
    clock_gettime(CLOCK_REALTIME, &real);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    const int64_t realToMono = (static_cast<int64_t>(mono.tv_sec) - real.tv_sec) * 1'000'000'000 +
                               (mono.tv_nsec - real.tv_nsec);
    const int64_t at = static_cast<int64_t>(info->timestamp.tv_sec) * 1'000'000'000 +
                       static_cast<int64_t>(info->timestamp.tv_usec) * 1000 + realToMono;
    const auto written = static_cast<int64_t>(info->write_index / pa_frame_size(pa_stream_get_sample_spec(stream)));
    if (written < me->beginFrames_)
        return;
    // A monitor's samples play sink_usec after the sink wrote them into the stream (the sink
    // renders ahead of its playback by that much): they are heard then, like the microphone.
    const int64_t latency = (static_cast<int64_t>(info->source_usec) - static_cast<int64_t>(info->sink_usec)) * 1000;
    if (me->worker_)
        me->worker_->Timing(at, written - me->beginFrames_, latency);
    else
        me->source_.Timing(at, written - me->beginFrames_, latency);
}
