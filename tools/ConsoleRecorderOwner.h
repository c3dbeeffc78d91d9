#pragma once
// The owner of the command-line recorder's AudioRecorder: collects the elapsed-seconds reports of
// the encode thread and the stop requests of the signal watcher, and hands both to the main
// thread, which waits for them between its scheduled steps.
//
// Thread-safety: PostRecorderSeconds (encode thread) and RequestStop (signal thread) may be called
// from any thread at any time; WaitUntil is called by the main thread only. Everything is
// guarded by one mutex.

#include "RecorderTypes.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ConsoleRecorderOwner : public RecorderOwner {
public:
    using Clock = std::chrono::steady_clock;

    // Queues the report and wakes the main thread; returns at once.
    void PostRecorderSeconds(int64_t seconds) override;
    // Keeps the error and asks the main thread to stop; returns at once.
    void PostRecorderError(RecorderError error) override;
    // The error the recorder reported, if any.
    std::optional<RecorderError> Error();
    // Asks the main thread to stop the recording; returns at once.
    void RequestStop();

    // Waits until deadline, a report or a stop request, whichever comes first. Moves the reports
    // received so far into seconds (in order) and returns whether a stop was requested.
    bool WaitUntil(Clock::time_point deadline, std::vector<int64_t>& seconds);

    // "%02d:%02d:%02d" of whole seconds (hours may grow beyond two digits).
    static std::string FormatSeconds(int64_t seconds);

private:
    std::mutex lock_;
    std::condition_variable signal_;
    std::vector<int64_t> reports_; // guarded by lock_
    bool stopRequested_ = false;   // guarded by lock_
    std::optional<RecorderError> error_; // guarded by lock_
};
