// Without a sound server every device function answers "no device" promptly. A process keeps one
// connection for its whole life, so this program never points it at the test server.

#include "DeviceTestUtil.h"
#include "LevelMonitor.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdlib>
#include <cstring>

namespace {

// Room for many unanswered connections, so each client waits for its own time-out.
constexpr int kBacklog = 128;

} // namespace

TEST(NoServer, EveryDeviceFunctionAnswersNoDeviceWithoutHanging)
{
    // The server is a socket that takes connections and never answers (a hung server).
    TestEnv env;
    const std::string path = env.Root().toStdString() + "/native";
    sockaddr_un address{AF_UNIX, {}};
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, kBacklog), 0);
    ::setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);

    LevelMonitor levels;
    EXPECT_LT(SecondsOf([&] {
        ExpectNoDevice();
        levels.Start();
    }), kNoServerBoundSeconds);
    float mic = 0, system = 0;
    levels.Levels(mic, system);
    EXPECT_EQ(std::to_string(mic) + " " + std::to_string(system), "-1.000000 -1.000000");
}
