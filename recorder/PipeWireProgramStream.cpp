#include "PipeWireProgramStream.h"

#include "CaptureSource.h"
#include "PulseContext.h"
#include "PulseProgramStream.h"
#include "SourceGroup.h"

#include <glog/logging.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>
#include <unistd.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

// The one lane of the group: PipeWire mixes the streams before they reach us.
constexpr uint32_t kLane = 0;
constexpr const char* kStreamName = "TAMSU program sound";

std::string Prop(const spa_dict* props, const char* key)
{
    const char* value = props ? spa_dict_lookup(props, key) : nullptr;
    return value ? value : "";
}

// An output port of channel from feeds our input port of channel to: the same channel; one our
// stereo stream has no port of (mono, a centre, a rear) feeds both (heard, if not where it was
// meant). By the channels asked for (Connect), not the ports seen so far: they appear one by one.
bool Feeds(const std::string& from, const std::string& to)
{
    return from == to || (from != "FL" && from != "FR");
}

// Owners of PipeWire's objects.
struct LoopFree {
    void operator()(pw_thread_loop* loop) const { pw_thread_loop_destroy(loop); }
};
struct ContextFree {
    void operator()(pw_context* context) const { pw_context_destroy(context); }
};
struct CoreFree {
    void operator()(pw_core* core) const { pw_core_disconnect(core); }
};
struct RegistryFree {
    void operator()(pw_registry* registry) const { pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry)); }
};
struct StreamFree {
    void operator()(pw_stream* stream) const { pw_stream_destroy(stream); }
};
struct ProxyFree {
    void operator()(pw_proxy* proxy) const { pw_proxy_destroy(proxy); } // a link goes with it (it does not linger)
};

} // namespace

struct PipeWireProgramStream::Impl {
    struct Node {
        bool taken = false;
        std::string key;     // the program's name, for the log
        std::string appName;
    };
    struct Port {
        uint32_t node = SPA_ID_INVALID;
        bool output = false;
        std::string channel; // audio.channel
    };
    struct Link {
        ~Link() { spa_hook_remove(&listener); } // before the proxy goes
        Impl* owner = nullptr;
        std::pair<uint32_t, uint32_t> ports; // output, input
        std::unique_ptr<pw_proxy, ProxyFree> proxy;
        spa_hook listener{};
    };

    Impl(const ProgramChoice& choice, SourceGroup& group)
        : choice(choice), group(group), lane(group.Join(kLane)), pulse(PulseContext::Instance())
    {
    }

    bool Start();
    void Stop();
    bool Connect();    // loop lock held
    void Disconnect(); // loop lock held
    void Relink();     // loop lock held
    void Unlink(uint32_t port); // loop lock held: the links from or to it go
    void Process();

    static void OnCoreDone(void* self, uint32_t id, int seq);
    static void OnCoreError(void* self, uint32_t id, int seq, int res, const char* message);
    static void OnGlobal(void* self, uint32_t id, uint32_t permissions, const char* type, uint32_t version,
                         const spa_dict* props);
    static void OnGlobalRemove(void* self, uint32_t id);
    static void OnStreamState(void* self, pw_stream_state old, pw_stream_state state, const char* error);
    static void OnParamChanged(void* self, uint32_t id, const spa_pod* param);
    static void OnProcess(void* self) { static_cast<Impl*>(self)->Process(); }
    static void OnLinkRemoved(void* link);
    static void OnLinkError(void* link, int seq, int res, const char* message);

    const ProgramChoice choice;
    SourceGroup& group;
    CaptureSource& lane;
    PulseContext& pulse;

    std::unique_ptr<pw_thread_loop, LoopFree> loop;
    std::unique_ptr<pw_context, ContextFree> context;
    // The loop's lock.
    std::unique_ptr<pw_core, CoreFree> core;
    spa_hook coreListener{};
    std::unique_ptr<pw_registry, RegistryFree> registry;
    spa_hook registryListener{};
    std::unique_ptr<pw_stream, StreamFree> stream;
    spa_hook streamListener{};
    uint32_t ownNode = SPA_ID_INVALID;
    std::map<uint32_t, Node> nodes; // playback streams, by node id
    std::map<uint32_t, Port> ports;
    std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<Link>> links;
    int takenNodes = 0;
    bool broken = false;  // the connection failed; Maintain makes a new one
    int syncSeq = -1;     // the round trip after connecting; -1 once it is answered
    CaptureFormat format{}; // of the stream's buffers, once negotiated
    size_t frameBytes = 0;
    bool begun = false;   // the lane's segment runs
    int64_t frames = 0;   // samples given to the lane since its Begin
    int64_t nextCycleNs = 0; // where the last cycle's samples ended
    // Encode thread.
    int64_t lastTryNs = 0;
    bool waitingLogged = false;
    bool lostLogged = false;
};

