// tamsu-recorder as a program: one instance per user, the log folder's clean-up, exit codes. Each
// test runs the built program on Qt's offscreen platform with its own data, home and runtime
// folders. Then the window's instance socket in-process, against requests no second start sends.

#include "InstanceServer.h"
#include "LogCleanup.h"
#include "Process.h"
#include "SingleInstance.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
    // The program's command line with args, in this test's folders (TestEnv's and the runtime
    // folder) on Qt's offscreen platform.
    std::vector<std::string> Program(std::vector<std::string> args = {}) const
    {
        args.insert(args.begin(), {"env", "XDG_RUNTIME_DIR=" + runtime_.toStdString(), "QT_QPA_PLATFORM=offscreen",
                                   "TAMSU_SKIN_DIR=" TAMSU_TEST_SKIN_DIR, TAMSU_RECORDER_PATH});
        return args;
    }

    TestEnv env_;
    const QString runtime_ = env_.MakeFolder("run");
};

TEST_F(StartupTest, SecondStartBringsTheFirstForwardAndEndsWithoutALog)
{
    Process first(Program());
    // The first instance is up once its window listens.
    ASSERT_TRUE(QTest::qWaitFor([this] { return QFileInfo::exists(runtime_ + "/TamsuAudioRecorder"); },
                                kProgramTimeoutMs));
    ASSERT_EQ(LogFiles().size(), 1);
    EXPECT_TRUE(QFileInfo::exists(runtime_ + "/TamsuAudioRecorderProcessMutex"));

    const Process::Result second = RunProcess(Program());
    EXPECT_TRUE(second.exited && second.code == 0) << second.code << second.err;
    EXPECT_EQ(LogFiles().size(), 1) << "the second start wrote a log file";
    EXPECT_TRUE(QTest::qWaitFor([this] { return LogText().contains("window brought to the front for a second start"); },
                                kProgramTimeoutMs))
        << LogText().toStdString();
    siginfo_t ended{};
    EXPECT_EQ(::waitid(P_PID, first.Pid(), &ended, WEXITED | WNOHANG | WNOWAIT), 0);
    EXPECT_EQ(ended.si_pid, 0) << "the first instance must go on";

    // Asked to end (as a session's end does), the first one closes its window and ends with 0.
    first.Signal(SIGTERM);
    const Process::Result run = first.Finish(kProcessLimit);
    EXPECT_TRUE(run.exited && run.code == 0) << run.code << run.err;
    EXPECT_TRUE(LogText().contains("TamsuAudioRecorder ended"));
}

TEST_F(StartupTest, SecondStartWhileTheFirstHasNoWindowEndsQuietly)
{
    // This test process plays the first instance that is still starting: it holds the lock, but
    // no window listens yet.
    SingleInstance holder;
    ASSERT_TRUE(holder.Acquire(runtime_ + "/TamsuAudioRecorderProcessMutex"));
    const Process::Result second = RunProcess(Program({"--quit-after-show"}));
    EXPECT_TRUE(second.exited && second.code == 0) << second.code << second.err;
    EXPECT_TRUE(second.out.empty()) << "the second start showed a window";
    EXPECT_TRUE(LogFiles().isEmpty());
}

TEST_F(StartupTest, LogFolderThatCannotBeListedEndsWithMinusOneLogsOfEarlierDaysAreRemoved)
{
    ASSERT_TRUE(QDir().mkpath(env_.DataHome() + "/TamsuAudioRecorder"));
    ASSERT_TRUE(QFile(LogFolder()).open(QIODevice::WriteOnly)); // a file where the folder should be
    const Process::Result refused = RunProcess(Program({"--quit-after-show"}));
    EXPECT_TRUE(refused.exited && refused.code == 255) << refused.code << refused.err; // -1 as an exit status
    EXPECT_TRUE(refused.out.empty()) << "a window was shown";
    ASSERT_TRUE(QFile::remove(LogFolder()));

    const QString current = "log." + TodayLogDate() + "-000001.123";
    ASSERT_TRUE(QDir().mkpath(LogFolder() + "/log.20200101-folder"));
    for (const QString& name : {current, QString("log.20200101-120000.123"), QString("a.txt"),
                                QString("log.20200101-folder/inside")})
        ASSERT_TRUE(QFile(LogFolder() + "/" + name).open(QIODevice::WriteOnly)) << name.toStdString();

    const Process::Result run = RunProcess(Program({"--quit-after-show"}));
    EXPECT_TRUE(run.exited && run.code == 0) << run.code << run.err;
    EXPECT_NE(run.out.find("main window shown "), std::string::npos);
    EXPECT_TRUE(QFileInfo::exists(LogFolder() + "/log.20200101-folder/inside")) << "folders are left alone";
    const QStringList files = LogFiles(); // today's old file and this run's own log
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains(current));
    for (const QString& name : files)
        EXPECT_TRUE(name.startsWith("log." + TodayLogDate() + "-")) << name.toStdString();
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
