#include "PulseContext.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

#include <glog/logging.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <type_traits>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A server that takes the connection but has not finished the handshake after this is treated as
// gone and tried again. Generous: a busy desktop server may take a while for a new client.
constexpr std::chrono::milliseconds kHandshakeTimeout{5000};
// Arm()'s delay that switches the timer off.
constexpr std::chrono::milliseconds kDisarm{-1};

PulseDevice FromInfo(const pa_source_info& info)
{
    PulseDevice d;
    d.index = info.index;
    d.name = info.name ? info.name : "";
    d.description = info.description ? info.description : "";
    d.isMonitor = info.monitor_of_sink != PA_INVALID_INDEX;
    d.volume = info.volume;
    d.mute = info.mute != 0;
    d.rate = info.sample_spec.rate;
    d.channels = info.sample_spec.channels;
    return d;
}

PulseDevice FromInfo(const pa_sink_info& info)
{
    PulseDevice d;
    d.index = info.index;
    d.name = info.name ? info.name : "";
    d.description = info.description ? info.description : "";
    d.monitorSource = info.monitor_source_name ? info.monitor_source_name : "";
    if (const pa_sink_port_info* port = info.active_port) {
        // The port's type (servers since 14.0); older ones only name it ("analog-output-headphones").
        const std::string name = port->name ? port->name : "";
        d.headphones = port->type == PA_DEVICE_PORT_TYPE_HEADPHONES || port->type == PA_DEVICE_PORT_TYPE_HEADSET ||
                       name.find("headphone") != std::string::npos || name.find("headset") != std::string::npos;
    }
    d.volume = info.volume;
    d.mute = info.mute != 0;
    d.rate = info.sample_spec.rate;
    d.channels = info.sample_spec.channels;
    return d;
}

std::string Property(const pa_proplist* props, const char* key)
{
    const char* value = props ? pa_proplist_gets(props, key) : nullptr;
    return value ? value : "";
}

PulseSinkInput FromInfo(const pa_sink_input_info& info)
{
    PulseSinkInput s;
    s.index = info.index;
    s.sink = info.sink;
    s.appName = Property(info.proplist, PA_PROP_APPLICATION_NAME);
    s.binary = Property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    s.iconName = Property(info.proplist, PA_PROP_APPLICATION_ICON_NAME);
    s.rate = info.sample_spec.rate;
    s.channels = info.sample_spec.channels;
    return s;
}

// A playback stream of this process (through our context or any other of ours): never a
// program to record or to leave out.
bool Ours(pa_context* c, const pa_sink_input_info& info)
{
    return (info.client != PA_INVALID_INDEX && info.client == pa_context_get_index(c)) ||
           Property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID) == std::to_string(getpid());
}

template <typename Item> void SortByIndex(std::vector<Item>& items)
{
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.index < b.index; });
}

struct LoopDeleter {
    void operator()(pa_threaded_mainloop* m) const
    {
        pa_threaded_mainloop_stop(m); // joins the loop thread
        pa_threaded_mainloop_free(m);
    }
};

// Under the loop lock. A context's callbacks end with it: none of them runs after this.
struct ContextDeleter {
    void operator()(pa_context* c) const
    {
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_set_subscribe_callback(c, nullptr, nullptr);
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};

struct OperationDeleter {
    void operator()(pa_operation* o) const { pa_operation_unref(o); }
};
using OperationPtr = std::unique_ptr<pa_operation, OperationDeleter>;

} // namespace

const PulseDevice* PulseServerState::Find(PulseDirection direction, const std::string& name) const
{
    const std::vector<PulseDevice>& devices = direction == PulseDirection::kCapture ? sources : sinks;
    for (const PulseDevice& device : devices) {
        if (device.name == name)
            return &device;
    }
    return nullptr;
}

// The loop thread is libpulse's (pa_threaded_mainloop). It runs every callback below with the loop
// lock held; the members marked "loop lock" belong to it and to callers holding Lock. What callers
// read without the loop lock (the published picture and the fetch and request bookkeeping) is
// guarded by stateMutex, always taken after the loop lock, never before it.
struct PulseContext::Impl {
    std::unique_ptr<pa_threaded_mainloop, LoopDeleter> loop;
    pa_mainloop_api* api = nullptr;

