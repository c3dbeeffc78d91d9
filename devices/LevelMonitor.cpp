#include "LevelMonitor.h"

#include "PulseContext.h"

#include <pulse/stream.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Peak values the server computes per second for a meter: 20, one every 50 ms. A PipeWire graph
// runs in the largest power-of-two block not above the smallest latency any stream asks for;
// 50 ms keeps its largest block (2048 samples), 40 ms would halve it for every program.
constexpr uint32_t kPeakRate = 20;
// One peak value per fragment.
constexpr uint32_t kFragmentBytes = sizeof(float);
// A stream that failed on a device that is still there is tried again after this.
constexpr std::chrono::milliseconds kRetryDelay{500};
// Peaks older than this read as 0: a device that stalls is quiet (the header's half second).
constexpr std::chrono::milliseconds kStaleAfter{500};

// Under the loop lock. Callbacks end with the stream.
struct StreamDeleter {
    void operator()(pa_stream* s) const
    {
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_read_callback(s, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

// Streams and the timer live on the PulseContext loop thread (its callbacks) and under its lock;
// the peaks and presence flags are atomics that Levels reads from any thread.
struct LevelMonitor::Impl {
    // One meter: a peak-detecting record stream on one source.
    struct Meter {
        Impl* owner = nullptr;
        bool monitor = false; // records a sink's monitor (the system sound)
        std::unique_ptr<pa_stream, StreamDeleter> stream; // loop lock
        std::string device;                               // loop lock: what stream records
        uint64_t generation = 0;                          // loop lock: the context it belongs to
        std::atomic<bool> present{false};                 // a device to measure exists
        std::atomic<float> peak{0.0f};
        std::atomic<int64_t> updatedNs{0};                // when peak was measured; 0: never

        void Follow(pa_context* context, uint64_t generation, const std::string& target);
        void Close() { stream.reset(); }
        float Level() const;
        static void OnRead(pa_stream* s, size_t bytes, void* userdata);
        static void OnState(pa_stream* s, void* userdata);
    };

    PulseContext& pulse = PulseContext::Instance();
    std::atomic<bool> running{false};
    int listener = 0;                  // UI thread
    pa_time_event* timer = nullptr;    // loop lock: the next Reconcile
    Clock::time_point timerDue = Clock::time_point::max(); // loop lock
    Meter mic;
    Meter system;

    Impl()
    {
        mic.owner = system.owner = this;
        system.monitor = true;
    }

    void Schedule(std::chrono::milliseconds delay);
    void Reconcile();
    static void OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);
};

void LevelMonitor::Impl::Schedule(std::chrono::milliseconds delay)
{
    Clock::time_point due = Clock::now() + delay;
    if (!timer || due >= timerDue)
        return;
    timerDue = due;
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(delay.count()) * PA_USEC_PER_MSEC);
    pa_threaded_mainloop_get_api(pulse.Loop())->time_restart(timer, &when);
}

void LevelMonitor::Impl::OnTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* userdata)
{
    auto* self = static_cast<Impl*>(userdata);
    api->time_restart(event, nullptr);
    self->timerDue = Clock::time_point::max();
    self->Reconcile();
}

// Points each meter at the device it should measure now: the default source when it is not a
// monitor, the default sink's monitor; nothing without a ready connection.
void LevelMonitor::Impl::Reconcile()
{
    pa_context* context = pulse.Context();
    uint64_t generation = pulse.Generation();
    PulseServerState state = pulse.Snapshot();
    std::string micSource, systemSource;
    if (context) {
        const PulseDevice* source = state.Find(PulseDirection::kCapture, state.defaultSource);
        if (source && !source->isMonitor)
            micSource = source->name;
        if (const PulseDevice* sink = state.Find(PulseDirection::kRender, state.defaultSink))
            systemSource = sink->monitorSource;
    }
    mic.Follow(context, generation, micSource);
    system.Follow(context, generation, systemSource);
}

