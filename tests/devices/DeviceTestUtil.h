#pragma once
// Helpers of the device tests: error lines logged during a call, the answers without a device,
// waiting for a condition, and how long a call took.

#include "DeviceDiscovery.h"
#include "EndpointVolume.h"

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Only a bound that catches a hang: a missing server is answered at once, a hung one after a
// request's time-out (a quarter second), the very first call after at most a second.
constexpr double kNoServerBoundSeconds = 3.0;
// A tone is heard, a device change followed, a restarted server back well within this.
constexpr std::chrono::seconds kSettleBound{10};
// How often a condition is looked at while waiting (the level meters change about 25 times a second).
constexpr std::chrono::milliseconds kPollInterval{20};

// Collects the error lines logged while it is installed.
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

// Checks that every discovery and volume function answers "no device" (discovery: enumResult),
// logs its error line and leaves the caller's values alone; returns what they printed.
inline std::string ExpectNoDevice(int enumResult)
{
    std::vector<AudioInputDevice> list(1);
    QString name = "stale";
    std::string monitor = "untouched";
    int rate = -7, channels = -7;
    unsigned mic = 7;
    float speaker = 42;
    ErrorLogCapture log;
    testing::internal::CaptureStdout();
    EXPECT_EQ(EnumAudioInputDevices(list), enumResult);
    EXPECT_FALSE(GetDefaultMicName(name));
    EXPECT_FALSE(HasDefaultSpeaker());
    EXPECT_FALSE(GetDefaultSinkMonitor(monitor, rate, channels));
    EXPECT_EQ(GetMicVolume(mic), -1);
    EXPECT_FALSE(GetSpeakerVolume(speaker));
    EXPECT_FALSE(SetMicVolume(false, 50));
    EXPECT_FALSE(SetSpeakerVolume(50));
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"Get Default Audio Endpoint error"});
    EXPECT_TRUE(list.empty() && name.isEmpty());
    EXPECT_EQ(monitor + " " + std::to_string(rate) + " " + std::to_string(channels), "untouched -7 -7");
    EXPECT_EQ(std::to_string(mic) + " " + std::to_string(speaker), "7 42.000000");
    return printed;
}

// True once done() holds; false when it still does not after kSettleBound.
inline bool Eventually(const std::function<bool()>& done)
{
    for (auto end = std::chrono::steady_clock::now() + kSettleBound; !done(); std::this_thread::sleep_for(kPollInterval))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

template <typename F> double SecondsOf(F&& call)
{
    auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
