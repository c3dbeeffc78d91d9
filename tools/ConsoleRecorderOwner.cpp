#include "ConsoleRecorderOwner.h"

#include <cstdio>
#include <string>

void ConsoleRecorderOwner::PostRecorderSeconds(int64_t seconds)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        reports_.push_back(seconds);
    }
    signal_.notify_one();
}

void ConsoleRecorderOwner::PostRecorderError(RecorderError error)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        error_ = error;
        stopRequested_ = true;
    }
    signal_.notify_one();
}

std::optional<RecorderError> ConsoleRecorderOwner::Error()
{
    std::lock_guard<std::mutex> guard(lock_);
    return error_;
}

void ConsoleRecorderOwner::RequestStop()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopRequested_ = true;
    }
    signal_.notify_one();
}

bool ConsoleRecorderOwner::WaitUntil(Clock::time_point deadline, std::vector<int64_t>& seconds)
{
    std::unique_lock<std::mutex> guard(lock_);
    signal_.wait_until(guard, deadline, [this] { return stopRequested_ || !reports_.empty(); });
    seconds.insert(seconds.end(), reports_.begin(), reports_.end());
    reports_.clear();
    return stopRequested_;
}

std::string ConsoleRecorderOwner::FormatSeconds(int64_t seconds)
{
    const int64_t hours = seconds / 3600;
    const int64_t minutes = (seconds - hours * 3600) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds % 60));
    return text;
}
