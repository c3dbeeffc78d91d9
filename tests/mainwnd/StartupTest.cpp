// tamsu-recorder as a program: one instance per user, the log folder's clean-up, exit codes. Each
// test runs the built program on Qt's offscreen platform with its own data, home and runtime
// folders. Then the window's instance socket in-process, against requests no second start sends.

#include "InstanceServer.h"
#include "LogCleanup.h"
#include "SingleInstance.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// How long a test waits for the program to start, answer or end.
constexpr int kProgramTimeoutMs = 20000;

class StartupTest : public testing::Test {
protected:
    void SetUp() override { ::chmod(runtime_.toLocal8Bit().constData(), 0700); }

    QString LogFolder() const { return env_.DataHome() + "/TamsuAudioRecorder/Log"; }
    QStringList LogFiles() const { return QDir(LogFolder()).entryList(QDir::Files); } // not folders
    QString LogText() const // of the only log file
    {
        QFile file(LogFolder() + "/" + LogFiles().value(0));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    void Start(QProcess& process, const QStringList& arguments = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(); // TestEnv's folders
        environment.insert("XDG_RUNTIME_DIR", runtime_);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        if (!environment.contains("TAMSU_SKIN_DIR"))
            environment.insert("TAMSU_SKIN_DIR", TAMSU_TEST_SKIN_DIR);
        process.setProcessEnvironment(environment);
        process.start(TAMSU_RECORDER_PATH, arguments);
        ASSERT_TRUE(process.waitForStarted(kProgramTimeoutMs)) << process.errorString().toStdString();
    }
    // Runs the program to its end; its exit code (-1000 when it crashed or did not end).
    int Run(QProcess& process, const QStringList& arguments = {})
    {
        Start(process, arguments);
        if (!process.waitForFinished(kProgramTimeoutMs) || process.exitStatus() != QProcess::NormalExit)
            return -1000;
        return process.exitCode();
    }

    TestEnv env_;
    const QString runtime_ = env_.MakeFolder("run");
    QProcess first_; // killed, if still running, when the test ends
    QProcess second_;
};

TEST_F(StartupTest, SecondStartBringsTheFirstForwardAndEndsWithoutALog)
{
    Start(first_);
    // The first instance is up once its window listens.
    ASSERT_TRUE(QTest::qWaitFor([this] { return QFileInfo::exists(runtime_ + "/TamsuAudioRecorder"); },
                                kProgramTimeoutMs));
    ASSERT_EQ(LogFiles().size(), 1);
    EXPECT_TRUE(QFileInfo::exists(runtime_ + "/TamsuAudioRecorderProcessMutex"));

    EXPECT_EQ(Run(second_), 0);
    EXPECT_EQ(LogFiles().size(), 1) << "the second start wrote a log file";
    EXPECT_TRUE(QTest::qWaitFor([this] { return LogText().contains("window brought to the front for a second start"); },
                                kProgramTimeoutMs))
        << LogText().toStdString();
    EXPECT_EQ(first_.state(), QProcess::Running) << "the first instance must go on";

    // Asked to end (as a session's end does), the first one closes its window and ends with 0.
    first_.terminate();
    ASSERT_TRUE(first_.waitForFinished(kProgramTimeoutMs));
    EXPECT_EQ(first_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first_.exitCode(), 0);
    EXPECT_TRUE(LogText().contains("TamsuAudioRecorder ended"));
}

TEST_F(StartupTest, SecondStartWhileTheFirstHasNoWindowEndsQuietly)
{
    // This test process plays the first instance that is still starting: it holds the lock, but
    // no window listens yet.
    SingleInstance holder;
    ASSERT_TRUE(holder.Acquire(runtime_ + "/TamsuAudioRecorderProcessMutex"));
    EXPECT_EQ(Run(second_, {"--quit-after-show"}), 0);
    EXPECT_TRUE(second_.readAllStandardOutput().isEmpty()) << "the second start showed a window";
    EXPECT_TRUE(LogFiles().isEmpty());
}

TEST_F(StartupTest, LogFilesOfEarlierDaysAreRemovedAtStart)
{
    const QString current = "log." + TodayLogDate() + "-000001.123";
    ASSERT_TRUE(QDir().mkpath(LogFolder() + "/log.20200101-folder"));
    for (const QString& name : {current, QString("log.20200101-120000.123"), QString("a.txt"),
                                QString("log.20200101-folder/inside")})
        ASSERT_TRUE(QFile(LogFolder() + "/" + name).open(QIODevice::WriteOnly)) << name.toStdString();

    EXPECT_EQ(Run(first_, {"--quit-after-show"}), 0);
    EXPECT_TRUE(first_.readAllStandardOutput().contains("main window shown "));
    EXPECT_TRUE(QFileInfo::exists(LogFolder() + "/log.20200101-folder/inside")) << "folders are left alone";
    const QStringList files = LogFiles(); // today's old file and this run's own log
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains(current));
    for (const QString& name : files)
        EXPECT_TRUE(name.startsWith("log." + TodayLogDate() + "-")) << name.toStdString();
}

TEST_F(StartupTest, LogFolderThatCannotBeListedEndsWithMinusOne)
{
    ASSERT_TRUE(QDir().mkpath(env_.DataHome() + "/TamsuAudioRecorder"));
    ASSERT_TRUE(QFile(LogFolder()).open(QIODevice::WriteOnly)); // a file where the folder should be
    EXPECT_EQ(Run(first_, {"--quit-after-show"}), 255); // -1 as an exit status
    EXPECT_TRUE(first_.readAllStandardOutput().isEmpty()) << "a window was shown";
}

// The window's instance socket: only a second start's request brings the window forward; lines
// that are no request (also a known command with words after it, or one too long) are cut off
// without an answer and reach neither the window nor the remote commands.
TEST(InstanceServerTest, OnlyTheShowRequestIsAnsweredAndRestoresTheWindow)
{
    TestEnv env;
    const QString path = env.Root() + "/TamsuAudioRecorder";
    ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly)); // left behind by an instance that ended
    QWidget window;
    InstanceServer server(&window);
    int commands = 0;
    server.SetRemoteHandler([&commands](const RemoteRequest&) { return ++commands, RemoteAnswer{}; });
    ASSERT_TRUE(server.Listen(path));
    window.showMinimized();
    const struct {
        QByteArray request;
        QByteArray answer;
    } cases[] = {{"quit\n", ""}, {"stop format=wav\n", ""}, {QByteArray(RemoteRequest::kMaxRequestBytes + 10, 's') + "\n", ""},
                 {InstanceServer::kShowRequest, InstanceServer::kShownReply}};
    for (const auto& c : cases) {
        QLocalSocket client;
        QByteArray answer;
        QObject::connect(&client, &QLocalSocket::readyRead, [&] { answer += client.readAll(); });
        client.connectToServer(path);
        ASSERT_TRUE(client.waitForConnected(kProgramTimeoutMs));
        client.write(c.request);
        EXPECT_TRUE(QTest::qWaitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }))
            << "left connected after " << c.request.left(10).toStdString();
        EXPECT_EQ(answer + client.readAll(), c.answer);
        EXPECT_EQ(window.isMinimized(), c.answer.isEmpty());
    }
    EXPECT_EQ(commands, 0);
}

} // namespace