    // Loop lock.
    std::unique_ptr<pa_context, ContextDeleter> context; // the current attempt (also a dead one)
    bool attemptOver = true;  // the current attempt failed or ended; a new one is due
    bool ready = false;       // the context is ready
    bool answering = false;   // its server answered our last request in time
    bool havePicture = false; // a fetch on this context has completed
    pa_time_event* retryTimer = nullptr; // the next attempt, or the bound of a handshake
    pa_defer_event* notifier = nullptr;  // enabled: listeners are due to hear of a change
    bool fetching = false;   // a fetch of defaults, sinks and sources runs
    bool fetchAgain = false; // something changed meanwhile: fetch again when it ends
    bool fetchOk = true;
    bool fetchSent = false;  // at least one of its requests went out
    int fetchParts = 0;
    uint64_t fetchRound = 0; // number of the latest fetch started
    PulseServerState pending;
    std::map<int, std::function<void()>> listeners;
    int nextListener = 1;

    // stateMutex.
    mutable std::mutex stateMutex;
    std::condition_variable changed;
    PulseServerState state;
    uint64_t completedRound = 0; // number of the latest fetch completed
    uint64_t lost = 0;           // times the server went away or stopped answering: waiters give up
    bool settled = false;        // the first attempt has a picture or has failed

    std::atomic<uint64_t> generation{0};

    void Connect();
    void Lost();
    void Stall();
    void Heard();
    void Arm(std::chrono::milliseconds delay) const;
    void Notify() const { api->defer_enable(notifier, 1); }
    uint64_t StartFetch();
    void PartDone(bool ok);
    void Publish(bool fresh);

    // A failed reply that only says libpulse gave up waiting is no sign of life.
    bool Answered(bool ok) const
    {
        return ok || !context || pa_context_errno(context.get()) != PA_ERR_TIMEOUT;
    }

    // Sends a request through send and waits up to kRequestTimeout for the server's yes or no.
    // Called on a caller thread without the loop lock.
    using Send = std::function<pa_operation*(pa_context*, pa_context_success_cb_t, void*)>;
    bool Ask(const Send& send);
    struct Ack {
        Impl* impl = nullptr;
        bool done = false;    // stateMutex
        bool success = false; // stateMutex
    };

    static void OnState(pa_context* c, void* userdata);
    static void OnEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t index, void* userdata);
    static void OnServerInfo(pa_context* c, const pa_server_info* info, void* userdata);
    template <typename Info> static void OnDeviceInfo(pa_context* c, const Info* info, int eol, void* userdata);
    static void OnAck(pa_context* c, int success, void* userdata);
    static void OnRetryTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);
    static void OnNotify(pa_mainloop_api* api, pa_defer_event* event, void* userdata);
};

void PulseContext::Impl::Arm(std::chrono::milliseconds delay) const
{
    if (delay < std::chrono::milliseconds(0)) {
        api->time_restart(retryTimer, nullptr); // disabled
        return;
    }
    // The loop turns this wall-clock time into a monotonic one at once.
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(delay.count()) * PA_USEC_PER_MSEC);
    api->time_restart(retryTimer, &when);
}

void PulseContext::Impl::Connect()
{
    context.reset(); // the dead attempt, if any
    attemptOver = false;
    context.reset(pa_context_new(api, kClientName));
    if (!context) {
        Lost();
        return;
    }
    pa_context_set_state_callback(context.get(), &Impl::OnState, this);
    pa_context_set_subscribe_callback(context.get(), &Impl::OnEvent, this);
    Arm(kHandshakeTimeout);
    // nullptr: the server the environment names (PULSE_SERVER) or the user's default one. A
    // failure may already have come through OnState; Lost() is harmless twice.
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        Lost();
}

// The current attempt is over (failed, ended, or its handshake hangs): the picture empties and a
// new attempt follows after kReconnectInterval. The dead context is freed by that attempt.
void PulseContext::Impl::Lost()
{
    if (attemptOver)
        return;
    attemptOver = true;
    bool wasReady = ready;
    ready = answering = havePicture = fetching = fetchAgain = false;
    Arm(kReconnectInterval);
    if (wasReady)
        LOG(WARNING) << "Sound server connection lost: "
                     << pa_strerror(context ? pa_context_errno(context.get()) : PA_ERR_UNKNOWN);
    {
        std::lock_guard<std::mutex> guard(stateMutex);
        state = PulseServerState{};
        state.generation = generation;
        ++lost;
        settled = true;
    }
    changed.notify_all();
    if (wasReady)
        Notify();
}

