// Volume and mute of the default microphone and playback device against the private sound server:
// the 0..100 scale with its rounding and clamping, unmuting on set, namesake devices, and what the
// functions leave alone when there is no device (without a server: NoServerTest.cpp).

#include "EndpointVolume.h"
#include "SoundServer.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// The server's normal (100 %) volume.
constexpr unsigned kNorm = 65536;

// Raw per-channel volumes of a source ("source") or sink ("sink"), as pactl reports them.
std::vector<unsigned> RawVolumes(const std::string& kind, const std::string& name)
{
    std::string out;
    EXPECT_EQ(SoundServer::Pactl({"get-" + kind + "-volume", name}, &out), 0);
    std::vector<unsigned> volumes;
    std::regex channel(R"(:\s*(\d+)\s*/)");
    for (std::sregex_iterator it(out.begin(), out.end(), channel), end; it != end; ++it) {
        volumes.push_back(static_cast<unsigned>(std::stoul((*it)[1])));
        if (volumes.size() == 2) // the "balance" line follows; stereo devices only here
            break;
    }
    return volumes;
}

bool Muted(const std::string& kind, const std::string& name)
{
    std::string out;
    EXPECT_EQ(SoundServer::Pactl({"get-" + kind + "-mute", name}, &out), 0);
    return out.find("yes") != std::string::npos;
}

void SetRaw(const std::string& kind, const std::string& name, unsigned raw)
{
    ASSERT_EQ(SoundServer::Pactl({"set-" + kind + "-volume", name, std::to_string(raw)}), 0);
}

class VolumeTest : public SoundServerTest {};

TEST_F(VolumeTest, WhatIsSetIsReadBack)
{
    // Speaker values come back as value + 0.5 and are truncated by the caller.
    for (float volume : {37.0f, 50.0f, 100.0f, 1.0f}) {
        SCOPED_TRACE(volume);
        EXPECT_TRUE(SetMicVolume(false, volume));
        unsigned mic = 999;
        EXPECT_EQ(GetMicVolume(mic), 0);
        EXPECT_EQ(mic, static_cast<unsigned>(volume));

        EXPECT_TRUE(SetSpeakerVolume(volume));
        float speaker = -1;
        EXPECT_TRUE(GetSpeakerVolume(speaker));
        EXPECT_NEAR(speaker, volume + 0.5f, 0.01); // the server keeps 1/65536 steps
        EXPECT_EQ(static_cast<int>(speaker), static_cast<int>(volume));
    }
    // Every channel is set.
    EXPECT_TRUE(SetMicVolume(false, 50));
    EXPECT_EQ(RawVolumes("source", "mic"), (std::vector<unsigned>{kNorm / 2, kNorm / 2}));
    EXPECT_TRUE(SetSpeakerVolume(50));
    EXPECT_EQ(RawVolumes("sink", "speaker"), (std::vector<unsigned>{kNorm / 2, kNorm / 2}));
}

TEST_F(VolumeTest, ReadingRoundsToTheNearestStep)
{
    struct Case {
        unsigned raw;
        unsigned wantMic;
        float wantSpeaker; // before the caller's truncation
    } cases[] = {
        {33030, 50, 50.89f},       // scalar 0.50400 -> 50
        {33162, 51, 51.10f},       // scalar 0.50601 -> 51
        {kNorm / 2, 50, 50.5f},    // 0.5 -> 50 for both
        {kNorm * 3 / 2, 100, 100.5f}, // above 100 % counts as 1.0
        {0, 0, -1.0f},             // mic: 0.5 truncated; speaker: caller's value kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        SetRaw("source", "mic", c.raw);
        SetRaw("sink", "speaker", c.raw);
        unsigned mic = 999;
        EXPECT_EQ(GetMicVolume(mic), 0);
        EXPECT_EQ(mic, c.wantMic);
        float speaker = -1.0f;
        EXPECT_EQ(GetSpeakerVolume(speaker), c.raw != 0);
        EXPECT_NEAR(speaker, c.wantSpeaker, 0.01);
    }
}

TEST_F(VolumeTest, SettingTheMicrophoneSetsItsMuteFlag)
{
    ASSERT_EQ(SoundServer::Pactl({"set-source-mute", "mic", "1"}), 0);
    ASSERT_TRUE(Muted("source", "mic"));
    EXPECT_TRUE(SetMicVolume(false, 60));
    EXPECT_FALSE(Muted("source", "mic"));
    unsigned mic = 0;
    GetMicVolume(mic);
    EXPECT_EQ(mic, 60u);

    EXPECT_TRUE(SetMicVolume(true, 20));
    EXPECT_TRUE(Muted("source", "mic"));
    GetMicVolume(mic);
    EXPECT_EQ(mic, 20u);
}

