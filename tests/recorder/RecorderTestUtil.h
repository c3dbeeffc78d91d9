#pragma once
// Helpers of the recorder tests: an owner that keeps the reported seconds (and waits for them),
// the parameters of a recording, and a pause.

#include "AudioRecorder.h"
#include "RecordingPlan.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class SecondsLog : public RecorderOwner {
public:
    void PostRecorderSeconds(int64_t seconds) override
    {
        {
            std::lock_guard<std::mutex> g(lock_);
            seconds_.push_back(seconds);
        }
        changed_.notify_all();
    }
    // Up to 10 s until second n (n <= 0: at once) was reported.
    bool WaitForSecond(int64_t n)
    {
        std::unique_lock<std::mutex> g(lock_);
        return changed_.wait_for(g, std::chrono::seconds(10),
                                 [&] { return n <= 0 || (!seconds_.empty() && seconds_.back() >= n); });
    }
    std::vector<int64_t> Seconds() const
    {
        std::lock_guard<std::mutex> g(lock_);
        return seconds_;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<int64_t> seconds_;
};

// The plan the window would make from the stored settings for source and format in the existing
// folder, with a playback device and (micPresent) a microphone; the file "rec." + format.
inline RecordingPlan MakePlan(const std::string& folder, const std::string& format, int source = kBoth,
                              bool micPresent = true)
{
    PlanOverrides o;
    o.folder = folder;
    o.format = format;
    o.source = source;
    RecordingPlan p = ResolveRecordingPlan(o, {true, micPresent}, 0).plan;
    p.folder = folder;
    p.fileName = "rec." + format;
    return p;
}

inline void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