// Under the loop lock, on any thread: the ready context's server left a request unanswered for
// kRequestTimeout. Callers stop waiting on it until it answers again; the context, the picture and
// streams stay as they are (a server that is only slow must not cost a recording its streams).
void PulseContext::Impl::Stall()
{
    if (!ready || !answering)
        return;
    answering = false;
    LOG(WARNING) << "Sound server does not answer";
    {
        std::lock_guard<std::mutex> guard(stateMutex);
        ++lost; // waiters give up
    }
    changed.notify_all();
    if (!fetching)
        StartFetch(); // its answer ends the stall
}

// The server said something: it is alive.
void PulseContext::Impl::Heard()
{
    if (!ready || answering)
        return;
    answering = true;
    LOG(INFO) << "Sound server answers again";
    if (!fetching)
        StartFetch(); // what changed meanwhile
}

// Starts a fetch of defaults, sinks and sources, or notes that one is due after the running one.
// Returns the number of the fetch whose picture reflects the server as of now.
uint64_t PulseContext::Impl::StartFetch()
{
    if (fetching) {
        fetchAgain = true;
        return fetchRound + 1;
    }
    fetching = true;
    fetchOk = true;
    fetchSent = false;
    pending = PulseServerState{};
    ++fetchRound;
    fetchParts = 4;
    uint64_t round = fetchRound;
    pa_context* c = context.get();
    pa_operation* ops[] = {
        pa_context_get_server_info(c, &Impl::OnServerInfo, this),
        pa_context_get_sink_info_list(c, &Impl::OnDeviceInfo<pa_sink_info>, this),
        pa_context_get_source_info_list(c, &Impl::OnDeviceInfo<pa_source_info>, this),
        pa_context_get_sink_input_info_list(c, &Impl::OnDeviceInfo<pa_sink_input_info>, this),
    };
    for (pa_operation* op : ops)
        fetchSent = fetchSent || op;
    for (pa_operation* op : ops) {
        if (op)
            pa_operation_unref(op); // its callback still comes
        else
            PartDone(false); // not sent: the context is going down
    }
    return round;
}

void PulseContext::Impl::PartDone(bool ok)
{
    fetchOk = fetchOk && ok;
    if (--fetchParts > 0)
        return;
    fetching = false;
    if (fetchOk) {
        SortByIndex(pending.sinks);
        SortByIndex(pending.sources);
        SortByIndex(pending.sinkInputs);
        havePicture = true;
    }
    {
        std::lock_guard<std::mutex> guard(stateMutex);
        completedRound = fetchRound;
    }
    Publish(fetchOk);
    // Again when something changed meanwhile, and as a probe while the server is silent (a
    // request libpulse gave up on after its own long time-out); not when nothing could be sent.
    if (ready && fetchSent && (fetchAgain || !answering)) {
        fetchAgain = false;
        StartFetch();
    }
}

// Makes the fetched picture (when fresh) and the connection flags visible to callers and listeners.
void PulseContext::Impl::Publish(bool fresh)
{
    {
        std::lock_guard<std::mutex> guard(stateMutex);
        if (fresh) {
            try {
                state = pending;
            } catch (...) {
                // Out of memory inside a library callback: the last picture stays.
            }
            settled = true;
        }
        state.connected = ready && havePicture;
        state.generation = generation;
    }
    changed.notify_all();
    Notify();
}

void PulseContext::Impl::OnNotify(pa_mainloop_api* api, pa_defer_event* event, void* userdata)
{
    auto* self = static_cast<Impl*>(userdata);
    api->defer_enable(event, 0);
    for (auto& entry : self->listeners) {
        try {
            entry.second();
        } catch (...) {
            // A listener's failure stays with it; the others still hear of the change.
        }
    }
}

void PulseContext::Impl::OnState(pa_context* c, void* userdata)
{
    auto* self = static_cast<Impl*>(userdata);
    if (c != self->context.get())
        return;
    switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY:
        self->ready = self->answering = true;
        ++self->generation;
        self->Arm(kDisarm);
        LOG(INFO) << "Connected to the sound server " << (pa_context_get_server(c) ? pa_context_get_server(c) : "");
        if (pa_operation* op = pa_context_subscribe(c,
                static_cast<pa_subscription_mask_t>(
                    PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                    PA_SUBSCRIPTION_MASK_SINK_INPUT),
                nullptr, nullptr))
            pa_operation_unref(op);
        self->StartFetch();
        self->Notify(); // connection back: streams of the old generation are dead
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        self->Lost();
        break;
    default:
        break;
    }
}

