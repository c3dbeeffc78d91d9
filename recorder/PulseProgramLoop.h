#pragma once
// PulseProgramLoop: a connection of its own to the sound server, for the streams of a program's
// sound, on a main loop that takes in what the server sent at most every kWakePeriodNs.
//
// The server sends a stream of one playback stream a packet for every block its sink renders: a
// few hundred a second each, more the more programs play. On the process's shared loop every one
// of them wakes that loop. This loop, once woken, waits out the rest of kWakePeriodNs before it
// looks at its connection again, so that everything that came meanwhile is taken in at once (and
// the server joins packets that wait for it into larger ones). The system sound and the
// microphone stay on the shared loop (PulseContext): their packets' arrival times place them.
//
// - Connects at construction, waiting up to kConnectWait for the server to accept; Context() is
//   null until it did. A context that fails (the server restarted) is replaced by Maintain, and
//   Generation() grows with every new ready context: streams of an older one are gone.
// - Requests of other threads (a stream connecting) wait at most kWakePeriodNs for the loop.
//
// Thread-safety: lock()/unlock() (BasicLockable, not recursive) around every use of Context(),
// Api() and the libpulse objects on them, from any thread but the loop's own; their callbacks
// run on the loop thread with the lock held. Ready and Generation from any thread. Maintain and
// the destructor on the owner's thread, without the lock.

#include <pulse/context.h>
#include <pulse/mainloop.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct pollfd;

class PulseProgramLoop {
public:
    // Between two looks at the connection: a tenth of what the program mix waits for a stream
    // (SourceGroup::kLagNs), and what a hundred streams cost in CPU is mostly gone at this pace.
    static constexpr int64_t kWakePeriodNs = 20'000'000;
    // A local server accepts within milliseconds; a recording does not wait longer than this.
    static constexpr std::chrono::milliseconds kConnectWait{1000};

    PulseProgramLoop();
    ~PulseProgramLoop();
    PulseProgramLoop(const PulseProgramLoop&) = delete;
    PulseProgramLoop& operator=(const PulseProgramLoop&) = delete;

    void lock() { lock_.lock(); }
    void unlock() { lock_.unlock(); }
    // Under the lock: the context when it is ready, else nullptr.
    pa_context* Context() const { return ready_ ? context_ : nullptr; }
    // Under the lock: the loop's timers and events; null when there is no loop.
    pa_mainloop_api* Api() const { return loop_ ? pa_mainloop_get_api(loop_) : nullptr; }
    bool Ready() const { return ready_; }
    uint64_t Generation() const { return generation_; }
    // A failed context is replaced by a new one (call while the server is there).
    void Maintain();

private:
    static int Poll(struct pollfd* fds, unsigned long count, int timeoutMs, void* self);
    static void OnState(pa_context* context, void* self);
    void Connect(); // lock held
    void Run();

    pa_mainloop* loop_ = nullptr;
    std::mutex lock_; // held by the loop thread except while it waits and polls
    std::condition_variable changed_; // quit_, ready_ or failed_ changed
    bool quit_ = false;
    pa_context* context_ = nullptr; // lock_
    bool failed_ = false;           // lock_: the context failed or ended
    std::atomic<bool> ready_{false};
    std::atomic<uint64_t> generation_{0};
    // Loop thread only.
    std::unique_lock<std::mutex>* runLock_ = nullptr;
    std::chrono::steady_clock::time_point lastWake_{};
    std::thread thread_;
};
