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

std::vector<unsigned> Both(unsigned raw) { return {raw, raw}; }

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
    for (const auto& [volume, wantRaw, mute] : cases) {
        SCOPED_TRACE(volume);
        for (const char* mic : {"mic", "mic-twin"}) {
            Pactl({"set-source-volume", mic, std::to_string(kNorm / 4)});
            Pactl({"set-source-mute", mic, mute ? "0" : "1"});
        }
        for (const char* sink : {"speaker", "speaker-twin"}) {
            Pactl({"set-sink-volume", sink, std::to_string(kNorm / 4)});
            Pactl({"set-sink-mute", sink, "1"});
        }
        const bool onScale = volume >= 0 && volume <= 100;
        EXPECT_EQ(SetMicVolume(mute, volume), onScale);
        EXPECT_TRUE(SetSpeakerVolume(volume));
        for (const char* mic : {"mic", "mic-twin"}) {
            EXPECT_EQ(RawVolumes("source", mic), Both(onScale ? wantRaw : kNorm / 4)) << mic;
            EXPECT_EQ(Muted("source", mic), mute) << mic; // set in any case
        }
        for (const char* sink : {"speaker", "speaker-twin"}) {
            EXPECT_EQ(RawVolumes("sink", sink), Both(wantRaw)) << sink;
            EXPECT_TRUE(Muted("sink", sink)) << sink; // never touched
        }
    }
    EXPECT_EQ(RawVolumes("sink", "mic-feed"), Both(kNorm));
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
    EXPECT_EQ(ExpectNoDevice(), ""); // the server answered: no failure text
}

} // namespace
