// tamsu-record in trouble, run as a program against the private sound server: killed while
// recording (the next start repairs the file and names it), a disk that fills up (exit 1, a valid
// file holding what fit), and damaged stored settings (the defaults apply). The speaker plays
// 440 Hz and the microphone hears 1 kHz; every run records both.

#include "AudioAnalysis.h"
#include "ConfigStore.h"
#include "SoundPlayer.h"
#include "SoundServerTest.h"
#include "TestEnv.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>

#include <unistd.h>

#include <utility>

// Thread-sanitizer builds: the tests start sound players (threads) after they have run programs
// through QProcess, whose way of starting a program the sanitizer otherwise takes for a forked
// child that goes on to start threads, and ends the test program. Unused in other builds.
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }

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

    // unshare's arguments that give a run its own mount namespace in which it may mount.
    static QStringList PrivateMounts()
    {
        if (::geteuid() == 0)
            return {"--mount"};
        return {"--user", "--map-root-user", "--mount"};
    }
    // Runs args on a tmpfs of bytes mounted on disk; what they wrote there is copied into kept.
    static ToolRun RunOnTmpfs(qint64 bytes, const QString& disk, const QString& kept, const QStringList& args)
    {
        return RunProgram("unshare", PrivateMounts() + QStringList{"sh", "-c", kOnTmpfs, "sh", QString::number(bytes),
                                                                   disk, kept} + args);
    }

    TestEnv env_;
    SoundPlayer speaker_{"speaker"};
    SoundPlayer mic_{"mic-feed"};
};

// The one file in folder; empty (a failure) when there is not exactly one.
QString OnlyFile(const QString& folder)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files);
    EXPECT_EQ(files.size(), 1) << folder.toStdString();
    return files.size() == 1 ? files.front().absoluteFilePath() : QString();
}

// The RIFF and "data" sizes of a WAV agree with its length, in whole stereo 16-bit frames.
bool WavSizesFitTheFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    const qsizetype data = bytes.indexOf("data", 12);
    if (!bytes.startsWith("RIFF") || data < 0 || bytes.size() < data + 8)
        return false;
    const auto le32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    return le32(4) == bytes.size() - 8 && le32(data + 4) == bytes.size() - data - 8 && le32(data + 4) % 4 == 0;
}

void ExpectBothTones(const DecodedAudio& a, double from, double to)
{
    for (double freq : {kSpeakerHz, kMicHz})
        EXPECT_GT(PowerShare(a.left, a.sampleRate, freq, a.IndexAt(from), a.IndexAt(to)), kPresentShare)
            << freq << " Hz over " << from << "-" << to << " s";
}

TEST_F(RecordToolFault, KilledRecordingIsRepairedAndNamedAtTheNextStart)
{
    // Killed as soon as it has reported this many recorded seconds.
    constexpr int kReported = 4;
    for (const QString format : {"wav", "mp3"}) {
        SCOPED_TRACE(format.toStdString());
        const QString out = env_.MakeFolder("killed-" + format);
        QProcess tool;
        QElapsedTimer running;
        running.start();
        tool.start(TAMSU_RECORD_TOOL, {"--format", format, "--bitrate", QString::number(kMp3BitRate), "--source",
                                       "both", "--seconds", "600", "--output", out});
        ASSERT_TRUE(tool.waitForStarted());
        const QByteArray reported = QByteArray("00:00:0") + QByteArray::number(kReported) + "\n";
        QByteArray printed;
        while (!printed.contains(reported) && tool.waitForReadyRead(kRunLimitMs))
            printed += tool.readAllStandardOutput();
        ASSERT_TRUE(printed.contains(reported)) << printed.toStdString();
        tool.kill(); // SIGKILL
        const double ranSeconds = running.elapsed() / 1000.0; // it cannot have recorded more
        ASSERT_TRUE(tool.waitForFinished(kRunLimitMs));
        ASSERT_EQ(tool.exitStatus(), QProcess::CrashExit);
        const QString path = OnlyFile(out);

        const ToolRun next = RunTool({"--silent", "--seconds", "1", "--output", env_.MakeFolder("next")});
        EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
        EXPECT_TRUE(next.err.contains(QString::fromUtf8("已恢复上次未完成的录音: ") + path)) << next.err.toStdString();

        if (format == "wav") {
            EXPECT_TRUE(WavSizesFitTheFile(path)) << "not repaired";
        }
        DecodedAudio a;
        std::string error;
        ASSERT_TRUE(DecodeAudioFile(path.toStdString(), a, &error)) << error;
        EXPECT_GE(a.Seconds(), kReported - kKillLossSeconds);
        EXPECT_LE(a.Seconds(), ranSeconds);
        ExpectBothTones(a, 0.5, a.Seconds() - 0.1);
    }
}

TEST_F(RecordToolFault, FullDiskStopsTheRecordingWithAValidFile)
{
    const ToolRun probe = RunOnTmpfs(4096, env_.MakeFolder("probe"), env_.MakeFolder("probe-kept"), {"true"});
    if (probe.exitCode != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (as root in a private mount namespace, else in a user namespace "
                        "with unshare): "
                     << probe.err.toStdString();
    struct Case {
        const char* format;
        qint64 bytes; // the disk: a few seconds of sound
    };
    for (const Case& c : {Case{"wav", 512 * 1024}, Case{"mp3", 64 * 1024}}) {
        SCOPED_TRACE(c.format);
        const QString disk = env_.MakeFolder(QString("disk-") + c.format);
        const QString kept = env_.MakeFolder(QString("kept-") + c.format);
        const ToolRun run = RunOnTmpfs(c.bytes, disk, kept,
                                       {TAMSU_RECORD_TOOL, "--format", c.format, "--bitrate", QString::number(kMp3BitRate),
                                        "--source", "both", "--seconds", "30", "--output", disk});
        EXPECT_TRUE(run.normalExit);
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8("磁盘空间不足，录音已停止"))) << run.err.toStdString();

        const QString path = OnlyFile(kept);
        const qint64 size = QFileInfo(path).size();
        EXPECT_GT(size, c.bytes / 2) << "far less than fit";
        DecodedAudio a;
        std::string error;
        ASSERT_TRUE(DecodeAudioFile(path.toStdString(), a, &error)) << error;
        if (QString(c.format) == "wav") {
            EXPECT_TRUE(WavSizesFitTheFile(path));
        } else {
            EXPECT_NEAR(a.Seconds(), size * 8.0 / kMp3BitRate, 0.2);
        }
        ExpectBothTones(a, 0.5, a.Seconds() - 0.1);
    }
}

// Every stored setting the program reads, damaged (out of range, negative, huge, not a number):
// the run records with the defaults (both sources into an MP3) and stops on time.
TEST_F(RecordToolFault, DamagedSettingsFallBackToTheirDefaults)
{
    const std::pair<const char*, const char*> damaged[] = {
        {"voice-source", "7"},           {"audio-mute-check", "-1"}, {"noise-check", "99999999999"},
        {"agc-check", "yes"},            {"voice-size", "-40"},      {"audio-format", "3"},
        {"voice-bitrate-index", "1000"},
    };
    for (const auto& [key, value] : damaged)
        ASSERT_TRUE(WriteConfigString("global", key, value));
    const QString out = env_.MakeFolder("out");
    const ToolRun run = RunTool({"--seconds", "2", "--output", out});
    ASSERT_TRUE(run.normalExit);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const DecodedAudio a = CheckRecording(run, out, "mp3");
    EXPECT_NEAR(a.Seconds(), 2.0, 0.15);
    ExpectBothTones(a, 0.3, a.Seconds() - 0.1);
}

} // namespace
