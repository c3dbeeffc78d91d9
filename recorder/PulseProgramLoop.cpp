#include "PulseProgramLoop.h"

#include <glog/logging.h>
#include <pulse/error.h>
#include <pulse/timeval.h>

#include <cstdlib>
#include <mutex>

namespace {

// The connection's name in the server's client list.
constexpr const char* kClientName = "TAMSU program sound";

} // namespace

PulseProgramLoop::PulseProgramLoop() : loop_(pa_threaded_mainloop_new())
{
    if (!loop_) {
        LOG(FATAL) << "program sound: cannot create a main loop"; // out of memory
        std::abort();
    }
    pa_threaded_mainloop_set_name(loop_, "pulse-programs");
    if (pa_threaded_mainloop_start(loop_) < 0) {
        LOG(ERROR) << "program sound: cannot start the main loop";
        return;
    }
    std::lock_guard<PulseProgramLoop> lock(*this);
    Connect();
    // Woken by OnState, or by the timer when the server does not answer in time.
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(kConnectWait.count()) * PA_USEC_PER_MSEC);
    pa_time_event* timer = Api()->time_new(Api(), &when, &PulseProgramLoop::OnConnectTimer, this);
    while (!ready_ && !failed_ && !connectLate_)
        pa_threaded_mainloop_wait(loop_);
    Api()->time_free(timer);
    if (!ready_)
        LOG(ERROR) << "program sound: no connection to the sound server yet";
}

PulseProgramLoop::~PulseProgramLoop()
{
    pa_threaded_mainloop_stop(loop_); // harmless when it never started
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
}

void PulseProgramLoop::Connect()
{
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    failed_ = false;
    context_ = pa_context_new(Api(), kClientName);
    if (!context_) {
        failed_ = true;
        return;
    }
    pa_context_set_state_callback(context_, &PulseProgramLoop::OnState, this);
    // nullptr: the server the shared connection reaches too (PULSE_SERVER or the user's).
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        failed_ = true;
}

void PulseProgramLoop::Maintain()
{
    std::lock_guard<PulseProgramLoop> lock(*this);
    if (failed_)
        Connect();
}

void PulseProgramLoop::OnState(pa_context* context, void* self)
{
    // Loop thread, lock held.
    auto* me = static_cast<PulseProgramLoop*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        ++me->generation_;
        me->ready_ = true;
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        if (me->ready_)
            LOG(INFO) << "program sound: connection lost: " << pa_strerror(pa_context_errno(context));
        me->ready_ = false;
        me->failed_ = true;
    } else {
        return;
    }
    pa_threaded_mainloop_signal(me->loop_, 0);
}

void PulseProgramLoop::OnConnectTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    // Loop thread, lock held: the constructor waits no longer.
    auto* me = static_cast<PulseProgramLoop*>(self);
    me->connectLate_ = true;
    pa_threaded_mainloop_signal(me->loop_, 0);
}