bool PipeWireProgramStream::Impl::Start()
{
    static std::once_flag init;
    std::call_once(init, [] { pw_init(nullptr, nullptr); });
    loop.reset(pw_thread_loop_new("pipewire-programs", nullptr));
    if (!loop)
        return false;
    context.reset(pw_context_new(pw_thread_loop_get_loop(loop.get()), nullptr, 0));
    if (!context || pw_thread_loop_start(loop.get()) < 0)
        return false;
    pw_thread_loop_lock(loop.get());
    bool connected = Connect();
    // A round trip: the server answers (else libpulse records instead), and the registry has told
    // of every stream already playing, so that they join before the first samples.
    if (connected) {
        syncSeq = pw_core_sync(core.get(), PW_ID_CORE, 0);
        timespec until{};
        pw_thread_loop_get_time(loop.get(), &until, std::chrono::nanoseconds(kConnectWait).count());
        while (syncSeq >= 0 && !broken && pw_thread_loop_timed_wait_full(loop.get(), &until) == 0) {
        }
        connected = syncSeq < 0 && !broken;
    }
    pw_thread_loop_unlock(loop.get());
    lastTryNs = MonotonicNowNs();
    return connected;
}

void PipeWireProgramStream::Impl::Stop()
{
    if (loop) {
        pw_thread_loop_lock(loop.get());
        Disconnect();
        pw_thread_loop_unlock(loop.get());
        pw_thread_loop_stop(loop.get());
    }
    context.reset();
    loop.reset();
}

bool PipeWireProgramStream::Impl::Connect()
{
    static const pw_core_events kCoreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.done = &Impl::OnCoreDone;
        e.error = &Impl::OnCoreError;
        return e;
    }();
    static const pw_registry_events kRegistryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = &Impl::OnGlobal;
        e.global_remove = &Impl::OnGlobalRemove;
        return e;
    }();
    static const pw_stream_events kStreamEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Impl::OnStreamState;
        e.param_changed = &Impl::OnParamChanged;
        e.process = &Impl::OnProcess;
        return e;
    }();
    broken = false;
    // nullptr: the user's server (PIPEWIRE_REMOTE, PIPEWIRE_RUNTIME_DIR), the one pipewire-pulse serves.
    core.reset(pw_context_connect(context.get(), nullptr, 0));
    if (!core) {
        broken = true;
        return false;
    }
    pw_core_add_listener(core.get(), &coreListener, &kCoreEvents, this);
    registry.reset(pw_core_get_registry(core.get(), PW_VERSION_REGISTRY, 0));
    if (registry)
        pw_registry_add_listener(registry.get(), &registryListener, &kRegistryEvents, this);
    // Not linked by the session manager: the links are ours. Its ports take the graph's blocks as
    // they are (no latency asked: a request would shrink the block for every program).
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Production", PW_KEY_NODE_AUTOCONNECT, "false",
                                             PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    stream.reset(pw_stream_new(core.get(), kStreamName, props));
    if (!registry || !stream) {
        broken = true;
        return false;
    }
    pw_stream_add_listener(stream.get(), &streamListener, &kStreamEvents, this);
    // Float stereo in the graph's own rate (none asked): the lane converts to the recording's.
    // (Feeds knows these two channels.)
    uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    if (pw_stream_connect(stream.get(), PW_DIRECTION_INPUT, PW_ID_ANY, PW_STREAM_FLAG_MAP_BUFFERS, params, 1) < 0) {
        broken = true;
        return false;
    }
    return true;
}

