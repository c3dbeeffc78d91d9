// tamsu-record run as a program: silent recordings into a private folder, the printed seconds and
// path, stored settings left alone, pause/resume, a clean stop on SIGTERM, and argument errors.

#include "AudioAnalysis.h"
#include "TestEnv.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

TEST(RecordTool, SilentWavOfTwoSecondsLeavesStoredSettingsAlone)
{
    TestEnv env;
    const QString out = env.Root() + "/out/sub"; // created by the tool
    // Stored settings that the options contradict; the file must not change.
    QDir().mkpath(QFileInfo(env.ConfigFile()).absolutePath());
    QFile config(env.ConfigFile());
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    const QByteArray stored = "[global]\nvoice-source=1\naudio-format=0\naudio-mute-check=0\nvoice-bitrate-index=5\n";
    config.write(stored);
    config.close();

    const ToolRun run = RunTool({"--silent", "--format", "wav", "--seconds", "2", "--source", "system", "--output", out});
    ASSERT_TRUE(run.normalExit) << run.err.toStdString();
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.OutLines().contains("00:00:01")) << run.out.toStdString();

    const DecodedAudio audio = CheckRecording(run, out, "wav");
    EXPECT_NEAR(audio.Seconds(), 2.0, 0.15);
    EXPECT_LT(RmsDb(audio.left), -90.0); // silence

    ASSERT_TRUE(config.open(QIODevice::ReadOnly));
    EXPECT_EQ(config.readAll(), stored);
    // The run logged into the per-user log folder.
    const QDir logs(env.DataHome() + "/TamsuAudioRecorder/Log");
    EXPECT_FALSE(logs.entryList({"log.*"}, QDir::Files).isEmpty());
}

// Wall clock 3 s with a pause from 1 s to 2 s: the MP3 holds about 2 s.
TEST(RecordTool, PausedSecondIsNotRecorded)
{
    TestEnv env;
    const QString out = env.MakeFolder("out");
    const ToolRun run = RunTool({"--silent", "--format", "mp3", "--bitrate", "128000", "--seconds", "3",
                             "--pause-at", "1", "--resume-at", "2", "--output", out});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const DecodedAudio audio = CheckRecording(run, out, "mp3");
    EXPECT_NEAR(audio.Seconds(), 2.0, 0.2);
}

// SIGTERM during a long run ends it early with a complete file.
TEST(RecordTool, StopsCleanlyOnSigterm)
{
    TestEnv env;
    const QString out = env.MakeFolder("out");
    QProcess process;
    process.start(TAMSU_RECORD_TOOL, {"--silent", "--format", "wav", "--seconds", "600", "--output", out});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray printed;
    while (!printed.contains("00:00:01\n") && process.waitForReadyRead(kRunLimitMs))
        printed += process.readAllStandardOutput();
    ASSERT_TRUE(printed.contains("00:00:01\n"));
    process.terminate(); // SIGTERM
    ASSERT_TRUE(process.waitForFinished(kRunLimitMs));
    ToolRun run;
    run.exitCode = process.exitCode();
    run.normalExit = process.exitStatus() == QProcess::NormalExit;
    run.out = QString::fromUtf8(printed + process.readAllStandardOutput());
    ASSERT_TRUE(run.normalExit);
    EXPECT_EQ(run.exitCode, 0);
    const DecodedAudio audio = CheckRecording(run, out, "wav");
    // "00:00:01" was printed before the stop, so at least one whole second was recorded.
    EXPECT_GE(audio.Seconds(), 1.0) << "a second was reported that the file does not hold";
    EXPECT_LT(audio.Seconds(), 30.0);
}

TEST(RecordTool, InvalidArgumentsPrintUsageAndExit2)
{
    TestEnv env;
    const QString out = env.MakeFolder("out");
    const QStringList cases[] = {
        {"--bogus"},
        {"recording.wav"},
        {"--format", "ogg"},
        {"--format"},
        {"--source", "speaker"},
        {"--bitrate", "100000"},
        {"--bitrate=abc"},
        {"--seconds", "0"},
        {"--seconds", "-3"},
        {"--seconds", "2x"},
        {"--silent=1"},
        {"--resume-at", "2"},
        {"--pause-at", "3", "--resume-at", "2", "--seconds", "5"},
        {"--pause-at", "5", "--seconds", "5"},
        {"--pause-at", "1", "--resume-at", "5", "--seconds", "5"},
    };
    for (QStringList args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        args << "--output" << out;
        const ToolRun run = RunTool(args);
        EXPECT_TRUE(run.normalExit);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("Usage: tamsu-record"));
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_TRUE(QDir(out).isEmpty()); // nothing recorded
}

TEST(RecordTool, HelpDescribesTheTool)
{
    const ToolRun run = RunTool({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith("Usage: tamsu-record"));
    EXPECT_TRUE(run.out.contains("--pause-at"));
}

} // namespace