void LevelMonitor::Impl::Meter::Follow(pa_context* context, uint64_t contextGeneration, const std::string& target)
{
    bool alive = stream && PA_STREAM_IS_GOOD(pa_stream_get_state(stream.get()));
    if (alive && device == target && generation == contextGeneration)
        return;
    Close();
    updatedNs = 0; // the last device's peaks are not this one's
    device = target;
    generation = contextGeneration;
    present = !target.empty();
    if (target.empty())
        return;

    pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kPeakRate, 1};
    stream.reset(pa_stream_new(context, monitor ? "System sound level" : "Microphone level", &spec, nullptr));
    if (!stream) {
        owner->Schedule(kRetryDelay);
        return;
    }
    pa_stream_set_state_callback(stream.get(), &Meter::OnState, this);
    pa_stream_set_read_callback(stream.get(), &Meter::OnRead, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = kFragmentBytes;
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    // Never moved to another device behind our back; a monitor does not keep its sink awake (a
    // suspended sink plays nothing anyway), a microphone is kept awake so that it is heard.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_PEAK_DETECT | PA_STREAM_ADJUST_LATENCY
        | PA_STREAM_DONT_MOVE | (monitor ? PA_STREAM_DONT_INHIBIT_AUTO_SUSPEND : 0));
    if (pa_stream_connect_record(stream.get(), target.c_str(), &attr, flags) < 0) {
        Close();
        owner->Schedule(kRetryDelay);
    }
}

void LevelMonitor::Impl::Meter::OnState(pa_stream* s, void* userdata)
{
    auto* self = static_cast<Meter*>(userdata);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
        self->owner->Schedule(kRetryDelay); // device gone (the picture says so soon) or refused
}

void LevelMonitor::Impl::Meter::OnRead(pa_stream* s, size_t, void* userdata)
{
    auto* self = static_cast<Meter*>(userdata);
    float peak = -1.0f;
    while (pa_stream_readable_size(s) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
            break;
        for (size_t at = 0; data && at + sizeof(float) <= bytes; at += sizeof(float)) {
            float value;
            std::memcpy(&value, static_cast<const char*>(data) + at, sizeof value);
            if (std::isfinite(value))
                peak = std::max(peak, std::fabs(value));
        }
        pa_stream_drop(s);
    }
    if (peak < 0.0f)
        return; // a hole: nothing measured
    self->peak = std::min(peak, 1.0f);
    self->updatedNs = NowNs();
}

float LevelMonitor::Impl::Meter::Level() const
{
    if (!present)
        return -1.0f;
    int64_t updated = updatedNs;
    if (updated == 0 || std::chrono::nanoseconds(NowNs() - updated) > kStaleAfter)
        return 0.0f;
    return peak;
}

LevelMonitor::LevelMonitor() : impl_(std::make_unique<Impl>()) {}

LevelMonitor::~LevelMonitor() { Stop(); }

void LevelMonitor::Start()
{
    Impl& d = *impl_;
    if (d.running || !d.pulse.Loop())
        return;
    d.running = true;
    {
        PulseContext::Lock lock(d.pulse);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(d.pulse.Loop());
        d.timer = api->time_new(api, nullptr, &Impl::OnTimer, &d);
        d.Schedule(std::chrono::milliseconds(0));
    }
    // Runs on the loop thread with the lock held: only moves the timer up.
    d.listener = d.pulse.AddListener([&d] { d.Schedule(std::chrono::milliseconds(0)); });
}

void LevelMonitor::Stop()
{
    Impl& d = *impl_;
    if (!d.running)
        return;
    d.pulse.RemoveListener(d.listener); // no call of it runs after this
    {
        PulseContext::Lock lock(d.pulse);
        if (d.timer)
            pa_threaded_mainloop_get_api(d.pulse.Loop())->time_free(d.timer);
        d.timer = nullptr;
        d.timerDue = Clock::time_point::max();
        d.mic.Close();
        d.system.Close();
        d.mic.device.clear();
        d.system.device.clear();
    }
    d.mic.present = false;
    d.system.present = false;
    d.running = false;
}

bool LevelMonitor::Running() const { return impl_->running; }

void LevelMonitor::Levels(float& mic, float& system) const
{
    mic = impl_->mic.Level();
    system = impl_->system.Level();
}
