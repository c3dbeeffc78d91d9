// tamsu-record run as a program without a sound server: a silent run with a pause that reads the
// stored settings and never writes them, a clean stop on SIGTERM, and the exit status of every
// kind of argument.

#include "AudioAnalysis.h"
#include "FileBytes.h"
#include "TestEnv.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <signal.h>

namespace {

// The bit rate of an MP3 when the stored one is out of range.
constexpr double kFallbackBitRate = 128000;

// Wall clock 3 s with a pause from 1 s to 2 s: the file holds 2 s.
TEST(RecordTool, SilentRunWithAPauseReadsButNeverWritesTheStoredSettings)
{
    TestEnv env;
    const std::string out = env.Root().toStdString() + "/out/sub"; // created by the tool
    // Settings the options contradict, and the tool's own keys out of range (an MP3 at 128 kbit/s).
    const std::string stored = "[global]\nvoice-source=1\naudio-format=7\naudio-mute-check=0\nvoice-bitrate-index=1000\n";
    QDir().mkpath(QFileInfo(env.ConfigFile()).absolutePath());
    WriteBytes(env.ConfigFile().toStdString(), stored);

    const Process::Result run = RunTool(
        {"--silent", "--seconds", "3", "--pause-at", "1", "--resume-at", "2", "--source", "system", "--output", out});
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("00:00:01\n"), std::string::npos) << run.out;
    const DecodedAudio audio = CheckRecording(run, out, "mp3");
    EXPECT_NEAR(audio.Seconds(), 2.0, 0.2);
    EXPECT_LT(RmsDb(audio.left), -90.0); // silence
    EXPECT_NEAR(ReadBytes(LastLine(run.out)).size() * 8.0 / kFallbackBitRate, audio.Seconds(), 0.2);

    EXPECT_EQ(ReadBytes(env.ConfigFile().toStdString()), stored);
    // The run logged into the per-user log folder.
    EXPECT_FALSE(QDir(env.DataHome() + "/TamsuAudioRecorder/Log").entryList({"log.*"}, QDir::Files).isEmpty());
}

// SIGTERM during a long run ends it early with a complete file.
TEST(RecordTool, StopsCleanlyOnSigterm)
{
    TestEnv env;
    const std::string out = env.MakeFolder("out").toStdString();
    Process tool(ToolArgs({"--silent", "--format", "wav", "--seconds", "600", "--output", out}));
    ASSERT_TRUE(tool.WaitForOutput("00:00:01\n", kProcessLimit));
    tool.Signal(SIGTERM);
    const Process::Result run = tool.Finish(kProcessLimit);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.code, 0) << run.err;
    const DecodedAudio audio = CheckRecording(run, out, "wav");
    // "00:00:01" was printed before the stop, so at least one whole second was recorded.
    EXPECT_GE(audio.Seconds(), 1.0) << "a second was reported that the file does not hold";
    EXPECT_LT(audio.Seconds(), 30.0);
}

// Invalid arguments: usage on standard error, exit 2, nothing recorded; --help: usage on standard
// output, exit 0.
TEST(RecordTool, ArgumentsGiveUsageAndExit2OrHelpAndExit0)
{
    TestEnv env;
    const std::string out = env.MakeFolder("out").toStdString();
    const std::vector<std::string> cases[] = {
        {"--bogus"}, {"recording.wav"}, {"--format", "ogg"}, {"--format"}, {"--source", "speaker"},
        {"--bitrate", "100000"}, {"--bitrate=abc"}, {"--seconds", "0"}, {"--seconds", "-3"}, {"--seconds", "2x"},
        {"--silent=1"}, {"--resume-at", "2"}, {"--pause-at", "3", "--resume-at", "2", "--seconds", "5"},
        {"--pause-at", "5", "--seconds", "5"}, {"--pause-at", "1", "--resume-at", "5", "--seconds", "5"}, {"--help"},
    };
    for (std::vector<std::string> args : cases) {
        const bool help = args[0] == "--help";
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        args.insert(args.end(), {"--output", out});
        const Process::Result run = RunTool(args);
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.code, help ? 0 : 2);
        EXPECT_NE((help ? run.out : run.err).find("Usage: tamsu-record"), std::string::npos);
        EXPECT_EQ(run.out.empty(), !help);
    }
    EXPECT_TRUE(std::filesystem::is_empty(out)); // nothing recorded
}

} // namespace