void PipeWireProgramStream::Impl::Disconnect()
{
    links.clear();
    if (stream) {
        spa_hook_remove(&streamListener);
        stream.reset();
    }
    if (registry) {
        spa_hook_remove(&registryListener);
        registry.reset();
    }
    if (core) {
        spa_hook_remove(&coreListener);
        core.reset();
    }
    nodes.clear();
    ports.clear();
    takenNodes = 0;
    ownNode = SPA_ID_INVALID;
    if (begun)
        lane.End();
    begun = false;
}

void PipeWireProgramStream::Impl::Unlink(uint32_t port)
{
    for (auto it = links.begin(); it != links.end();) {
        if (it->first.first == port || it->first.second == port)
            it = links.erase(it);
        else
            ++it;
    }
}

void PipeWireProgramStream::Impl::Relink()
{
    static const pw_proxy_events kLinkEvents = [] {
        pw_proxy_events e{};
        e.version = PW_VERSION_PROXY_EVENTS;
        e.removed = &Impl::OnLinkRemoved;
        e.error = &Impl::OnLinkError;
        return e;
    }();
    if (ownNode == SPA_ID_INVALID || !core)
        return;
    for (const auto& [outId, out] : ports) {
        const auto node = nodes.find(out.node);
        if (!out.output || node == nodes.end() || !node->second.taken)
            continue;
        for (const auto& [inId, in] : ports) {
            if (in.output || in.node != ownNode || !Feeds(out.channel, in.channel) ||
                links.count({outId, inId}))
                continue;
            pw_properties* props = pw_properties_new(PW_KEY_OBJECT_LINGER, "false", nullptr);
            pw_properties_setf(props, PW_KEY_LINK_OUTPUT_NODE, "%u", out.node);
            pw_properties_setf(props, PW_KEY_LINK_OUTPUT_PORT, "%u", outId);
            pw_properties_setf(props, PW_KEY_LINK_INPUT_NODE, "%u", in.node);
            pw_properties_setf(props, PW_KEY_LINK_INPUT_PORT, "%u", inId);
            auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(
                core.get(), "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
            pw_properties_free(props);
            if (!proxy) {
                LOG(ERROR) << "program sound: cannot link port " << outId << " of node " << out.node;
                continue;
            }
            auto link = std::make_unique<Link>();
            link->owner = this;
            link->ports = {outId, inId};
            link->proxy.reset(proxy);
            pw_proxy_add_listener(proxy, &link->listener, &kLinkEvents, link.get());
            links.emplace(link->ports, std::move(link));
        }
    }
}

void PipeWireProgramStream::Impl::OnCoreDone(void* self, uint32_t id, int seq)
{
    // PipeWire loop thread, lock held.
    auto* me = static_cast<Impl*>(self);
    if (id == PW_ID_CORE && seq == me->syncSeq) {
        me->syncSeq = -1;
        pw_thread_loop_signal(me->loop.get(), false);
    }
}

void PipeWireProgramStream::Impl::OnCoreError(void* self, uint32_t id, int seq, int res, const char* message)
{
    // PipeWire loop thread, lock held. A link that failed is reported by its own proxy.
    auto* me = static_cast<Impl*>(self);
    if (id != PW_ID_CORE)
        return;
    LOG(ERROR) << "program sound: PipeWire: " << (message ? message : "") << " (" << spa_strerror(res) << ")";
    if (res == -EPIPE) {
        me->broken = true; // the server went away
        pw_thread_loop_signal(me->loop.get(), false);
    }
}

void PipeWireProgramStream::Impl::OnGlobal(void* self, uint32_t id, uint32_t, const char* type, uint32_t,
                                           const spa_dict* props)
{
    // PipeWire loop thread, lock held: a node or port appeared (or was there when we connected).
    auto* me = static_cast<Impl*>(self);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        Port port;
        // (strtoul: a malformed id must not throw through PipeWire's C callback)
        const std::string node = Prop(props, PW_KEY_NODE_ID);
        port.node = node.empty() ? SPA_ID_INVALID : static_cast<uint32_t>(std::strtoul(node.c_str(), nullptr, 10));
        port.output = Prop(props, PW_KEY_PORT_DIRECTION) == "out";
        port.channel = Prop(props, PW_KEY_AUDIO_CHANNEL);
        if (Prop(props, PW_KEY_PORT_MONITOR) == "true")
            return; // a device's monitor, never a program's stream
        me->ports[id] = port;
        me->Relink();
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || Prop(props, PW_KEY_MEDIA_CLASS) != "Stream/Output/Audio")
        return;
    if (Prop(props, PW_KEY_APP_PROCESS_ID) == std::to_string(getpid()))
        return; // our own: never a program to record or to leave out
    Node node;
    node.appName = Prop(props, PW_KEY_APP_NAME);
    const std::string binary = Prop(props, PW_KEY_APP_PROCESS_BINARY);
    node.key = binary.empty() ? node.appName : binary;
    node.taken = me->choice.Takes(node.appName, binary);
    if (node.taken) {
        ++me->takenNodes;
        LOG(INFO) << "program sound: stream " << id << " of \"" << node.key << "\" (" << node.appName << ") joins";
    }
    me->nodes[id] = node;
    me->Relink();
}

