// Without a sound server (none at the socket, or one that takes the connection and never answers)
// every device function answers "no device" promptly. A process keeps one connection for its whole
// life, so this binary never points it at a real server: PULSE_SERVER names nothing from the start.

#include "DeadSoundServer.h"
#include "DeviceDiscovery.h"
#include "DeviceTestUtil.h"
#include "EndpointVolume.h"
#include "LevelMonitor.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class NowhereEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ::setenv("PULSE_SERVER", "unix:/nonexistent/tamsu-no-server", 1); }
};
[[maybe_unused]] ::testing::Environment* const kNowhere =
    ::testing::AddGlobalTestEnvironment(new NowhereEnvironment);

class NoServerTest : public ::testing::TestWithParam<DeadSoundServer::Kind> {};

TEST_P(NoServerTest, DiscoveryAnswersNoneWithoutHanging)
{
    DeadSoundServer dead(GetParam());
    ASSERT_TRUE(dead.Ok());
    std::vector<AudioInputDevice> list(1);
    int result = 0;
    EXPECT_LT(SecondsOf([&] { result = EnumAudioInputDevices(list); }), kNoServerBoundSeconds);
    EXPECT_LT(result, 0);
    EXPECT_TRUE(list.empty());

    QString name = "stale";
    bool found = true;
    EXPECT_LT(SecondsOf([&] { found = GetDefaultMicName(name); }), kNoServerBoundSeconds);
    EXPECT_FALSE(found);
    EXPECT_TRUE(name.isEmpty());

    ErrorLogCapture log;
    found = true;
    EXPECT_LT(SecondsOf([&] { found = HasDefaultSpeaker(); }), kNoServerBoundSeconds);
    EXPECT_FALSE(found);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"Get Default Audio Endpoint error"});

    std::string monitor = "untouched";
    int rate = -7, channels = -7;
    found = true;
    EXPECT_LT(SecondsOf([&] { found = GetDefaultSinkMonitor(monitor, rate, channels); }), kNoServerBoundSeconds);
    EXPECT_FALSE(found);
    EXPECT_EQ(monitor, "untouched");
    EXPECT_EQ(rate, -7);
}

TEST_P(NoServerTest, VolumeIsNeitherReadNorSetAndTheSpeakerFunctionsSaySo)
{
    DeadSoundServer dead(GetParam());
    ASSERT_TRUE(dead.Ok());
    unsigned mic = 7;
    float speaker = 42;
    int micResult = 0;
    bool speakerRead = true, micSet = true, speakerSet = true;
    testing::internal::CaptureStdout();
    EXPECT_LT(SecondsOf([&] { micResult = GetMicVolume(mic); }), kNoServerBoundSeconds);
    EXPECT_LT(SecondsOf([&] { speakerRead = GetSpeakerVolume(speaker); }), kNoServerBoundSeconds);
    EXPECT_LT(SecondsOf([&] { micSet = SetMicVolume(false, 50); }), kNoServerBoundSeconds);
    EXPECT_LT(SecondsOf([&] { speakerSet = SetSpeakerVolume(50); }), kNoServerBoundSeconds);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CoCreateInstance Failed!/nCoCreateInstance Failed!/n");
    EXPECT_EQ(micResult, -1);
    EXPECT_EQ(mic, 7u);
    EXPECT_FALSE(speakerRead);
    EXPECT_EQ(speaker, 42);
    EXPECT_FALSE(micSet);
    EXPECT_FALSE(speakerSet);
}

TEST_P(NoServerTest, LevelsReadNoDevice)
{
    DeadSoundServer dead(GetParam());
    ASSERT_TRUE(dead.Ok());
    LevelMonitor monitor;
    EXPECT_LT(SecondsOf([&] { monitor.Start(); }), kNoServerBoundSeconds);
    float mic = 0, system = 0;
    monitor.Levels(mic, system);
    EXPECT_EQ(mic, -1.0f);
    EXPECT_EQ(system, -1.0f);
    EXPECT_TRUE(monitor.Running());
    monitor.Stop();
    EXPECT_FALSE(monitor.Running());
}

INSTANTIATE_TEST_SUITE_P(DeadServers, NoServerTest,
    ::testing::Values(DeadSoundServer::Kind::kNoSocket, DeadSoundServer::Kind::kSilentSocket),
    [](const auto& info) { return DeadSoundServer::KindName(info.param); });

} // namespace