void PulseContext::Impl::OnEvent(pa_context*, pa_subscription_event_type_t type, uint32_t, void* userdata)
{
    auto* self = static_cast<Impl*>(userdata);
    self->Heard();
    switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
    case PA_SUBSCRIPTION_EVENT_SERVER:
    case PA_SUBSCRIPTION_EVENT_SINK:
    case PA_SUBSCRIPTION_EVENT_SOURCE:
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
        if (self->ready)
            self->StartFetch();
        break;
    default:
        break;
    }
}

void PulseContext::Impl::OnServerInfo(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* self = static_cast<Impl*>(userdata);
    bool ok = info != nullptr;
    if (self->Answered(ok))
        self->Heard();
    try {
        if (ok) {
            self->pending.defaultSink = info->default_sink_name ? info->default_sink_name : "";
            self->pending.defaultSource = info->default_source_name ? info->default_source_name : "";
            self->pending.serverName = info->server_name ? info->server_name : "";
        }
    } catch (...) {
        ok = false; // no exception crosses the library's C callback
    }
    self->PartDone(ok);
}

template <typename Info>
void PulseContext::Impl::OnDeviceInfo(pa_context* c, const Info* info, int eol, void* userdata)
{
    auto* self = static_cast<Impl*>(userdata);
    if (eol == 0) {
        if (!info)
            return;
        try {
            if constexpr (std::is_same_v<Info, pa_sink_input_info>) {
                if (!Ours(c, *info))
                    self->pending.sinkInputs.push_back(FromInfo(*info));
            } else {
                std::vector<PulseDevice>& devices =
                    std::is_same_v<Info, pa_sink_info> ? self->pending.sinks : self->pending.sources;
                devices.push_back(FromInfo(*info));
            }
        } catch (...) {
            self->fetchOk = false; // no exception crosses the library's C callback
        }
        return;
    }
    if (self->Answered(eol > 0))
        self->Heard();
    self->PartDone(eol > 0);
}

void PulseContext::Impl::OnAck(pa_context*, int success, void* userdata)
{
    auto* ack = static_cast<Ack*>(userdata);
    Impl& self = *ack->impl;
    if (self.Answered(success != 0))
        self.Heard();
    {
        std::lock_guard<std::mutex> guard(self.stateMutex);
        ack->done = true;
        ack->success = success != 0;
    }
    self.changed.notify_all();
}

void PulseContext::Impl::OnRetryTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    auto* self = static_cast<Impl*>(userdata);
    if (self->attemptOver) {
        self->Connect();
    } else if (!self->ready) {
        LOG(WARNING) << "The sound server did not finish the handshake; trying again";
        self->Lost();
    }
}

bool PulseContext::Impl::Ask(const Send& send)
{
    auto deadline = Clock::now() + kRequestTimeout;
    Ack ack{this};
    OperationPtr op;
    uint64_t lostBefore = 0;
    pa_threaded_mainloop_lock(loop.get());
    if (ready && answering) {
        op.reset(send(context.get(), &Impl::OnAck, &ack));
        std::lock_guard<std::mutex> guard(stateMutex);
        lostBefore = lost;
    }
    pa_threaded_mainloop_unlock(loop.get());
    if (!op)
        return false;
    {
        std::unique_lock<std::mutex> lock(stateMutex);
        changed.wait_until(lock, deadline, [&] { return ack.done || lost != lostBefore; });
    }
    pa_threaded_mainloop_lock(loop.get());
    if (pa_operation_get_state(op.get()) == PA_OPERATION_RUNNING) {
        pa_operation_cancel(op.get()); // ack lives on this stack: its callback must never run now
        Stall();
    }
    op.reset();
    pa_threaded_mainloop_unlock(loop.get());
    std::lock_guard<std::mutex> guard(stateMutex);
    return ack.done && ack.success;
}

PulseContext& PulseContext::Instance()
{
    // Destroyed at exit after every static object that asked for it in its constructor.
    static PulseContext instance;
    return instance;
}

PulseContext::PulseContext() : impl_(std::make_unique<Impl>())
{
    Impl& d = *impl_;
    d.loop.reset(pa_threaded_mainloop_new());
    if (!d.loop) {
        LOG(ERROR) << "Cannot create the sound server main loop";
        return;
    }
    pa_threaded_mainloop_set_name(d.loop.get(), "pulse-context");
    d.api = pa_threaded_mainloop_get_api(d.loop.get());
    {
        Lock lock(*this);
        d.retryTimer = d.api->time_new(d.api, nullptr, &Impl::OnRetryTimer, &d);
        d.notifier = d.api->defer_new(d.api, &Impl::OnNotify, &d);
        d.api->defer_enable(d.notifier, 0);
        d.Connect();
    }
    if (pa_threaded_mainloop_start(d.loop.get()) < 0) {
        LOG(ERROR) << "Cannot start the sound server main loop";
        Lock lock(*this);
        d.context.reset();
        d.ready = false;
        return;
    }
    std::unique_lock<std::mutex> lock(d.stateMutex);
    d.changed.wait_for(lock, kFirstConnectWait, [&d] { return d.settled; });
}

