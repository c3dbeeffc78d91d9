#pragma once
// SignalWatcher: turns SIGINT and SIGTERM into a call on an ordinary thread, so that a stop can be
// handed to the main thread with a mutex and a condition variable (neither may be used inside a
// signal handler).
//
// The constructor blocks both signals in the calling thread; threads created afterwards inherit
// the mask, so the watcher's own thread is the only one that receives them. Construct it in the
// main thread before any other thread starts. The first signal calls onSignal; a second one ends
// the process at once with status 130 (the user insists). The destructor ends the watcher's
// thread and restores the signal mask. Not copyable; owned and destroyed by the main thread.

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

class SignalWatcher {
public:
    explicit SignalWatcher(std::function<void()> onSignal);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void WatchThread();

    std::function<void()> onSignal_;
    sigset_t watched_{};  // SIGINT, SIGTERM and the private wake-up signal
    sigset_t oldMask_{};
    std::atomic<bool> ending_{false}; // set by the destructor before it wakes the thread
    std::thread thread_;
};
