#pragma once
// Helpers of the device tests: error lines logged during a call, and how long a call took.

#include <glog/logging.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

// Only a bound that catches a hang: a missing server is answered at once, a hung one after a
// request's time-out (a quarter second), the very first call after at most a second.
constexpr double kNoServerBoundSeconds = 3.0;

// Collects error lines logged while it is installed.
class ErrorLogCapture : public google::LogSink {
public:
    ErrorLogCapture() { google::AddLogSink(this); }
    ~ErrorLogCapture() override { google::RemoveLogSink(this); }

    void send(google::LogSeverity severity, const char*, const char*, int, const google::LogMessageTime&,
        const char* message, size_t length) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (severity == google::GLOG_ERROR)
            lines_.emplace_back(message, length);
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

template <typename F> double SecondsOf(F&& call)
{
    auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
