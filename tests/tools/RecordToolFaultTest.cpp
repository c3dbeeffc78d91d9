// tamsu-record in trouble, run as a program against the private sound server: killed while
// recording (the next start repairs the file and names it), and a disk that fills up (exit 1, a
// valid file holding what fit). The speaker plays 440 Hz and the microphone hears 1 kHz; every run
// records both.

#include "AudioAnalysis.h"
#include "FileBytes.h"
#include "SoundPlayer.h"
#include "SoundServerTest.h"
#include "TestEnv.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace {

constexpr double kSpeakerHz = 440;
constexpr double kMicHz = 1000;
// Peak of each tone: their mix stays well below full scale.
constexpr double kToneAmplitude = 0.4;
// Two equal tones have a share of 0.5 each; this says a tone is there.
constexpr double kPresentShare = 0.2;
// The file reaches the disk once a second: a kill loses at most that.
constexpr double kKillLossSeconds = 1.0;
// MP3 runs record at this rate, so that a file's length says how long it plays.
constexpr int kMp3BitRate = 128000;

// Mounts a tmpfs of $1 bytes on $2 in the mount namespace it runs in, runs the rest of its
// arguments there, then copies what they wrote into $3 (the mount goes with the namespace).
// Exit 125: no mount; else the exit status of the command.
constexpr const char* kOnTmpfs = R"(mount -t tmpfs -o size="$1" tmpfs "$2" || exit 125
disk=$2 kept=$3
shift 3
"$@"
status=$?
cp "$disk"/* "$kept"/ 2>/dev/null
exit $status)";

class RecordToolFault : public SoundServerTest {
protected:
    void SetUp() override
    {
        SoundServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(speaker_.PlayTone(kSpeakerHz, kToneAmplitude));
        ASSERT_TRUE(mic_.PlayTone(kMicHz, kToneAmplitude));
    }
    void TearDown() override
    {
        speaker_.Close();
        mic_.Close();
        SoundServerTest::TearDown();
    }

    // A folder of the test's own.
    std::string Folder(const char* name) const { return env_.MakeFolder(name).toStdString(); }

    // Runs args on a tmpfs of bytes mounted on disk, in a mount namespace of their own (a user
    // namespace too unless root); what they wrote there is copied into kept.
    static Process::Result RunOnTmpfs(int bytes, const std::string& disk, const std::string& kept,
                                      const std::vector<std::string>& args)
    {
        std::vector<std::string> command{"unshare", "--mount", "sh", "-c", kOnTmpfs, "sh", std::to_string(bytes), disk,
                                         kept};
        if (::geteuid() != 0)
            command.insert(command.begin() + 1, {"--user", "--map-root-user"});
        command.insert(command.end(), args.begin(), args.end());
        return RunProcess(command);
    }

    TestEnv env_;
    SoundPlayer speaker_{"speaker"};
    SoundPlayer mic_{"mic-feed"};
};

// The one file in folder; empty (a failure) when there is not exactly one.
std::string OnlyFile(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path().string());
    EXPECT_EQ(files.size(), 1u) << folder;
    return files.size() == 1 ? files.front() : std::string();
}

DecodedAudio ExpectBothTones(const std::string& path)
{
    DecodedAudio a;
    std::string error;
    EXPECT_TRUE(DecodeAudioFile(path, a, &error)) << error;
    for (double freq : {kSpeakerHz, kMicHz})
        EXPECT_GT(PowerShare(a.left, a.sampleRate, freq, a.IndexAt(0.5), a.IndexAt(a.Seconds() - 0.1)), kPresentShare)
            << freq << " Hz";
    return a;
}

TEST_F(RecordToolFault, KilledRecordingIsRepairedAndNamedAtTheNextStart)
{
    // Killed as soon as it has reported this many recorded seconds.
    constexpr int kReported = 4;
    const std::string out = Folder("killed");
    const auto started = std::chrono::steady_clock::now();
    Process tool(ToolArgs({"--format", "wav", "--source", "both", "--seconds", "600", "--output", out}));
    ASSERT_TRUE(tool.WaitForOutput("00:00:0" + std::to_string(kReported) + "\n", kProcessLimit));
    tool.Signal(SIGKILL);
    // It cannot have recorded more.
    const double ranSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_FALSE(tool.Finish(kProcessLimit).exited);
    const std::string path = OnlyFile(out);
    ASSERT_FALSE(path.empty());

    const Process::Result next = RunTool({"--silent", "--seconds", "1", "--output", Folder("next")});
    EXPECT_EQ(next.code, 0) << next.err;
    EXPECT_NE(next.err.find("已恢复上次未完成的录音: " + path), std::string::npos) << next.err;
    ExpectWavSizesMatchFile(path);
    const DecodedAudio a = ExpectBothTones(path);
    EXPECT_GE(a.Seconds(), kReported - kKillLossSeconds);
    EXPECT_LE(a.Seconds(), ranSeconds);
}

TEST_F(RecordToolFault, FullDiskStopsTheRecordingWithAValidFile)
{
    const Process::Result probe = RunOnTmpfs(4096, Folder("probe"), Folder("probe-kept"), {"true"});
    if (probe.code != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (as root in a private mount namespace, else in a user namespace "
                        "with unshare): " << probe.err;
    struct Case {
        std::string format;
        int bytes; // the disk: a few seconds of sound
    };
    for (const Case& c : {Case{"wav", 512 * 1024}, Case{"mp3", 64 * 1024}}) {
        SCOPED_TRACE(c.format);
        const std::string disk = Folder(("disk-" + c.format).c_str()), kept = Folder(("kept-" + c.format).c_str());
        const Process::Result run = RunOnTmpfs(c.bytes, disk, kept,
            ToolArgs({"--format", c.format, "--bitrate", std::to_string(kMp3BitRate), "--source", "both", "--seconds",
                "30", "--output", disk}));
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.code, 1) << run.err;
        EXPECT_NE(run.err.find("磁盘空间不足，录音已停止"), std::string::npos) << run.err;

        const std::string path = OnlyFile(kept);
        ASSERT_FALSE(path.empty());
        const auto size = static_cast<double>(std::filesystem::file_size(path));
        EXPECT_GT(size, c.bytes / 2) << "far less than fit";
        const DecodedAudio a = ExpectBothTones(path);
        if (c.format == "wav")
            ExpectWavSizesMatchFile(path);
        else
            EXPECT_NEAR(a.Seconds(), size * 8.0 / kMp3BitRate, 0.2);
    }
}

} // namespace
