// tamsu-record's own part, run as a program without sound (--silent: what the engine records from
// the devices is the recorder tests' part): the options, a run with a pause that reads the stored
// settings and never writes them, SIGTERM, a full disk; the exit status and output of each. (A
// killed run repaired at the next start: RecorderSoundTest.)

#include "AudioAnalysis.h"
#include "FileBytes.h"
#include "Process.h"
#include "RecordOptions.h"
#include "RecordingPlan.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace {

std::vector<std::string> ToolArgs(std::vector<std::string> args)
{
    args.insert(args.begin(), TAMSU_RECORD_TOOL);
    return args;
}

// The folder's only file, named on the last line of text when there is one: 44.1 kHz stereo
// silence, decoded; a WAV's sizes count its whole frames.
DecodedAudio ExpectSilentRecording(const std::string& folder, const std::string& text = {})
{
    const auto files = std::distance(std::filesystem::directory_iterator(folder), {});
    EXPECT_EQ(files, 1) << folder;
    if (files == 0)
        return {};
    const std::string path = std::filesystem::directory_iterator(folder)->path().string();
    EXPECT_TRUE(text.empty() || text.ends_with(path + "\n")) << text;
    DecodedAudio audio;
    std::string error;
    EXPECT_TRUE(DecodeAudioFile(path, audio, &error)) << error;
    EXPECT_EQ(audio.sampleRate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_LT(RmsDb(audio.left), -90.0);
    if (path.ends_with(".wav")) {
        EXPECT_EQ(ExpectWavSizesMatchFile(path), audio.left.size()) << path;
    }
    return audio;
}

} // namespace

TEST(RecordTool, OptionsAndExitStatus2Or0ForHelp)
{
    const std::pair<const char*, int> sources[] = {{"both", kBoth}, {"mic", kMicrophone}, {"system", kSystemSound}};
    for (const auto& [name, source] : sources) {
        RecordOptions o;
        std::string error;
        ASSERT_TRUE(ParseRecordOptions({"--source", name, "--format=wav", "--pause-at", "1", "--resume-at", "2"}, o,
                                       error)) << error;
        EXPECT_EQ(o.source, source);
        EXPECT_EQ(o.format, "wav");
        EXPECT_EQ(o.pauseAt.value_or(-1) * 10 + o.resumeAt.value_or(-1), 12);
    }
    const std::vector<std::string> invalid[] = {
        {"--bogus"}, {"recording.wav"}, {"--format", "ogg"}, {"--format"}, {"--source", "speaker"},
        {"--bitrate", "100000"}, {"--bitrate=abc"}, {"--seconds", "0"}, {"--seconds", "-3"}, {"--seconds", "2x"},
        {"--silent=1"}, {"--resume-at", "2"}, {"--pause-at", "3", "--resume-at", "2", "--seconds", "5"},
        {"--pause-at", "5", "--seconds", "5"}, {"--pause-at", "1", "--resume-at", "5", "--seconds", "5"},
        {"--threshold", "-30"}, {"--voice-activated", "--threshold", "5"}, {"--voice-activated", "--silence", "nan"},
        {"--start-at", "24:00"}, {"--start-at", "7:30"}, {"--stop-after", "0"}, {"--stop-after", "2", "--seconds", "3"},
        {"--stop-at-size", "0"},
    };
    for (const std::vector<std::string>& args : invalid) {
        RecordOptions o;
        std::string error;
        EXPECT_FALSE(ParseRecordOptions(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
    // As a program: usage and exit 2 (nothing recorded), --help: usage on standard output, exit 0.
    TestEnv env;
    const std::string out = env.MakeFolder("out").toStdString();
    for (const char* arg : {"--bogus", "--help"}) {
        const bool help = std::string(arg) == "--help";
        const Process::Result run = RunProcess(ToolArgs({arg, "--output", out}));
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.code, help ? 0 : 2);
        EXPECT_NE((help ? run.out : run.err).find("Usage: tamsu-record"), std::string::npos);
        EXPECT_EQ(run.out.empty(), !help);
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

// Wall clock 3 s with a pause from 1 s to 2 s: the file holds 2 s.
TEST(RecordTool, SilentRunWithAPauseReadsButNeverWritesTheStoredSettings)
{
    TestEnv env;
    const std::string out = env.Root().toStdString() + "/out/sub"; // created by the tool
    // Settings the options contradict, and the tool's own keys out of range.
    const std::string stored = "[global]\nvoice-source=1\naudio-format=7\naudio-mute-check=0\nvoice-bitrate-index=1000\n";
    QDir().mkpath(QFileInfo(env.ConfigFile()).absolutePath());
    WriteBytes(env.ConfigFile().toStdString(), stored);

    const Process::Result run = RunProcess(ToolArgs(
        {"--silent", "--seconds", "3", "--pause-at", "1", "--resume-at", "2", "--source", "system", "--output", out}));
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("00:00:01\n"), std::string::npos) << run.out;
    EXPECT_NEAR(ExpectSilentRecording(out, run.out).Seconds(), 2.0, 0.2);
    EXPECT_EQ(ReadBytes(env.ConfigFile().toStdString()), stored);
}

// SIGTERM ends a long run early with a complete file that holds the seconds printed, and no more
// than the run.
TEST(RecordTool, SigtermStopsWithACompleteFile)
{
    TestEnv env;
    const std::string out = env.MakeFolder("out").toStdString();
    const auto started = std::chrono::steady_clock::now();
    Process tool(ToolArgs({"--silent", "--format", "wav", "--seconds", "600", "--output", out}));
    ASSERT_TRUE(tool.WaitForOutput("00:00:02\n", kProcessLimit));
    tool.Signal(SIGTERM);
    const double ran = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const Process::Result run = tool.Finish(kProcessLimit);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.code, 0) << run.err;
    const DecodedAudio audio = ExpectSilentRecording(out, run.out);
    EXPECT_GE(audio.Seconds(), 2.0);
    EXPECT_LE(audio.Seconds(), ran) << "more than it can have recorded";
}

TEST(RecordTool, FullDiskExits1WithAValidFile)
{
    TestEnv env;
    const Process::Result probe =
        RunOnTmpfs(4096, env.MakeFolder("probe").toStdString(), env.MakeFolder("probe-kept").toStdString(), {"true"});
    if (probe.code != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (as root in a private mount namespace, else in a user namespace "
                        "with unshare): " << probe.err;
    for (const auto& [format, bytes] : {std::pair{"wav", 512 * 1024}, std::pair{"mp3", 64 * 1024}}) {
        SCOPED_TRACE(format);
        const std::string disk = env.MakeFolder(QString("disk-") + format).toStdString();
        const std::string kept = env.MakeFolder(QString("kept-") + format).toStdString();
        const Process::Result run = RunOnTmpfs(bytes, disk, kept,
            ToolArgs({"--silent", "--format", format, "--bitrate", "96000", "--seconds", "30", "--output", disk}));
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.code, 1) << run.err;
        EXPECT_NE(run.err.find("磁盘空间不足，录音已停止"), std::string::npos) << run.err;
        ASSERT_FALSE(std::filesystem::is_empty(kept));
        const DecodedAudio audio = ExpectSilentRecording(kept);
        const auto size = static_cast<double>(std::filesystem::file_size(std::filesystem::directory_iterator(kept)->path()));
        EXPECT_GT(size, bytes / 2) << "far less than fit";
        if (std::string(format) == "mp3") { // frames of the bit rate asked for, whole to the end
            EXPECT_NEAR(audio.Seconds(), size * 8.0 / 96000, 0.2);
        }
    }
}
