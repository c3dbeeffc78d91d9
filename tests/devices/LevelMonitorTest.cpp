// Live levels against the private sound server: each meter hears its own side, follows the
// default sink, and reads -1 without devices.

#include "LevelMonitor.h"
#include "SoundPlayer.h"
#include "SoundServer.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

// The meters change about 25 times a second; the window polls them about as often.
constexpr std::chrono::milliseconds kPollInterval{20};
// A tone is heard, a device change followed, well within this on an idle server.
constexpr std::chrono::seconds kHearBound{5};
// Peak amplitude played, and what counts as heard or quiet.
constexpr double kToneAmplitude = 0.5;
constexpr float kHeard = 0.3f;
constexpr float kQuiet = 0.05f;

// Polls the levels until done(mic, system) holds or kHearBound passes; the last levels stay in mic
// and system.
bool PollLevels(const LevelMonitor& monitor, const std::function<bool(float, float)>& done, float& mic, float& system)
{
    auto deadline = std::chrono::steady_clock::now() + kHearBound;
    for (;;) {
        monitor.Levels(mic, system);
        if (done(mic, system))
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

class LevelMonitorTest : public SoundServerTest {};

TEST_F(LevelMonitorTest, EachMeterHearsItsOwnSide)
{
    struct Case {
        const char* sink;
        bool heardOnMic; // "mic" is made from "mic-feed"; "speaker" is the default sink
    } cases[] = {{"speaker", false}, {"mic-feed", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sink);
        SoundPlayer player(c.sink);
        ASSERT_TRUE(player.PlayTone(440, kToneAmplitude));
        LevelMonitor monitor;
        monitor.Start();
        float mic = -1, system = -1;
        EXPECT_TRUE(PollLevels(monitor, [&](float m, float s) { return (c.heardOnMic ? m : s) > kHeard; }, mic, system))
            << mic << " " << system;
        EXPECT_LE(mic, kToneAmplitude + 0.05);
        EXPECT_LE(system, kToneAmplitude + 0.05);
        float other = c.heardOnMic ? system : mic;
        EXPECT_GE(other, 0.0f);
        EXPECT_LT(other, kQuiet);
    }
}

TEST_F(LevelMonitorTest, FollowsTheDefaultSinkAndReadsNoDeviceWithoutOne)
{
    SoundPlayer player("mic-feed");
    ASSERT_TRUE(player.PlayTone(440, kToneAmplitude));
    LevelMonitor monitor;
    monitor.Start();
    float mic = -1, system = -1;
    ASSERT_TRUE(PollLevels(monitor, [](float m, float s) { return m > kHeard && s >= 0 && s < kQuiet; }, mic, system))
        << mic << " " << system;

    ASSERT_EQ(SoundServer::Pactl({"set-default-sink", "mic-feed"}), 0);
    EXPECT_TRUE(PollLevels(monitor, [](float, float s) { return s > kHeard; }, mic, system)) << system;

    player.Close(); // a stream whose sink goes away may block its writer on PipeWire
    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    EXPECT_TRUE(PollLevels(monitor, [](float m, float s) { return m == -1 && s == -1; }, mic, system))
        << mic << " " << system;
    monitor.Stop();
    EXPECT_FALSE(monitor.Running());
}

} // namespace
