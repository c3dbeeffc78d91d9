// Volume and mute of the default microphone and playback device against the private sound server:
// the 0..100 scale with its rounding and clamping, mute flags, namesake devices (without a
// microphone or any device: DeviceDiscoveryTest.cpp).

#include "EndpointVolume.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

#include <regex>
#include <tuple>

namespace {

// The server's normal (100 %) volume.
constexpr unsigned kNorm = 65536;

// pactl's output, expecting it to succeed.
std::string Pactl(const std::vector<std::string>& args)
{
    std::string out;
    EXPECT_EQ(SoundServer::Pactl(args, &out), 0) << args[0];
    return out;
}

// Raw volumes of the two channels of a source ("source") or sink ("sink").
std::vector<unsigned> RawVolumes(const std::string& kind, const std::string& name)
{
    const std::string out = Pactl({"get-" + kind + "-volume", name});
    std::vector<unsigned> volumes;
    std::regex channel(R"(:\s*(\d+)\s*/)");
    for (std::sregex_iterator it(out.begin(), out.end(), channel), end; it != end && volumes.size() < 2; ++it)
        volumes.push_back(static_cast<unsigned>(std::stoul((*it)[1])));
    return volumes;
}

bool Muted(const std::string& kind, const std::string& name)
{
    return Pactl({"get-" + kind + "-mute", name}).find("yes") != std::string::npos;
}

std::vector<unsigned> Both(unsigned raw) { return {raw, raw}; }

class VolumeTest : public SoundServerTest {};

TEST_F(VolumeTest, SetActsOnEveryChannelOfTheDefaultDeviceAndItsNamesakes)
{
    ASSERT_GE(SoundServer::LoadModule("module-remap-source", {"master=speaker.monitor", "source_name=mic-twin",
                  SoundServer::DescriptionArg("source_properties", "Virtual Microphone")}), 0);
    ASSERT_GE(SoundServer::LoadModule("module-null-sink",
                  {"sink_name=speaker-twin", SoundServer::DescriptionArg("sink_properties", "Speaker")}), 0);
    Pactl({"set-source-mute", "mic", "1"});
    Pactl({"set-source-mute", "mic-twin", "1"});
    EXPECT_TRUE(SetMicVolume(false, 25));
    EXPECT_TRUE(SetSpeakerVolume(75));
    for (const char* mic : {"mic", "mic-twin"}) {
        EXPECT_EQ(RawVolumes("source", mic), Both(kNorm / 4)) << mic;
        EXPECT_FALSE(Muted("source", mic)) << mic;
    }
    for (const char* sink : {"speaker", "speaker-twin"})
        EXPECT_EQ(RawVolumes("sink", sink), Both(kNorm * 3 / 4)) << sink;
    EXPECT_EQ(RawVolumes("sink", "mic-feed"), Both(kNorm)); // other names stay as they were
    EXPECT_TRUE(SetMicVolume(true, 20));
    EXPECT_TRUE(Muted("source", "mic"));
}

TEST_F(VolumeTest, ReadingRoundsToTheNearestStep)
{
    // Raw volume; the microphone's reading; the speaker's before the caller's truncation.
    const std::tuple<unsigned, unsigned, float> cases[] = {{33030, 50, 50.89f}, {33162, 51, 51.10f},
        {kNorm / 2, 50, 50.5f}, {kNorm * 3 / 2, 100, 100.5f} /* above 100 % */, {0, 0, -1.0f} /* speaker: kept */};
    for (const auto& [raw, wantMic, wantSpeaker] : cases) {
        SCOPED_TRACE(raw);
        Pactl({"set-source-volume", "mic", std::to_string(raw)});
        Pactl({"set-sink-volume", "speaker", std::to_string(raw)});
        unsigned mic = 999;
        EXPECT_EQ(GetMicVolume(mic), 0);
        EXPECT_EQ(mic, wantMic);
        float speaker = -1.0f;
        EXPECT_EQ(GetSpeakerVolume(speaker), raw != 0);
        EXPECT_NEAR(speaker, wantSpeaker, 0.01);
    }
}

TEST_F(VolumeTest, MicrophoneRefusesVolumesOffTheScaleAndSpeakerClampsThem)
{
    const std::pair<float, unsigned> cases[] = {
        {37.0f, 24248}, {100.0f, kNorm}, {0.0f, 0}, {150.0f, kNorm}, {100.5f, kNorm}, {-0.5f, 0}, {-20.0f, 0}};
    for (const auto& [volume, wantRaw] : cases) {
        SCOPED_TRACE(volume);
        Pactl({"set-source-volume", "mic", std::to_string(kNorm / 4)});
        Pactl({"set-sink-volume", "speaker", std::to_string(kNorm / 4)});
        Pactl({"set-source-mute", "mic", "1"});
        Pactl({"set-sink-mute", "speaker", "1"});
        const bool onScale = volume >= 0 && volume <= 100;
        EXPECT_EQ(SetMicVolume(false, volume), onScale);
        EXPECT_EQ(RawVolumes("source", "mic"), Both(onScale ? wantRaw : kNorm / 4));
        EXPECT_FALSE(Muted("source", "mic")); // set in any case
        EXPECT_TRUE(SetSpeakerVolume(volume));
        EXPECT_EQ(RawVolumes("sink", "speaker"), Both(wantRaw));
        EXPECT_TRUE(Muted("sink", "speaker")); // never touched
    }
}

} // namespace