TEST_F(VolumeTest, MicrophoneVolumeOutsideTheScaleIsRefusedButMuteIsSet)
{
    EXPECT_TRUE(SetMicVolume(false, 40));
    ASSERT_EQ(SoundServer::Pactl({"set-source-mute", "mic", "1"}), 0);
    for (float volume : {150.0f, -5.0f}) {
        SCOPED_TRACE(volume);
        EXPECT_FALSE(SetMicVolume(false, volume));
        EXPECT_FALSE(Muted("source", "mic"));
        unsigned mic = 0;
        GetMicVolume(mic);
        EXPECT_EQ(mic, 40u);
    }
}

TEST_F(VolumeTest, SpeakerVolumeIsClampedToTheScale)
{
    struct Case {
        float volume;
        unsigned wantRaw;
    } cases[] = {{150.0f, kNorm}, {100.5f, kNorm}, {-20.0f, 0}, {-0.5f, 0}, {1e9f, kNorm}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volume);
        SetRaw("sink", "speaker", kNorm / 4);
        EXPECT_TRUE(SetSpeakerVolume(c.volume));
        EXPECT_EQ(RawVolumes("sink", "speaker"), (std::vector<unsigned>{c.wantRaw, c.wantRaw}));
    }
    float speaker = 0;
    SetSpeakerVolume(150);
    GetSpeakerVolume(speaker);
    EXPECT_EQ(static_cast<int>(speaker), 100);
    // Setting the speaker never touches its mute flag.
    ASSERT_EQ(SoundServer::Pactl({"set-sink-mute", "speaker", "1"}), 0);
    SetSpeakerVolume(30);
    EXPECT_TRUE(Muted("sink", "speaker"));
}

TEST_F(VolumeTest, NamesakesOfTheDefaultDeviceChangeWithIt)
{
    ASSERT_GE(SoundServer::LoadModule("module-remap-source",
                  {"master=speaker.monitor", "source_name=mic-twin",
                      SoundServer::DescriptionArg("source_properties", "Virtual Microphone")}), 0);
    ASSERT_GE(SoundServer::LoadModule("module-null-sink",
                  {"sink_name=speaker-twin", SoundServer::DescriptionArg("sink_properties", "Speaker")}), 0);
    ASSERT_EQ(SoundServer::Pactl({"set-source-mute", "mic-twin", "1"}), 0);

    EXPECT_TRUE(SetMicVolume(false, 25));
    EXPECT_TRUE(SetSpeakerVolume(75));
    const unsigned quarter = kNorm / 4, threeQuarters = kNorm * 3 / 4;
    for (const char* mic : {"mic", "mic-twin"}) {
        SCOPED_TRACE(mic);
        EXPECT_EQ(RawVolumes("source", mic), (std::vector<unsigned>{quarter, quarter}));
        EXPECT_FALSE(Muted("source", mic));
    }
    for (const char* sink : {"speaker", "speaker-twin"}) {
        SCOPED_TRACE(sink);
        EXPECT_EQ(RawVolumes("sink", sink), (std::vector<unsigned>{threeQuarters, threeQuarters}));
    }
    // Devices of other names and the monitors stay as they were.
    EXPECT_EQ(RawVolumes("sink", "mic-feed"), (std::vector<unsigned>{kNorm, kNorm}));
    EXPECT_EQ(RawVolumes("source", "speaker.monitor"), (std::vector<unsigned>{kNorm, kNorm}));
}

TEST_F(VolumeTest, WithoutADefaultDeviceNothingIsReadOrSet)
{
    // A monitor as the default source: no microphone.
    ASSERT_EQ(SoundServer::Pactl({"set-default-source", "speaker.monitor"}), 0);
    unsigned mic = 7;
    EXPECT_EQ(GetMicVolume(mic), -1);
    EXPECT_EQ(mic, 7u);
    EXPECT_FALSE(SetMicVolume(false, 10));
    EXPECT_EQ(RawVolumes("source", "speaker.monitor"), (std::vector<unsigned>{kNorm, kNorm}));
    EXPECT_EQ(RawVolumes("source", "mic"), (std::vector<unsigned>{kNorm, kNorm}));

    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    float speaker = 42;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(GetSpeakerVolume(speaker));
    EXPECT_FALSE(SetSpeakerVolume(10));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // the server answered: no failure text
    EXPECT_EQ(speaker, 42);
}

} // namespace