void PipeWireProgramStream::Impl::OnGlobalRemove(void* self, uint32_t id)
{
    // PipeWire loop thread, lock held.
    auto* me = static_cast<Impl*>(self);
    if (me->ports.erase(id)) {
        me->Unlink(id);
        return;
    }
    const auto node = me->nodes.find(id);
    if (node == me->nodes.end())
        return;
    if (node->second.taken) {
        --me->takenNodes;
        LOG(INFO) << "program sound: stream " << id << " left";
    }
    me->nodes.erase(node);
}

void PipeWireProgramStream::Impl::OnStreamState(void* self, pw_stream_state, pw_stream_state state, const char* error)
{
    // PipeWire loop thread, lock held.
    auto* me = static_cast<Impl*>(self);
    if (state == PW_STREAM_STATE_ERROR) {
        LOG(ERROR) << "program sound: PipeWire stream: " << (error ? error : "");
        me->broken = true;
        return;
    }
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
        const uint32_t node = pw_stream_get_node_id(me->stream.get());
        if (node != me->ownNode) {
            me->ownNode = node;
            LOG(INFO) << "program sound: PipeWire node " << node;
            me->Relink();
        }
    }
}

void PipeWireProgramStream::Impl::OnParamChanged(void* self, uint32_t id, const spa_pod* param)
{
    // PipeWire loop thread, lock held: the buffers' format.
    auto* me = static_cast<Impl*>(self);
    if (id != SPA_PARAM_Format || !param)
        return;
    spa_audio_info_raw info{};
    if (spa_format_audio_raw_parse(param, &info) < 0 || info.format != SPA_AUDIO_FORMAT_F32 || info.channels == 0)
        return;
    if (me->begun)
        me->lane.End();
    me->begun = false;
    me->format.sampleFormat = AV_SAMPLE_FMT_FLT;
    me->format.rate = static_cast<int>(info.rate);
    me->format.channels = static_cast<int>(info.channels);
    me->frameBytes = sizeof(float) * info.channels;
    LOG(INFO) << "program sound: " << info.channels << " channels at " << info.rate << " Hz";
}

void PipeWireProgramStream::Impl::Process()
{
    // PipeWire loop thread, lock held: what the streams linked to us played in one graph cycle,
    // mixed by PipeWire; placed and mixed into the group right here.
    if (!stream || frameBytes == 0 || format.rate <= 0)
        return;
    const int64_t arrival = MonotonicNowNs();
    pw_time time{};
    pw_stream_get_time_n(stream.get(), &time, sizeof time);
    const int64_t delayNs = time.rate.denom == 0 ? 0
        : time.delay * 1'000'000'000 * static_cast<int64_t>(time.rate.num) / static_cast<int64_t>(time.rate.denom);
    // A cycle that does not start where the last one ended (no stream was linked in between, or
    // the graph stopped) starts a new segment: its samples belong where they were captured.
    if (begun && std::llabs(time.now - nextCycleNs) > kBreakNs) {
        lane.End();
        begun = false;
    }
    int64_t cycleFrames = 0;
    while (pw_buffer* b = pw_stream_dequeue_buffer(stream.get())) {
        const spa_data& d = b->buffer->datas[0];
        if (d.data && d.chunk && d.maxsize > 0) {
            const uint32_t offset = std::min(d.chunk->offset % d.maxsize, d.maxsize);
            const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
            const auto n = static_cast<int>(size / frameBytes);
            if (n > 0) {
                if (!begun) {
                    begun = lane.Begin(format, delayNs);
                    frames = 0;
                    if (!begun)
                        LOG(ERROR) << "capture: the stream's format cannot be converted";
                }
                if (begun) {
                    lane.Deliver(static_cast<const uint8_t*>(d.data) + offset, n, arrival);
                    frames += n;
                    cycleFrames += n;
                }
            }
        }
        pw_stream_queue_buffer(stream.get(), b);
    }
    if (!begun || cycleFrames == 0)
        return;
    // The cycle's samples were complete at the cycle's start, delayNs after their capture: the
    // same account pipewire-pulse gives of a monitor's samples.
    if (time.now > 0)
        lane.Timing(time.now, frames, delayNs);
    nextCycleNs = (time.now > 0 ? time.now : arrival) + cycleFrames * 1'000'000'000 / format.rate;
}

