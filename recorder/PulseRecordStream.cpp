#include "PulseRecordStream.h"

#include <pulse/pulseaudio.h>

#include <chrono>

PulseRecordStream::~PulseRecordStream()
{
    Close();
}

void PulseRecordStream::Close()
{
    if (stream_) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_) {
        pa_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

bool PulseRecordStream::Iterate(int timeoutMs)
{
    if (pa_mainloop_prepare(loop_, timeoutMs * 1000) < 0)
        return false;
    if (pa_mainloop_poll(loop_) < 0)
        return false;
    return pa_mainloop_dispatch(loop_) >= 0;
}

bool PulseRecordStream::QuerySourceSpec(const std::string& source, int timeoutMs)
{
    struct Result {
        bool done = false;
        bool found = false;
        pa_sample_spec spec{};
    } result;
    pa_operation* op = pa_context_get_source_info_by_name(
        context_, source.c_str(),
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
            auto* r = static_cast<Result*>(user);
            if (eol || !info) {
                r->done = true;
                return;
            }
            r->found = true;
            r->spec = info->sample_spec;
        },
        &result);
    if (!op)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!result.done && std::chrono::steady_clock::now() < deadline && Iterate(10)) {
    }
    pa_operation_cancel(op);
    pa_operation_unref(op);
    if (!result.found)
        return false;
    if (rate_ == 0)
        rate_ = static_cast<int>(result.spec.rate);
    if (channels_ == 0)
        channels_ = result.spec.channels;
    return true;
}

namespace {

constexpr pa_usec_t kFineFragmentUsec = 2000;    // start alignment of the sources
constexpr pa_usec_t kCoarseFragmentUsec = 10000; // while recording

pa_buffer_attr RecordAttr(const pa_sample_spec& spec, pa_usec_t fragment)
{
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(fragment, &spec));
    return attr;
}

} // namespace

void PulseRecordStream::SetFineFragments(bool fine)
{
    if (fine == fine_ || !Healthy())
        return;
    fine_ = fine;
    pa_sample_spec spec{};
    spec.format = static_cast<pa_sample_format_t>(sampleFormat_);
    spec.rate = static_cast<uint32_t>(rate_);
    spec.channels = static_cast<uint8_t>(channels_);
    const pa_buffer_attr attr = RecordAttr(spec, fine ? kFineFragmentUsec : kCoarseFragmentUsec);
    if (pa_operation* op = pa_stream_set_buffer_attr(stream_, &attr, nullptr, nullptr))
        pa_operation_unref(op); // takes effect with the server's answer; nothing waits for it
}

PulseRecordStream::OpenError PulseRecordStream::Open(const std::string& source, int sampleFormat, int rate,
                                                     int channels, int timeoutMs)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    auto remainingMs = [&] {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count());
    };

    loop_ = pa_mainloop_new();
    if (!loop_)
        return OpenError::kConnect;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "TamsuAudioRecorder");
    if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return OpenError::kConnect;
    for (;;) {
        const pa_context_state_t st = pa_context_get_state(context_);
        if (st == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(st) || remainingMs() <= 0 || !Iterate(std::max(1, remainingMs())))
            return OpenError::kConnect;
    }

    rate_ = rate;
    channels_ = channels;
    if ((rate_ == 0 || channels_ == 0) && !QuerySourceSpec(source, std::max(1, remainingMs())))
        return OpenError::kStream;
    pa_sample_spec spec{};
    spec.format = static_cast<pa_sample_format_t>(sampleFormat);
    spec.rate = static_cast<uint32_t>(rate_);
    spec.channels = static_cast<uint8_t>(channels_);
    if (!pa_sample_spec_valid(&spec))
        return OpenError::kStream;
    sampleFormat_ = sampleFormat;
    fine_ = true;
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(context_, "TamsuAudioRecorder loopback", &spec, &map);
    if (!stream_)
        return OpenError::kStream;

    pa_buffer_attr attr = RecordAttr(spec, kFineFragmentUsec);
    if (pa_stream_connect_record(stream_, source.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0)
        return OpenError::kStart;
    for (;;) {
        const pa_stream_state_t st = pa_stream_get_state(stream_);
        if (st == PA_STREAM_READY)
            return OpenError::kNone;
        if (!PA_STREAM_IS_GOOD(st) || remainingMs() <= 0 || !Iterate(std::max(1, remainingMs())))
            return OpenError::kStart;
    }
}

bool PulseRecordStream::Healthy() const
{
    return context_ && stream_ && pa_context_get_state(context_) == PA_CONTEXT_READY &&
           pa_stream_get_state(stream_) == PA_STREAM_READY;
}

bool PulseRecordStream::Wait(int timeoutMs)
{
    if (!Healthy())
        return false;
    const size_t readable = pa_stream_readable_size(stream_);
    if (readable != static_cast<size_t>(-1) && readable > 0)
        return true;
    if (!Iterate(timeoutMs))
        return false;
    // Deliver whatever else is already queued without waiting.
    while (pa_mainloop_iterate(loop_, 0, nullptr) > 0) {
    }
    return Healthy();
}

bool PulseRecordStream::Peek(const void*& data, size_t& bytes)
{
    data = nullptr;
    bytes = 0;
    if (!Healthy())
        return false;
    const size_t readable = pa_stream_readable_size(stream_);
    if (readable == static_cast<size_t>(-1))
        return false;
    if (readable == 0)
        return true;
    return pa_stream_peek(stream_, &data, &bytes) >= 0;
}

bool PulseRecordStream::Drop()
{
    return stream_ && pa_stream_drop(stream_) >= 0;
}
