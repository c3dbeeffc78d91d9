// Device discovery against the private sound server: the capture device list, the default
// microphone and playback device (without a server: NoServerTest.cpp).

#include "DeviceDiscovery.h"
#include "DeviceTestUtil.h"
#include "SoundServer.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

namespace {

class DiscoveryTest : public SoundServerTest {};

// pactl calls at the most while waiting for a new default to show (each takes milliseconds).
constexpr int kDefaultShowsTries = 100;

// Makes name the default sink or source ("sink" / "source") and waits until the server reports it:
// PipeWire's policy manager applies the choice a moment after pactl returns.
void SetDefault(const std::string& kind, const std::string& name)
{
    ASSERT_EQ(SoundServer::Pactl({"set-default-" + kind, name}), 0);
    std::string shown;
    for (int i = 0; i < kDefaultShowsTries && shown != name + "\n"; ++i)
        SoundServer::Pactl({"get-default-" + kind}, &shown);
    ASSERT_EQ(shown, name + "\n");
}

TEST_F(DiscoveryTest, ListsTheVirtualMicrophoneFirstAndNoMonitors)
{
    // A second capture device made after the first: the list keeps the server's order.
    ASSERT_GE(SoundServer::LoadModule("module-remap-source",
                  {"master=speaker.monitor", "source_name=second-mic",
                      SoundServer::DescriptionArg("source_properties", "Second Microphone")}), 0);
    std::vector<AudioInputDevice> list(3); // stale entries must go
    ASSERT_EQ(EnumAudioInputDevices(list), kEnumDevicesFound);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].friendlyName, "Virtual Microphone");
    EXPECT_EQ(list[0].displayName, "mic");
    EXPECT_EQ(list[1].friendlyName, "Second Microphone");
    EXPECT_EQ(list[1].displayName, "second-mic");
}

TEST_F(DiscoveryTest, NoCaptureDeviceGivesAnEmptyListAndTheFalseResult)
{
    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    // Only monitors left: a sink without any capture device.
    ASSERT_GE(SoundServer::LoadModule("module-null-sink", {"sink_name=speaker"}), 0);
    std::vector<AudioInputDevice> list(2);
    EXPECT_EQ(EnumAudioInputDevices(list), kEnumDevicesNone);
    EXPECT_TRUE(list.empty());
}

TEST_F(DiscoveryTest, LongNamesAreCutToTheRecordWidths)
{
    const QString ascii200(200, QChar('D'));
    const QString han200(200, QChar(0x4E2D)); // 中
    // A character outside the basic plane (two UTF-16 units) straddling the cut is dropped whole.
    const QString straddling = QString(126, QChar('a')) + QString::fromUtf8("\xF0\x9F\x98\x80") + "tail";
    const QString name127(127, QChar('n'));
    struct Case {
        const char* what;
        QString description;
        QString name;
        QString wantFriendly;
    } cases[] = {
        {"ascii", ascii200, "long-ascii", ascii200.left(127)},
        {"han", han200, "long-han", han200.left(127)},
        {"surrogate pair at the cut", straddling, "long-pair", QString(126, QChar('a'))},
        {"longest name the server takes", "Short", name127, "Short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int module = SoundServer::LoadModule("module-remap-source",
            {"master=mic-feed.monitor", "source_name=" + c.name.toStdString(),
                SoundServer::DescriptionArg("source_properties", c.description.toStdString())});
        ASSERT_GE(module, 0);
        std::vector<AudioInputDevice> list;
        ASSERT_EQ(EnumAudioInputDevices(list), kEnumDevicesFound);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[1].friendlyName, c.wantFriendly);
        EXPECT_EQ(list[1].displayName, c.name);
        EXPECT_TRUE(SoundServer::UnloadModule(module));
    }
}

TEST(CutToWidth, KeepsWholeCharactersWithinTheWidth)
{
    const QString pair = QString::fromUtf8("\xF0\x9F\x98\x80");
    EXPECT_EQ(CutToWidth(QString(300, 'x'), AudioInputDevice::kDisplayNameMax), QString(255, 'x'));
    EXPECT_EQ(CutToWidth(QString(255, 'x'), AudioInputDevice::kDisplayNameMax), QString(255, 'x'));
    EXPECT_EQ(CutToWidth(QString(254, 'x') + pair, AudioInputDevice::kDisplayNameMax), QString(254, 'x'));
    EXPECT_EQ(CutToWidth(QString(253, 'x') + pair + "y", AudioInputDevice::kDisplayNameMax), QString(253, 'x') + pair);
    EXPECT_EQ(CutToWidth("abc", 0), QString());
}

TEST_F(DiscoveryTest, DefaultMicrophoneName)
{
    QString name = "stale";
    EXPECT_TRUE(GetDefaultMicName(name));
    EXPECT_EQ(name, "Virtual Microphone");

    // A monitor as the default source is no microphone.
    SetDefault("source", "speaker.monitor");
    name = "stale";
    EXPECT_FALSE(GetDefaultMicName(name));
    EXPECT_TRUE(name.isEmpty());

    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    name = "stale";
    EXPECT_FALSE(GetDefaultMicName(name));
    EXPECT_TRUE(name.isEmpty());
}

TEST_F(DiscoveryTest, DefaultSpeakerAndItsAbsenceWithTheLogLine)
{
    {
        ErrorLogCapture log;
        EXPECT_TRUE(HasDefaultSpeaker());
        EXPECT_TRUE(log.Lines().empty());
    }
    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    {
        ErrorLogCapture log;
        EXPECT_FALSE(HasDefaultSpeaker());
        EXPECT_EQ(log.Lines(), std::vector<std::string>{"Get Default Audio Endpoint error"});
    }
    ASSERT_TRUE(SoundServer::Reset());
    EXPECT_TRUE(HasDefaultSpeaker());
}

TEST_F(DiscoveryTest, DefaultSinkMonitorFollowsTheDefaultSink)
{
    std::string monitor;
    int rate = 0, channels = 0;
    ASSERT_TRUE(GetDefaultSinkMonitor(monitor, rate, channels));
    EXPECT_EQ(monitor, "speaker.monitor");
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2);

    ASSERT_TRUE(SoundServer::Reset(48000));
    SetDefault("sink", "mic-feed");
    ASSERT_TRUE(GetDefaultSinkMonitor(monitor, rate, channels));
    EXPECT_EQ(monitor, "mic-feed.monitor");
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(channels, 2);

    ASSERT_TRUE(SoundServer::RemoveAllDevices());
    monitor = "untouched";
    rate = channels = -7;
    EXPECT_FALSE(GetDefaultSinkMonitor(monitor, rate, channels));
    EXPECT_EQ(monitor, "untouched");
    EXPECT_EQ(rate, -7);
    EXPECT_EQ(channels, -7);
}

} // namespace
