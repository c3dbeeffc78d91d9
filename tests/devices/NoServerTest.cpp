// Without a sound server every device function answers "no device" promptly. A process keeps one
// connection for its whole life, so this program never points it at the test server.

#include "DeadSoundServer.h"
#include "DeviceDiscovery.h"
#include "DeviceTestUtil.h"
#include "EndpointVolume.h"
#include "LevelMonitor.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(NoServer, EveryDeviceFunctionAnswersNoDeviceWithoutHanging)
{
    // The first connection goes to a socket that never answers (a hung server); later ones find nothing.
    ::setenv("PULSE_SERVER", "unix:/nonexistent/tamsu-no-server", 1);
    DeadSoundServer dead(DeadSoundServer::Kind::kSilentSocket);
    ASSERT_TRUE(dead.Ok());
    std::vector<AudioInputDevice> list(1);
    QString name = "stale";
    std::string sinkMonitor = "untouched";
    int rate = -7, channels = -7;
    unsigned mic = 7;
    float speaker = 42, micLevel = 0, systemLevel = 0;
    LevelMonitor levels;
    ErrorLogCapture log;
    testing::internal::CaptureStdout();
    EXPECT_LT(SecondsOf([&] {
        EXPECT_EQ(EnumAudioInputDevices(list), kEnumDevicesNoServer);
        EXPECT_FALSE(GetDefaultMicName(name));
        EXPECT_FALSE(HasDefaultSpeaker());
        EXPECT_FALSE(GetDefaultSinkMonitor(sinkMonitor, rate, channels));
        EXPECT_EQ(GetMicVolume(mic), -1);
        EXPECT_FALSE(GetSpeakerVolume(speaker));
        EXPECT_FALSE(SetMicVolume(false, 50));
        EXPECT_FALSE(SetSpeakerVolume(50));
        levels.Start();
    }), kNoServerBoundSeconds);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CoCreateInstance Failed!/nCoCreateInstance Failed!/n");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"Get Default Audio Endpoint error"});
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(name.isEmpty());
    EXPECT_EQ(sinkMonitor + " " + std::to_string(rate) + " " + std::to_string(channels), "untouched -7 -7");
    EXPECT_EQ(mic, 7u);
    EXPECT_EQ(speaker, 42);
    levels.Levels(micLevel, systemLevel);
    EXPECT_EQ(micLevel, -1.0f);
    EXPECT_EQ(systemLevel, -1.0f);
}

} // namespace
