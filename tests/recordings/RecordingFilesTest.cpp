// Which files are recordings, their size and duration texts, the elapsed time, and the probe.

#include "FileBytes.h"
#include "MediaProbe.h"
#include "RecordingFiles.h"
#include "RecordingText.h"
#include "RecordingFilesForTest.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(RecordingFilesTest, OnlyTheFourExactExtensionsAreRecordings)
{
    const std::pair<const char*, bool> rows[] = {
        {"a.mp3", true},  {"b.WAV", true},      {"c.MP3", true},      {"d.wav", true},   {"c.Mp3", false},
        {"d.txt", false}, {"mp3", false},       {".mp3", true},       {"x.", false},     {"x.mp3.txt", false},
        {"x.txt.wav", true}, {"x.mp3 ", false}, {"x.wave", false},
    };
    for (const auto& [name, listed] : rows)
        EXPECT_EQ(IsRecordingName(QString::fromUtf8(name)), listed) << name;
}

TEST(RecordingFilesTest, SizeTextsShareOneStyleAndNeverRoundUpToTheNextUnit)
{
    const std::pair<int64_t, const char*> rows[] = {
        {0, "0 B"},          {-5, "-5 B"},         {1023, "1023 B"},           {1536, "1.5 KB"},
        {1048575, "1023.9 KB"}, {1048576, "1.0 MB"}, {1073741823, "1023.9 MB"}, {3221225472, "3.0 GB"},
    };
    for (const auto& [size, text] : rows)
        EXPECT_EQ(FormatFileSize(size), QLatin1String(text)) << size;
}

TEST(RecordingFilesTest, DurationAndElapsedTextsTruncateAndNeverGoNegative)
{
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> rows[] = {
        {3.5, "00:00:03"}, {3725.9, "01:02:05"}, {-1, "00:00:00"}, {std::nan(""), "00:00:00"},
        {-kInf, "00:00:00"}, {kInf, "00:00:00"},
    };
    for (const auto& [seconds, text] : rows)
        EXPECT_EQ(FormatDuration(seconds), QLatin1String(text)) << seconds;
    EXPECT_FALSE(FormatDuration(1e300).contains('-')) << "a huge figure stays positive";
    // The elapsed time of a recording: hours not cut at 99; a negative count (never reported) as zero.
    const std::pair<int64_t, const char*> elapsed[] = {{363725, "101:02:05"}, {3725, "01:02:05"}, {-5, "00:00:00"}};
    for (const auto& [seconds, text] : elapsed)
        EXPECT_EQ(FormatElapsedTime(seconds), QLatin1String(text)) << seconds;
}

TEST(RecordingFilesTest, ProbeAndSizeOfGoodAndBadFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("good.wav");
    ASSERT_TRUE(WriteSilentWav(wav, 3.5));
    EXPECT_NEAR(ProbeMediaDuration(wav), 3.5, 0.01);
    EXPECT_EQ(RecordingFileSize(wav), 44 + 3.5 * 44100 * 4);

    WriteBytes(dir.filePath("text.mp3").toStdString(), "not a recording at all");
    WriteBytes(dir.filePath("empty.wav").toStdString(), "");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.mp3"));
    for (const char* name : {"text.mp3", "empty.wav", "folder.mp3", "missing.wav"})
        EXPECT_EQ(ProbeMediaDuration(dir.filePath(name)), -1) << name;
    for (const char* name : {"folder.mp3", "missing.wav", "empty.wav"})
        EXPECT_EQ(RecordingFileSize(dir.filePath(name)), 0) << name;
}
