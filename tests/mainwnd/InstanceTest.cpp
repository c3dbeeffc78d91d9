// The single-instance pieces inside one process: the lock and the window's local socket.

#include "InstanceServer.h"
#include "SingleInstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

constexpr int kDeliveryTimeoutMs = 5000;

TEST(InstanceTest, OnlyOneHolderOfTheLockAndWithoutALockFileNoProtection)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SingleInstance first, second, unprotected;
    EXPECT_TRUE(first.Acquire(dir.path() + "/TamsuAudioRecorderProcessMutex"));
    EXPECT_FALSE(second.Acquire(dir.path() + "/TamsuAudioRecorderProcessMutex"));
    // Without a usable lock file the program runs rather than not at all.
    EXPECT_TRUE(unprotected.Acquire(dir.path() + "/missing/folder/lock"));
}

class InstanceServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QFile(path_).open(QIODevice::WriteOnly)); // left behind by an ended instance
        ASSERT_TRUE(server_.Listen(path_));
    }

    // A second start's request from another thread while this (the UI) thread serves the socket.
    bool Activate()
    {
        std::atomic<bool> done{false};
        bool answered = false;
        std::thread client([&] {
            // The second start's thread: owns nothing; done tells the UI thread it has finished.
            answered = SingleInstance::ActivateRunningInstance(path_, kDeliveryTimeoutMs);
            done = true;
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 2 * kDeliveryTimeoutMs);
        client.join();
        return finished && answered;
    }

    QTemporaryDir dir_;
    const QString path_ = dir_.path() + "/TamsuAudioRecorder";
    QWidget window_;
    InstanceServer server_{&window_};
    QSignalSpy requests_{&server_, &InstanceServer::ShowRequested};
};

TEST_F(InstanceServerTest, ShowRequestRestoresAMinimisedOrHiddenWindow)
{
    window_.showMinimized();
    ASSERT_TRUE(Activate());
    EXPECT_TRUE(window_.isVisible());
    EXPECT_FALSE(window_.isMinimized());
    window_.hide();
    ASSERT_TRUE(Activate());
    EXPECT_TRUE(window_.isVisible());
    EXPECT_EQ(requests_.count(), 2);
}

TEST_F(InstanceServerTest, UnknownRequestIsCutOffWithoutAnAnswer)
{
    QLocalSocket client;
    client.connectToServer(path_);
    ASSERT_TRUE(client.waitForConnected(kDeliveryTimeoutMs));
    client.write("quit\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }, kDeliveryTimeoutMs));
    EXPECT_TRUE(client.readAll().isEmpty());
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(requests_.count(), 0);
}

} // namespace
