// The recorder without capture devices ("audio-mute-check" mode) on the real clock and file system:
// Open failures, and a recorder destroyed while recording. (Length, pause, stop and the file's
// format in silent mode: RecorderSyntheticTest.)

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "RecorderTestUtil.h"
#include "TestEnv.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

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

TEST_F(RecorderSilent, DestroyingWithoutStopFinishesTheFile)
{
    std::string path;
    {
        AudioRecorder rec(nullptr);
        ASSERT_EQ(rec.Open(MakePlan(folder_, "mp3")), 0);
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
        RecordingPlan plan;
        plan.folder = c.folder;
        plan.fileName = c.fileName;
        plan.format = "wav";
        plan.silent = true;
        EXPECT_LT(rec.Open(plan), 0) << c.folder << "/" << c.fileName;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(c.folder + "/" + c.fileName)));
        // A second Open on the same recorder is refused too.
        EXPECT_LT(rec.Open(MakePlan(folder_, "wav")), 0);
    }
}
