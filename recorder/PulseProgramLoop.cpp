#include "PulseProgramLoop.h"

#include <glog/logging.h>
#include <pulse/error.h>

#include <poll.h>

#include <algorithm>

namespace {

// The connection's name in the server's client list.
constexpr const char* kClientName = "TAMSU program sound";

} // namespace

PulseProgramLoop::PulseProgramLoop()
{
    loop_ = pa_mainloop_new();
    if (!loop_) {
        LOG(ERROR) << "program sound: cannot create a main loop";
        return;
    }
    pa_mainloop_set_poll_func(loop_, &PulseProgramLoop::Poll, this);
    std::unique_lock<std::mutex> lock(lock_);
    Connect();
    thread_ = std::thread(&PulseProgramLoop::Run, this);
    changed_.wait_for(lock, kConnectWait, [this] { return ready_ || failed_; });
    if (!ready_)
        LOG(ERROR) << "program sound: no connection to the sound server yet";
}

PulseProgramLoop::~PulseProgramLoop()
{
    if (!loop_)
        return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    pa_mainloop_wakeup(loop_);
    thread_.join();
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_mainloop_free(loop_);
}

void PulseProgramLoop::Connect()
{
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    failed_ = false;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), kClientName);
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
    if (!loop_)
        return;
    std::lock_guard<std::mutex> guard(lock_);
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
    me->changed_.notify_all();
}

int PulseProgramLoop::Poll(struct pollfd* fds, unsigned long count, int timeoutMs, void* self)
{
    // Loop thread, called with the lock held (runLock_); lets go of it while it waits.
    auto* me = static_cast<PulseProgramLoop*>(self);
    std::unique_lock<std::mutex>& lock = *me->runLock_;
    const auto start = std::chrono::steady_clock::now();
    // Not while it connects: the handshake's round trips would each wait.
    if (timeoutMs != 0 && me->ready_) { // 0: the loop has work due now
        auto until = me->lastWake_ + std::chrono::nanoseconds(kWakePeriodNs);
        if (timeoutMs > 0)
            until = std::min(until, start + std::chrono::milliseconds(timeoutMs));
        me->changed_.wait_until(lock, until, [me] { return me->quit_; });
    }
    if (timeoutMs > 0) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        timeoutMs = std::max(0, timeoutMs - static_cast<int>(waited.count()));
    }
    if (me->quit_)
        timeoutMs = 0;
    lock.unlock();
    const int result = poll(fds, count, timeoutMs);
    lock.lock();
    me->lastWake_ = std::chrono::steady_clock::now();
    return result;
}

void PulseProgramLoop::Run()
{
    // Loop thread: runs the connection's callbacks (streams, timers) with the lock held; lets go
    // of it only in Poll.
    std::unique_lock<std::mutex> lock(lock_);
    runLock_ = &lock;
    while (!quit_)
        if (pa_mainloop_iterate(loop_, 1, nullptr) < 0)
            break;
    runLock_ = nullptr;
}
