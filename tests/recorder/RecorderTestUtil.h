#pragma once
// Helpers of the recorder tests: an owner that keeps the reported seconds, and a way to record
// for a while with optional pause.

#include "AudioRecorder.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

class SecondsLog : public RecorderOwner {
public:
    void PostRecorderSeconds(int64_t seconds) override
    {
        std::lock_guard<std::mutex> g(lock_);
        seconds_.push_back(seconds);
    }
    std::vector<int64_t> Seconds() const
    {
        std::lock_guard<std::mutex> g(lock_);
        return seconds_;
    }

private:
    mutable std::mutex lock_;
    std::vector<int64_t> seconds_;
};

inline RecordParams MakeParams(const std::string& folder, const std::string& format, bool micPresent = false)
{
    RecordParams p;
    p.folder = folder;
    p.format = format;
    p.fileName = "rec." + format;
    p.bitRate = 128000;
    p.micPresent = micPresent;
    return p;
}

inline void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
