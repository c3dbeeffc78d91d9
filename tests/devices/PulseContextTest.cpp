// The process's one sound-server connection against the private server: a hung server costs one
// bounded wait, not one per call (a call that opened its own connection would wait again). (Back
// after a server restart: LevelMonitorTest and the recorder's fault tests.)

#include "DeviceTestUtil.h"
#include "PulseContext.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// The nine calls after the first on a hung server answer in milliseconds; each waiting
// PulseContext::kRequestTimeout again would take over 2 s.
constexpr double kAtOnceBoundSeconds = 1.0;

// The server's process, from the peer credentials of a connection to its socket; -1 if none.
pid_t ServerPid()
{
    const char* server = std::getenv("PULSE_SERVER");
    sockaddr_un address{AF_UNIX, {}};
    if (!server || std::strncmp(server, "unix:", 5) != 0 || std::strlen(server + 5) >= sizeof address.sun_path)
        return -1;
    std::strcpy(address.sun_path, server + 5);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ucred peer{-1, 0, 0};
    socklen_t size = sizeof peer;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size);
    if (fd >= 0)
        ::close(fd);
    return peer.pid;
}

class PulseContextTest : public SoundServerTest {};

TEST_F(PulseContextTest, AHungServerCostsOneBoundedWaitThenCallsAnswerAtOnce)
{
    PulseContext& pulse = PulseContext::Instance();
    ASSERT_TRUE(pulse.Refresh().connected);
    const uint64_t generation = pulse.Generation();
    const pid_t server = ServerPid();
    ASSERT_GT(server, 0);
    ASSERT_EQ(::kill(server, SIGSTOP), 0); // takes connections and requests, answers nothing
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{server};

    EXPECT_LT(SecondsOf([&] { EXPECT_FALSE(pulse.Refresh().connected); }), kNoServerBoundSeconds);
    EXPECT_LT(SecondsOf([&] {
        ExpectNoDevice();
        EXPECT_FALSE(pulse.SetMute(PulseDirection::kRender, 0, true));
    }), kAtOnceBoundSeconds);
    EXPECT_TRUE(pulse.Snapshot().connected); // kept: streams on it are not dropped for a slow server

    ::kill(server, SIGCONT);
    EXPECT_TRUE(Eventually([&] { return pulse.Refresh().connected; }));
    EXPECT_EQ(pulse.Generation(), generation); // the same connection answers again
    EXPECT_TRUE(SetSpeakerVolume(30));
}

} // namespace
