// The recorder without capture devices ("audio-mute-check" mode): file format, length, pause,
// stop and failure of Open.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "RecorderTestUtil.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

namespace {

// True when the RIFF size and the "data" chunk size of a WAV file agree with the file and with
// the number of stereo s16 samples decoded from it (the trailer fills them in).
bool WavSizesMatch(const std::string& path, size_t decodedSamples)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    auto u32 = [&](qsizetype at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
    };
    const qsizetype data = bytes.indexOf("data", 12);
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || data < 0)
        return false;
    return u32(4) == static_cast<uint32_t>(bytes.size() - 8) && u32(data + 4) == decodedSamples * 4 &&
           data + 8 + static_cast<qsizetype>(decodedSamples) * 4 == bytes.size();
}

class RecorderSilent : public testing::Test {
protected:
    void SetUp() override
    {
        WriteConfigString("global", "audio-mute-check", "1");
        folder_ = env_.MakeFolder("out").toStdString();
    }
    TestEnv env_;
    std::string folder_;
};

} // namespace

TEST_F(RecorderSilent, WavHoldsWholePacketsOfSilenceForTheWallTime)
{
    SecondsLog owner;
    std::string path;
    {
        AudioRecorder rec(&owner);
        ASSERT_EQ(rec.Open(MakeParams(folder_, "wav")), 0);
        EXPECT_EQ(rec.GetState(), kIdle);
        rec.Run();
        SleepMs(3000);
        rec.Stop();
        path = rec.OutputPath();
    }
    DecodedAudio audio;
    std::string error;
    ASSERT_TRUE(DecodeAudioFile(path, audio, &error)) << error;
    EXPECT_EQ(audio.sampleRate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_NEAR(audio.Seconds(), 3.0, 0.1);
    EXPECT_EQ(audio.left.size() % 1024, 0u) << "not whole 1024-sample packets";
    EXPECT_LT(Rms(audio.left), 1e-6);
    EXPECT_TRUE(WavSizesMatch(path, audio.left.size()));

    // Seconds are reported in order, starting at 1 (second 0 is never posted).
    const auto secs = owner.Seconds();
    ASSERT_FALSE(secs.empty());
    EXPECT_EQ(secs.front(), 1);
    for (size_t i = 1; i < secs.size(); ++i)
        EXPECT_EQ(secs[i], secs[i - 1] + 1);
    EXPECT_GE(secs.back(), 2);
}

TEST_F(RecorderSilent, Mp3DecodesToTheRecordedLength)
{
    SecondsLog owner;
    std::string path;
    {
        AudioRecorder rec(&owner);
        auto params = MakeParams(folder_, "mp3");
        params.bitRate = 320000;
        ASSERT_EQ(rec.Open(params), 0);
        rec.Run();
        SleepMs(2500);
        rec.Stop();
        path = rec.OutputPath();
    }
    DecodedAudio audio;
    std::string error;
    ASSERT_TRUE(DecodeAudioFile(path, audio, &error)) << error;
    EXPECT_EQ(audio.sampleRate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_NEAR(audio.Seconds(), 2.5, 0.15);
}

TEST_F(RecorderSilent, PauseRemovesItsTimeAndSecondsContinue)
{
    SecondsLog owner;
    std::string path;
    int64_t beforePause = 0;
    {
        AudioRecorder rec(&owner);
        ASSERT_EQ(rec.Open(MakeParams(folder_, "wav")), 0);
        rec.Run();
        SleepMs(1500);
        rec.Pause();
        EXPECT_EQ(rec.GetState(), kPaused);
        SleepMs(100); // let the frame in progress land
        beforePause = rec.RecordedSeconds();
        const size_t reportsAtPause = owner.Seconds().size();
        SleepMs(2000);
        EXPECT_EQ(owner.Seconds().size(), reportsAtPause) << "seconds posted while paused";
        rec.Run();
        SleepMs(1500);
        rec.Stop();
        path = rec.OutputPath();
    }
    DecodedAudio audio;
    ASSERT_TRUE(DecodeAudioFile(path, audio));
    EXPECT_NEAR(audio.Seconds(), 3.0, 0.15); // 5.1 s of wall time minus the 2.1 s pause
    const auto secs = owner.Seconds();
    ASSERT_FALSE(secs.empty());
    EXPECT_EQ(beforePause, 1);
    for (size_t i = 1; i < secs.size(); ++i)
        EXPECT_EQ(secs[i], secs[i - 1] + 1) << "seconds jumped or restarted after the pause";
}

TEST_F(RecorderSilent, StopWhilePausedAndStopBeforeRunGiveCompleteFiles)
{
    for (bool runFirst : {true, false}) {
        std::string path;
        {
            AudioRecorder rec(nullptr);
            auto params = MakeParams(folder_, "wav");
            params.fileName = runFirst ? "paused.wav" : "never-run.wav";
            ASSERT_EQ(rec.Open(params), 0);
            if (runFirst) {
                rec.Run();
                SleepMs(800);
                rec.Pause();
                SleepMs(300);
            }
            rec.Stop();
            path = rec.OutputPath();
        }
        DecodedAudio audio;
        std::string error;
        ASSERT_TRUE(DecodeAudioFile(path, audio, &error)) << path << ": " << error;
        EXPECT_TRUE(WavSizesMatch(path, audio.left.size())) << path;
        if (runFirst)
            EXPECT_NEAR(audio.Seconds(), 0.8, 0.1);
        else
            EXPECT_EQ(audio.left.size(), 0u);
    }
}

TEST_F(RecorderSilent, DestroyingWithoutStopFinishesTheFile)
{
    std::string path;
    {
        AudioRecorder rec(nullptr);
        ASSERT_EQ(rec.Open(MakeParams(folder_, "mp3")), 0);
        rec.Run();
        SleepMs(1000);
        path = rec.OutputPath();
    } // the program quits while recording
    DecodedAudio audio;
    ASSERT_TRUE(DecodeAudioFile(path, audio));
    EXPECT_NEAR(audio.Seconds(), 1.0, 0.15);
}

TEST_F(RecorderSilent, OpenFailsCleanlyWhereNoFileCanBeWritten)
{
    const QString readOnly = env_.MakeFolder("read-only");
    ::chmod(readOnly.toLocal8Bit().constData(), 0555);
    struct Case {
        std::string folder;
        std::string fileName;
    } cases[] = {
        {env_.Root().toStdString() + "/missing/folder", "a.wav"},
        {readOnly.toStdString(), "a.mp3"},
        {folder_, "no-extension"},
    };
    for (const Case& c : cases) {
        if (c.folder == readOnly.toStdString() && ::geteuid() == 0)
            continue; // root writes anywhere
        AudioRecorder rec(nullptr);
        auto params = MakeParams(c.folder, "wav");
        params.fileName = c.fileName;
        EXPECT_LT(rec.Open(params), 0) << c.folder << "/" << c.fileName;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(c.folder + "/" + c.fileName)));
        // A second Open on the same recorder is refused too.
        EXPECT_LT(rec.Open(MakeParams(folder_, "wav")), 0);
    }
}
