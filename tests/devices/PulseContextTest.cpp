// The process's one sound-server connection against the private server: one client for every
// call, back after a server restart, and a hung server costs one bounded wait, not one per call.

#include "DeviceDiscovery.h"
#include "DeviceTestUtil.h"
#include "EndpointVolume.h"
#include "LevelMonitor.h"
#include "PulseContext.h"
#include "SoundServer.h"
#include "SoundServerTest.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace {

// A restarted server is back well within this; the client tries every half second.
constexpr std::chrono::seconds kComeBackBound{10};
// The six calls after the first on a hung server answer in milliseconds; each waiting
// PulseContext::kRequestTimeout again would take 1.5 s.
constexpr double kAtOnceBoundSeconds = 1.0;
// How often the level meters are looked at (they change about 25 times a second).
constexpr std::chrono::milliseconds kLevelPoll{20};

std::string SocketPath()
{
    const char* server = std::getenv("PULSE_SERVER");
    std::string path = server ? server : "";
    return path.rfind("unix:", 0) == 0 ? path.substr(5) : path;
}

// The server's process, from the peer credentials of a connection to its socket; -1 if none.
pid_t ServerPid()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = SocketPath();
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ucred peer{};
    socklen_t size = sizeof peer;
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok ? peer.pid : -1;
}

// Counts the connection's listener calls and waits on them.
class ChangeWatch {
public:
    ChangeWatch()
    {
        id_ = PulseContext::Instance().AddListener([this] {
            std::lock_guard<std::mutex> lock(mutex_);
            ++calls_;
            changed_.notify_all();
        });
    }
    ~ChangeWatch() { PulseContext::Instance().RemoveListener(id_); }

    int Calls() const { return calls_; }
    // Waits up to kComeBackBound until done holds, checking it at every call. done runs under the
    // watch's lock, which a listener call takes: it must not take the connection's Lock.
    bool WaitFor(const std::function<bool()>& done)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kComeBackBound, done);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<int> calls_{0};
    int id_ = 0;
};

class PulseContextTest : public SoundServerTest {};

TEST_F(PulseContextTest, OneClientServesEveryCall)
{
    uint64_t generation = PulseContext::Instance().Generation();
    for (int i = 0; i < 10; ++i) {
        std::vector<AudioInputDevice> list;
        EXPECT_EQ(EnumAudioInputDevices(list), kEnumDevicesFound);
        unsigned mic = 0;
        EXPECT_EQ(GetMicVolume(mic), 0);
        EXPECT_TRUE(SetMicVolume(false, 50.0f + i));
        EXPECT_TRUE(SetSpeakerVolume(50.0f + i));
        LevelMonitor monitor;
        monitor.Start();
    }
    std::string clients;
    ASSERT_EQ(SoundServer::Pactl({"list", "clients"}, &clients), 0);
    // Other test programs may use the same server: only this process's clients count.
    const std::string name = std::string("application.name = \"") + PulseContext::kClientName + "\"";
    const std::string process = "application.process.id = \"" + std::to_string(::getpid()) + "\"";
    int count = 0;
    for (size_t at = clients.find("Client #"); at != std::string::npos;) {
        size_t next = clients.find("Client #", at + 1);
        std::string client = clients.substr(at, next == std::string::npos ? std::string::npos : next - at);
        if (client.find(name) != std::string::npos && client.find(process) != std::string::npos)
            ++count;
        at = next;
    }
    EXPECT_EQ(count, 1) << clients;
    EXPECT_EQ(PulseContext::Instance().Generation(), generation);
}

TEST_F(PulseContextTest, ComesBackAfterTheServerRestarts)
{
    if (!SoundServer::Restartable())
        GTEST_SKIP() << "restarting needs the test server of scripts/sound-server.sh";
    PulseContext& pulse = PulseContext::Instance();
    ASSERT_TRUE(pulse.Refresh().connected);
    uint64_t before = pulse.Generation();
    LevelMonitor monitor;
    monitor.Start();
    ChangeWatch watch;

    ASSERT_TRUE(SoundServer::Restart());
    EXPECT_TRUE(watch.WaitFor([&] {
        PulseServerState state = pulse.Snapshot();
        return state.connected && state.generation > before;
    }));
    EXPECT_GT(pulse.Generation(), before);
    std::vector<AudioInputDevice> list;
    ASSERT_EQ(EnumAudioInputDevices(list), kEnumDevicesFound);
    EXPECT_EQ(list[0].displayName, "mic");
    EXPECT_TRUE(HasDefaultSpeaker());
    // The meters find their devices on the new connection (-1: no device).
    float mic = -1, system = -1;
    for (auto end = std::chrono::steady_clock::now() + kComeBackBound;
         (mic < 0 || system < 0) && std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(kLevelPoll))
        monitor.Levels(mic, system);
    EXPECT_GE(mic, 0);
    EXPECT_GE(system, 0);
}

TEST_F(PulseContextTest, AHungServerCostsOneBoundedWaitThenCallsAnswerAtOnce)
{
    PulseContext& pulse = PulseContext::Instance();
    ASSERT_TRUE(pulse.Refresh().connected);
    uint64_t generation = pulse.Generation();
    ChangeWatch watch;
    pid_t server = ServerPid();
    ASSERT_GT(server, 0);
    ASSERT_EQ(::kill(server, SIGSTOP), 0); // takes connections and requests, answers nothing
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{server};

    float speaker = 42;
    testing::internal::CaptureStdout();
    EXPECT_LT(SecondsOf([&] { EXPECT_FALSE(GetSpeakerVolume(speaker)); }), kNoServerBoundSeconds);
    double rest = SecondsOf([&] {
        EXPECT_FALSE(SetSpeakerVolume(30));
        unsigned mic = 7;
        EXPECT_EQ(GetMicVolume(mic), -1);
        EXPECT_FALSE(SetMicVolume(false, 30));
        std::vector<AudioInputDevice> list;
        EXPECT_EQ(EnumAudioInputDevices(list), kEnumDevicesNoServer);
        EXPECT_FALSE(pulse.SetMute(PulseDirection::kRender, 0, true));
        EXPECT_FALSE(pulse.Refresh().connected);
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetCount Failed!/nGetCount Failed!/n");
    EXPECT_LT(rest, kAtOnceBoundSeconds);
    EXPECT_EQ(speaker, 42);

    // The connection and its picture stayed (streams on it are not dropped for a slow server).
    EXPECT_TRUE(pulse.Snapshot().connected);
    int calls = watch.Calls();
    ::kill(server, SIGCONT);
    EXPECT_TRUE(watch.WaitFor([&] { return watch.Calls() > calls; })); // the probe's answer
    EXPECT_TRUE(pulse.Refresh().connected);
    EXPECT_EQ(pulse.Generation(), generation); // the same connection answers again
    EXPECT_TRUE(SetSpeakerVolume(30));
}

} // namespace
