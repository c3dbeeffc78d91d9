#pragma once
// PulseProgramLoop: a connection of its own to the sound server, with its own main loop thread,
// for the streams of a program's sound.
//
// That thread reads the program streams' packets and places and mixes their samples itself (no
// capture worker per stream): fifty streams cost one thread. The process's shared loop
// (PulseContext) must never wait, since the arrival times of the system sound's and the
// microphone's packets place them; this one may.
//
// - Connects at construction, waiting up to kConnectWait for the server to accept; Context() is
//   null until it did. A context that fails (the server restarted) is replaced by Maintain, and
//   Generation() grows with every new ready context: streams of an older one are gone.
//
// Thread-safety: lock()/unlock() (BasicLockable, not recursive) around every use of Context(),
// Api() and the libpulse objects on them, from any thread but the loop's own; their callbacks
// run on the loop thread with the lock held. Ready and Generation from any thread. Maintain and
// the destructor on the owner's thread, without the lock.

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

#include <atomic>
#include <chrono>
#include <cstdint>

struct timeval;

class PulseProgramLoop {
public:
    // A local server accepts within milliseconds; a recording does not wait longer than this.
    static constexpr std::chrono::milliseconds kConnectWait{1000};

    PulseProgramLoop();
    ~PulseProgramLoop();
    PulseProgramLoop(const PulseProgramLoop&) = delete;
    PulseProgramLoop& operator=(const PulseProgramLoop&) = delete;

    void lock() { pa_threaded_mainloop_lock(loop_); }
    void unlock() { pa_threaded_mainloop_unlock(loop_); }
    // Under the lock: the context when it is ready, else nullptr.
    pa_context* Context() const { return ready_ ? context_ : nullptr; }
    // Under the lock: the loop's timers and events.
    pa_mainloop_api* Api() const { return pa_threaded_mainloop_get_api(loop_); }
    bool Ready() const { return ready_; }
    uint64_t Generation() const { return generation_; }
    // A failed context is replaced by a new one (call while the server is there).
    void Maintain();

private:
    static void OnState(pa_context* context, void* self);
    static void OnConnectTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self);
    void Connect(); // lock held

    pa_threaded_mainloop* const loop_;
    pa_context* context_ = nullptr; // under the lock
    bool failed_ = false;           // under the lock: the context failed or ended
    bool connectLate_ = false;      // under the lock: the constructor's wait is over
    std::atomic<bool> ready_{false};
    std::atomic<uint64_t> generation_{0};
};
