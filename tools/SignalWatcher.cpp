#include "SignalWatcher.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>

namespace {
// Sent by the destructor to the watcher's own thread to end its wait; any other sender of this
// signal is ignored while the watcher lives.
constexpr int kWakeSignal = SIGUSR1;
// Exit status after a second stop signal: 128 + SIGINT, as shells report an interrupted program.
constexpr int kAbandonStatus = 130;
} // namespace

SignalWatcher::SignalWatcher(std::function<void()> onSignal) : onSignal_(std::move(onSignal))
{
    sigemptyset(&watched_);
    sigaddset(&watched_, SIGINT);
    sigaddset(&watched_, SIGTERM);
    sigaddset(&watched_, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &watched_, &oldMask_);
    thread_ = std::thread(&SignalWatcher::WatchThread, this);
}

SignalWatcher::~SignalWatcher()
{
    ending_ = true;
    pthread_kill(thread_.native_handle(), kWakeSignal);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
}

void SignalWatcher::WatchThread()
{
    // Signal thread: owns nothing; waits for SIGINT/SIGTERM (blocked in every thread of the
    // process, so they queue for this sigwait) and calls onSignal_, which shares its data with
    // the main thread under that callee's own lock. Ends on kWakeSignal sent by the destructor.
    int received = 0;
    bool signalled = false;
    while (sigwait(&watched_, &received) == 0) {
        if (received == kWakeSignal) {
            if (ending_)
                return;
            continue;
        }
        if (signalled) {
            std::fputs("tamsu-record: interrupted again, the recording is abandoned\n", stderr);
            std::_Exit(kAbandonStatus);
        }
        signalled = true;
        onSignal_();
    }
}
