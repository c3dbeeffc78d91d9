#include "PulseConnection.h"

#include <pulse/introspect.h>

#include <algorithm>

namespace {

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
    d.volume = info.volume;
    d.mute = info.mute != 0;
    d.rate = info.sample_spec.rate;
    d.channels = info.sample_spec.channels;
    return d;
}

// Collects the entries of an info request (list or single device). Runs inside the main loop of
// the requesting thread.
struct InfoCollector {
    std::vector<PulseDevice> devices;
    bool done = false;
    bool failed = false;

    template <typename Info>
    static void Callback(pa_context*, const Info* info, int eol, void* userdata)
    {
        auto* self = static_cast<InfoCollector*>(userdata);
        if (eol != 0) {
            self->failed = self->failed || eol < 0;
            self->done = true;
            return;
        }
        if (!info)
            return;
        try {
            self->devices.push_back(FromInfo(*info));
        } catch (...) {
            self->failed = true; // no exception crosses the library's C callback
        }
    }
};

struct SuccessResult {
    bool done = false;
    int success = 0;

    static void Callback(pa_context*, int success, void* userdata)
    {
        auto* self = static_cast<SuccessResult*>(userdata);
        self->success = success;
        self->done = true;
    }
};

struct ServerNames {
    std::string sink;
    std::string source;
    bool done = false;
    bool failed = false;

    static void Callback(pa_context*, const pa_server_info* info, void* userdata)
    {
        auto* self = static_cast<ServerNames*>(userdata);
        if (!info) {
            self->failed = true;
        } else {
            try {
                self->sink = info->default_sink_name ? info->default_sink_name : "";
                self->source = info->default_source_name ? info->default_source_name : "";
            } catch (...) {
                self->failed = true;
            }
        }
        self->done = true;
    }
};

} // namespace

void PulseConnection::MainloopDeleter::operator()(pa_mainloop* m) const { pa_mainloop_free(m); }

void PulseConnection::ContextDeleter::operator()(pa_context* c) const
{
    pa_context_disconnect(c);
    pa_context_unref(c);
}

void PulseConnection::OperationDeleter::operator()(pa_operation* o) const { pa_operation_unref(o); }

PulseConnection::PulseConnection()
{
    mainloop_.reset(pa_mainloop_new());
    if (!mainloop_)
        return;
    context_.reset(pa_context_new(pa_mainloop_get_api(mainloop_.get()), kClientName));
    if (!context_)
        return;
    // nullptr: the server named by the environment (PULSE_SERVER) or the user's default one.
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return;
    pa_context* context = context_.get();
    auto settled = [context] {
        pa_context_state_t s = pa_context_get_state(context);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    };
    connected_ = RunUntil(settled, Clock::now() + kConnectTimeout)
        && pa_context_get_state(context) == PA_CONTEXT_READY;
}

PulseConnection::~PulseConnection() = default;

template <typename Done>
bool PulseConnection::RunUntil(Done done, Clock::time_point deadline)
{
    pa_mainloop* loop = mainloop_.get();
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        // Poll at most until the deadline, then handle whatever arrived.
        if (pa_mainloop_prepare(loop, static_cast<int>(left.count())) < 0
            || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
            return false;
    }
    return true;
}

bool PulseConnection::Wait(OperationPtr op)
{
    if (!op)
        return false;
    pa_operation* o = op.get();
    pa_context* context = context_.get();
    auto finished = [o, context] {
        return pa_operation_get_state(o) != PA_OPERATION_RUNNING
            || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
    };
    bool ok = RunUntil(finished, Clock::now() + kRequestTimeout)
        && pa_operation_get_state(o) == PA_OPERATION_DONE;
    if (pa_operation_get_state(o) == PA_OPERATION_RUNNING)
        pa_operation_cancel(o); // the callback must not run after its data is gone
    if (!ok)
        connected_ = false; // a server that stops answering is treated as gone
    return ok;
}

bool PulseConnection::GetDefaultNames(std::string& sink, std::string& source)
{
    if (!connected_)
        return false;
    ServerNames names;
    if (!Wait(OperationPtr(pa_context_get_server_info(context_.get(), &ServerNames::Callback, &names)))
        || !names.done || names.failed)
        return false;
    sink = names.sink;
    source = names.source;
    return true;
}

PulseListResult PulseConnection::ListDevices(PulseDirection direction, std::vector<PulseDevice>& devices)
{
    devices.clear();
    if (!connected_)
        return PulseListResult::kNotStarted;
    InfoCollector collector;
    OperationPtr op(direction == PulseDirection::kCapture
            ? pa_context_get_source_info_list(context_.get(), &InfoCollector::Callback<pa_source_info>, &collector)
            : pa_context_get_sink_info_list(context_.get(), &InfoCollector::Callback<pa_sink_info>, &collector));
    if (!op)
        return PulseListResult::kNotStarted;
    if (!Wait(std::move(op)) || !collector.done || collector.failed)
        return PulseListResult::kIncomplete;
    std::stable_sort(collector.devices.begin(), collector.devices.end(),
        [](const PulseDevice& a, const PulseDevice& b) { return a.index < b.index; });
    devices = std::move(collector.devices);
    return PulseListResult::kOk;
}

bool PulseConnection::GetDevice(PulseDirection direction, const std::string& name, PulseDevice& device)
{
    if (!connected_ || name.empty())
        return false;
    InfoCollector collector;
    OperationPtr op(direction == PulseDirection::kCapture
            ? pa_context_get_source_info_by_name(context_.get(), name.c_str(),
                  &InfoCollector::Callback<pa_source_info>, &collector)
            : pa_context_get_sink_info_by_name(context_.get(), name.c_str(),
                  &InfoCollector::Callback<pa_sink_info>, &collector));
    // The server answers an unknown name with an error: not a lost connection.
    if (!Wait(std::move(op)) || collector.devices.empty())
        return false;
    device = collector.devices.front();
    return true;
}

bool PulseConnection::SetVolume(PulseDirection direction, uint32_t index, uint8_t channels, pa_volume_t volume)
{
    if (!connected_ || channels == 0 || channels > PA_CHANNELS_MAX)
        return false;
    pa_cvolume cv;
    pa_cvolume_set(&cv, channels, volume);
    SuccessResult result;
    pa_operation* op = direction == PulseDirection::kCapture
        ? pa_context_set_source_volume_by_index(context_.get(), index, &cv, &SuccessResult::Callback, &result)
        : pa_context_set_sink_volume_by_index(context_.get(), index, &cv, &SuccessResult::Callback, &result);
    return Wait(OperationPtr(op)) && result.success != 0;
}

bool PulseConnection::SetMute(PulseDirection direction, uint32_t index, bool mute)
{
    if (!connected_)
        return false;
    SuccessResult result;
    pa_operation* op = direction == PulseDirection::kCapture
        ? pa_context_set_source_mute_by_index(context_.get(), index, mute, &SuccessResult::Callback, &result)
        : pa_context_set_sink_mute_by_index(context_.get(), index, mute, &SuccessResult::Callback, &result);
    return Wait(OperationPtr(op)) && result.success != 0;
}