void PipeWireProgramStream::Impl::OnLinkRemoved(void* data)
{
    // PipeWire loop thread, lock held: the server ended a link of ours (its program's port went).
    auto* link = static_cast<Link*>(data);
    Impl* me = link->owner;
    me->links.erase(link->ports); // frees link
}

void PipeWireProgramStream::Impl::OnLinkError(void* data, int, int res, const char* message)
{
    // PipeWire loop thread, lock held: the link was refused (its port vanished meanwhile); the
    // stream's sound is missing, the recording goes on.
    auto* link = static_cast<Link*>(data);
    LOG(ERROR) << "program sound: link from port " << link->ports.first << " refused: " << (message ? message : "")
               << " (" << spa_strerror(res) << ")";
}

std::unique_ptr<PipeWireProgramStream> PipeWireProgramStream::Open(const ProgramChoice& choice, SourceGroup& group)
{
    auto impl = std::make_unique<Impl>(choice, group);
    if (!impl->Start()) {
        LOG(INFO) << "program sound: PipeWire not reachable; through the PulseAudio interface";
        impl->Stop();
        group.Leave(kLane);
        return nullptr;
    }
    LOG(INFO) << "program sound: through PipeWire";
    std::unique_ptr<PipeWireProgramStream> stream(new PipeWireProgramStream(std::move(impl)));
    stream->Maintain();
    return stream;
}

PipeWireProgramStream::PipeWireProgramStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PipeWireProgramStream::~PipeWireProgramStream()
{
    impl_->Stop(); // no event runs after this
    impl_->group.Leave(kLane);
}

void PipeWireProgramStream::Maintain()
{
    Impl& d = *impl_;
    const PulseServerState state = d.pulse.Snapshot();
    // The volume of the device the chosen streams play on (the default one when none plays).
    uint32_t sink = PA_INVALID_INDEX;
    for (const PulseSinkInput& input : state.sinkInputs)
        if (sink == PA_INVALID_INDEX && d.choice.Takes(input.appName, input.binary))
            sink = input.sink;
    if (const PulseDevice* device = sink == PA_INVALID_INDEX ? state.Find(PulseDirection::kRender, state.defaultSink)
                                                             : nullptr)
        sink = device->index;
    if (const std::optional<float> gain = PulseProgramStream::SinkGain(state, sink))
        d.group.SetGain(kLane, *gain);

    pw_thread_loop_lock(d.loop.get());
    const int64_t now = MonotonicNowNs();
    if (d.broken && now - d.lastTryNs >= kRetryNs) {
        if (!d.lostLogged)
            LOG(INFO) << "program sound: PipeWire connection lost";
        d.lostLogged = true;
        d.lastTryNs = now;
        d.Disconnect();
        if (d.Connect()) {
            LOG(INFO) << "program sound: PipeWire connection back";
            d.lostLogged = false;
        } else {
            d.Disconnect(); // what was made of it
        }
    }
    const bool waiting = !d.choice.only.empty() && d.takenNodes == 0 && !d.broken;
    pw_thread_loop_unlock(d.loop.get());
    if (!d.choice.only.empty() && waiting != d.waitingLogged) {
        d.waitingLogged = waiting;
        LOG(INFO) << "program sound: \"" << d.choice.only << "\""
                  << (waiting ? " plays nothing now; recording silence until it does" : " plays");
    }
}
