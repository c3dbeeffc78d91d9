#pragma once
// Helpers of the device tests: the answers without a device, waiting for a condition, and how long
// a call took.

#include "EndpointVolume.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

// Only a bound that catches a hang: a missing server is answered at once, a hung one after a
// request's time-out (a quarter second), the very first call after at most a second.
constexpr double kNoServerBoundSeconds = 3.0;
// A tone is heard, a device change followed, a restarted server back well within this.
constexpr std::chrono::seconds kSettleBound{10};
// How often a condition is looked at while waiting (the level meters change about 25 times a second).
constexpr std::chrono::milliseconds kPollInterval{20};

// Checks that every volume function answers "no device" and leaves the caller's values alone.
inline void ExpectNoDevice()
{
    unsigned mic = 7;
    float speaker = 42;
    EXPECT_EQ(GetMicVolume(mic), -1);
    EXPECT_FALSE(GetSpeakerVolume(speaker));
    EXPECT_FALSE(SetMicVolume(false, 50));
    EXPECT_FALSE(SetSpeakerVolume(50));
    EXPECT_EQ(std::to_string(mic) + " " + std::to_string(speaker), "7 42.000000");
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
