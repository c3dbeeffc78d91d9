// The single-instance pieces inside one process: the lock and the window's local socket.

#include "InstanceServer.h"
#include "SingleInstance.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kDeliveryTimeoutMs = 5000;

// Runs the blocking client on a thread while this (the UI) thread serves the socket.
bool ActivateFromAnotherThread(const QString& path)
{
    std::atomic<bool> done{false};
    bool answered = false;
    std::thread client([&] {
        answered = SingleInstance::ActivateRunningInstance(path, kDeliveryTimeoutMs);
        done = true;
    });
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, 2 * kDeliveryTimeoutMs);
    client.join();
    return finished && answered;
}

TEST(InstanceTest, OnlyOneHolderOfTheLock)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString lock = dir.path() + "/TamsuAudioRecorderProcessMutex";
    SingleInstance first;
    SingleInstance second;
    EXPECT_TRUE(first.Acquire(lock));
    EXPECT_FALSE(second.Acquire(lock));
    // Without a usable lock file the program runs unprotected rather than not at all.
    SingleInstance unprotected;
    EXPECT_TRUE(unprotected.Acquire(dir.path() + "/missing/folder/lock"));
}

TEST(InstanceTest, NothingListeningMeansNoAnswer)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_FALSE(SingleInstance::ActivateRunningInstance(dir.path() + "/TamsuAudioRecorder", 1000));
}

TEST(InstanceTest, ShowRequestRestoresAMinimisedOrHiddenWindow)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/TamsuAudioRecorder";
    // A socket file left behind by an instance that ended is replaced.
    {
        QFile stale(path);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    QWidget window;
    InstanceServer server(&window);
    ASSERT_TRUE(server.Listen(path));
    QSignalSpy requests(&server, &InstanceServer::ShowRequested);

    window.showMinimized();
    ASSERT_TRUE(ActivateFromAnotherThread(path));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    window.hide();
    ASSERT_TRUE(ActivateFromAnotherThread(path));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(requests.count(), 2);
}

TEST(InstanceTest, UnknownRequestIsCutOff)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/TamsuAudioRecorder";
    QWidget window;
    InstanceServer server(&window);
    ASSERT_TRUE(server.Listen(path));
    QSignalSpy requests(&server, &InstanceServer::ShowRequested);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::memcpy(address.sun_path, encoded.constData(), static_cast<size_t>(encoded.size()));
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const char request[] = "quit\n";
    ASSERT_EQ(::send(fd, request, sizeof request - 1, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof request - 1));

    // The server closes the connection without an answer.
    char buffer[16];
    ssize_t received = -1;
    const bool closed = QTest::qWaitFor(
        [&] {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 0) <= 0)
                return false;
            received = ::recv(fd, buffer, sizeof buffer, 0);
            return true;
        },
        kDeliveryTimeoutMs);
    ::close(fd);
    EXPECT_TRUE(closed);
    EXPECT_EQ(received, 0);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(requests.count(), 0);
}

} // namespace
