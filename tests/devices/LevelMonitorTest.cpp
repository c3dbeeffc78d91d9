// Live levels against the private sound server, also when it loses its devices and restarts.

#include "DeviceTestUtil.h"
#include "LevelMonitor.h"
#include "SoundPlayer.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

namespace {

// Peak amplitude played, and what counts as heard or quiet.
constexpr double kToneAmplitude = 0.5;
constexpr float kHeard = 0.3f;
constexpr float kQuiet = 0.05f;

class LevelMonitorTest : public SoundServerTest {};

TEST_F(LevelMonitorTest, EachMeterHearsItsSideReadsNoDeviceWithoutOneAndComesBack)
{
    SoundPlayer player("mic-feed"); // heard on "mic"; "speaker" is the default sink
    ASSERT_TRUE(player.PlayTone(440, kToneAmplitude));
    LevelMonitor monitor;
    monitor.Start();
    float mic = -1, system = -1;
    auto levelsReach = [&](const std::function<bool()>& done) {
        return Eventually([&] { return monitor.Levels(mic, system), done(); });
    };
    EXPECT_TRUE(levelsReach([&] { return mic > kHeard && system >= 0 && system < kQuiet; })) << mic << " " << system;

    player.Close(); // a stream whose sink goes away may block its writer on PipeWire
    if (SoundServer::Restartable()) { // the meters hear again on the process's new connection
        EXPECT_TRUE(levelsReach([&] { return mic >= 0 && mic < kQuiet; })) << mic;
        ASSERT_TRUE(SoundServer::Restart());
        SoundPlayer again("mic-feed");
        ASSERT_TRUE(again.PlayTone(440, kToneAmplitude));
        EXPECT_TRUE(levelsReach([&] { return mic > kHeard; })) << mic;
        unsigned volume = 0;
        EXPECT_EQ(GetMicVolume(volume), 0);
        again.Close();
    }
    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    EXPECT_TRUE(levelsReach([&] { return mic == -1 && system == -1; })) << mic << " " << system;
}

} // namespace
