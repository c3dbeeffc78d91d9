// Device discovery against the private sound server: the capture device list and the default
// devices; without any device, also the volume functions (without a server: NoServerTest.cpp).

#include "DeviceDiscovery.h"
#include "DeviceTestUtil.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

namespace {

class DiscoveryTest : public SoundServerTest {};

TEST_F(DiscoveryTest, ListsCaptureDevicesInServerOrderCutToTheRecordWidths)
{
    // A second capture device whose description is cut in UTF-16 units, dropping the character
    // outside the basic plane (two units) that straddles the cut.
    const QString han(126, QChar(0x4E2D));
    const QString description = han + QString::fromUtf8("\xF0\x9F\x98\x80") + "tail";
    ASSERT_GE(SoundServer::LoadModule("module-remap-source", {"master=speaker.monitor", "source_name=second-mic",
                  SoundServer::DescriptionArg("source_properties", description.toStdString())}), 0);
    std::vector<AudioInputDevice> list(3); // stale entries must go
    // (PipeWire's server tells the program of a new device a moment after pactl returns.) The
    // monitors are no capture devices.
    ASSERT_TRUE(Eventually([&] { return EnumAudioInputDevices(list) == kEnumDevicesFound && list.size() == 2; }))
        << list.size();
    EXPECT_EQ(list[0].friendlyName, "Virtual Microphone");
    EXPECT_EQ(list[0].displayName, "mic");
    EXPECT_EQ(list[1].friendlyName, han);
    EXPECT_EQ(list[1].displayName, "second-mic");
}

TEST(CutToWidth, KeepsWholeCharactersWithinTheWidth)
{
    const QString x253(253, 'x'), pair = QString::fromUtf8("\xF0\x9F\x98\x80");
    const std::pair<QString, QString> cases[] = {
        {QString(300, 'x'), QString(255, 'x')}, {x253 + "x" + pair, x253 + "x"}, {x253 + pair + "y", x253 + pair}};
    for (const auto& [text, want] : cases)
        EXPECT_EQ(CutToWidth(text, AudioInputDevice::kDisplayNameMax), want);
    EXPECT_EQ(CutToWidth("abc", 0), QString());
}

TEST_F(DiscoveryTest, DefaultDevicesFollowTheServer)
{
    QString name;
    EXPECT_TRUE(GetDefaultMicName(name));
    EXPECT_EQ(name, "Virtual Microphone");
    std::string monitor;
    int rate = 0, channels = 0;
    ASSERT_TRUE(GetDefaultSinkMonitor(monitor, rate, channels));
    EXPECT_EQ(monitor + " " + std::to_string(rate) + " " + std::to_string(channels), "speaker.monitor 44100 2");
    EXPECT_TRUE(HasDefaultSpeaker());

    ASSERT_TRUE(SoundServer::Reset(48000));
    ASSERT_EQ(SoundServer::Pactl({"set-default-sink", "mic-feed"}), 0);
    ASSERT_EQ(SoundServer::Pactl({"set-default-source", "speaker.monitor"}), 0); // a monitor is no microphone
    ASSERT_TRUE(SoundServer::WaitForDefaults("mic-feed", "speaker.monitor"));
    ASSERT_TRUE(GetDefaultSinkMonitor(monitor, rate, channels));
    EXPECT_EQ(monitor + " " + std::to_string(rate) + " " + std::to_string(channels), "mic-feed.monitor 48000 2");
    name = "stale";
    EXPECT_FALSE(GetDefaultMicName(name));
    EXPECT_TRUE(name.isEmpty());
    unsigned volume = 7;
    EXPECT_EQ(GetMicVolume(volume), -1);
    EXPECT_EQ(volume, 7u);
    EXPECT_FALSE(SetMicVolume(false, 10));
}

TEST_F(DiscoveryTest, WithoutDevicesEveryAnswerIsNone)
{
    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    EXPECT_EQ(ExpectNoDevice(kEnumDevicesNone), ""); // the server answered: no failure text
}

} // namespace