PulseContext::~PulseContext()
{
    Impl& d = *impl_;
    if (!d.loop)
        return;
    {
        Lock lock(*this);
        d.listeners.clear();
        d.context.reset();
        d.ready = false;
        d.api->time_free(d.retryTimer);
        d.api->defer_free(d.notifier);
    }
    d.loop.reset();
}

PulseServerState PulseContext::Snapshot() const
{
    std::lock_guard<std::mutex> guard(impl_->stateMutex);
    return impl_->state;
}

PulseServerState PulseContext::Refresh()
{
    Impl& d = *impl_;
    auto deadline = Clock::now() + kRequestTimeout;
    uint64_t round = 0, lost = 0;
    {
        Lock lock(*this);
        if (!d.ready)
            return Snapshot();
        if (!d.answering) {
            if (!d.fetching)
                d.StartFetch(); // a probe; its answer ends the stall
            PulseServerState stale = Snapshot();
            stale.connected = false;
            return stale;
        }
        round = d.StartFetch();
        std::lock_guard<std::mutex> guard(d.stateMutex);
        lost = d.lost;
    }
    bool fresh = false;
    {
        std::unique_lock<std::mutex> lock(d.stateMutex);
        fresh = d.changed.wait_until(lock, deadline, [&] { return d.completedRound >= round || d.lost != lost; })
            && d.completedRound >= round;
    }
    if (!fresh) {
        Lock lock(*this);
        std::unique_lock<std::mutex> guard(d.stateMutex);
        fresh = d.completedRound >= round; // an answer just after the bound still counts
        guard.unlock();
        if (!fresh)
            d.Stall();
    }
    PulseServerState state = Snapshot();
    state.connected = state.connected && fresh;
    return state;
}

bool PulseContext::SetVolume(PulseDirection direction, uint32_t index, uint8_t channels, pa_volume_t volume)
{
    if (!impl_->loop || channels == 0 || channels > PA_CHANNELS_MAX || !PA_VOLUME_IS_VALID(volume))
        return false;
    pa_cvolume cv;
    pa_cvolume_set(&cv, channels, volume);
    return impl_->Ask([&](pa_context* c, pa_context_success_cb_t cb, void* userdata) {
        return direction == PulseDirection::kCapture
            ? pa_context_set_source_volume_by_index(c, index, &cv, cb, userdata)
            : pa_context_set_sink_volume_by_index(c, index, &cv, cb, userdata);
    });
}

bool PulseContext::SetMute(PulseDirection direction, uint32_t index, bool mute)
{
    if (!impl_->loop)
        return false;
    return impl_->Ask([&](pa_context* c, pa_context_success_cb_t cb, void* userdata) {
        return direction == PulseDirection::kCapture
            ? pa_context_set_source_mute_by_index(c, index, mute, cb, userdata)
            : pa_context_set_sink_mute_by_index(c, index, mute, cb, userdata);
    });
}

uint64_t PulseContext::Generation() const { return impl_->generation; }

int PulseContext::AddListener(std::function<void()> listener)
{
    Lock lock(*this);
    int id = impl_->nextListener++;
    impl_->listeners.emplace(id, std::move(listener));
    return id;
}

void PulseContext::RemoveListener(int id)
{
    // Listeners run on the loop thread under the loop lock: while this holds it, none runs.
    Lock lock(*this);
    impl_->listeners.erase(id);
}

PulseContext::Lock::Lock(PulseContext& pulse) : pulse_(pulse)
{
    if (pulse_.impl_->loop)
        pa_threaded_mainloop_lock(pulse_.impl_->loop.get());
}

PulseContext::Lock::~Lock()
{
    if (pulse_.impl_->loop)
        pa_threaded_mainloop_unlock(pulse_.impl_->loop.get());
}

pa_context* PulseContext::Context() const { return impl_->ready ? impl_->context.get() : nullptr; }

pa_threaded_mainloop* PulseContext::Loop() const { return impl_->loop.get(); }
