// Without a sound server every device function answers "no device" promptly. A process keeps one
// connection for its whole life, so this program never points it at the test server.

#include "DeadSoundServer.h"
#include "DeviceTestUtil.h"
#include "LevelMonitor.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(NoServer, EveryDeviceFunctionAnswersNoDeviceWithoutHanging)
{
    // The first connection goes to a socket that never answers (a hung server); later ones find nothing.
    ::setenv("PULSE_SERVER", "unix:/nonexistent/tamsu-no-server", 1);
    DeadSoundServer dead(DeadSoundServer::Kind::kSilentSocket);
    ASSERT_TRUE(dead.Ok());
    LevelMonitor levels;
    std::string printed;
    EXPECT_LT(SecondsOf([&] {
        printed = ExpectNoDevice(kEnumDevicesNoServer);
        levels.Start();
    }), kNoServerBoundSeconds);
    EXPECT_EQ(printed, "CoCreateInstance Failed!/nCoCreateInstance Failed!/n");
    float mic = 0, system = 0;
    levels.Levels(mic, system);
    EXPECT_EQ(std::to_string(mic) + " " + std::to_string(system), "-1.000000 -1.000000");
}
