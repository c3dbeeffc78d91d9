// Volume and mute of the default microphone and playback device against the private sound server:
// the 0..100 scale with its clamping, mute flags, namesake devices, no microphone or no device at
// all (without a server: NoServerTest.cpp; a volume set and read back: the window's options test).

#include "DeviceTestUtil.h"
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

class VolumeTest : public SoundServerTest {};

// On every channel of the default device and of its namesakes (same description), others untouched.
TEST_F(VolumeTest, MicrophoneRefusesVolumesOffTheScaleAndSpeakerClampsThem)
{
    ASSERT_GE(SoundServer::LoadModule("module-remap-source", {"master=speaker.monitor", "source_name=mic-twin",
                  SoundServer::DescriptionArg("source_properties", "Virtual Microphone")}), 0);
    ASSERT_GE(SoundServer::LoadModule("module-null-sink",
                  {"sink_name=speaker-twin", SoundServer::DescriptionArg("sink_properties", "Speaker")}), 0);
    const std::tuple<float, unsigned, bool> cases[] = {{37.0f, 24248, false}, {100.0f, kNorm, false}, {0.0f, 0, false},
        {150.0f, kNorm, false}, {100.5f, kNorm, false}, {-0.5f, 0, false}, {-20.0f, 0, false}, {20.0f, kNorm / 5, true}};
    const std::pair<std::string, const char*> devices[] = {
        {"source", "mic"}, {"source", "mic-twin"}, {"sink", "speaker"}, {"sink", "speaker-twin"}};
    for (const auto& [volume, wantRaw, mute] : cases) {
        SCOPED_TRACE(volume);
        for (const auto& [kind, name] : devices) { // a quarter, muted (the microphones unmuted for a muting row)
            Pactl({"set-" + kind + "-volume", name, std::to_string(kNorm / 4)});
            Pactl({"set-" + kind + "-mute", name, kind == "source" && mute ? "0" : "1"});
        }
        const bool onScale = volume >= 0 && volume <= 100;
        EXPECT_EQ(SetMicVolume(mute, volume), onScale);
        EXPECT_TRUE(SetSpeakerVolume(volume));
        for (const auto& [kind, name] : devices) {
            const bool mic = kind == "source";
            EXPECT_EQ(RawVolumes(kind, name), std::vector(2, mic && !onScale ? kNorm / 4 : wantRaw)) << name;
            EXPECT_EQ(Muted(kind, name), !mic || mute) << name; // the microphone's set in any case, the speaker's never
        }
    }
    EXPECT_EQ(RawVolumes("sink", "mic-feed"), std::vector(2, kNorm));
}

TEST_F(VolumeTest, WithoutAMicrophoneOrAnyDeviceEveryAnswerIsNone)
{
    ASSERT_EQ(SoundServer::Pactl({"set-default-source", "speaker.monitor"}), 0); // a monitor is no microphone
    ASSERT_TRUE(SoundServer::WaitForDefaults("speaker", "speaker.monitor"));
    unsigned volume = 7;
    EXPECT_EQ(GetMicVolume(volume), -1);
    EXPECT_EQ(volume, 7u);
    EXPECT_FALSE(SetMicVolume(false, 10));
    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    ExpectNoDevice();
}

} // namespace
