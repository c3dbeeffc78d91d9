// Names, bit rates and elapsed-time texts of recordings.

#include "RecordingText.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// 2020-03-15 14:30:05 local time.
std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

TEST(RecordingTextTest, FileNameIsTheLocalTimeOfTheStart)
{
    const std::time_t at = LocalTime(2020, 3, 15, 14, 30, 5);
    EXPECT_EQ(MakeRecordingFileName(at, "mp3"), QString::fromUtf8("新录音-20200315143005.mp3"));
    EXPECT_EQ(MakeRecordingFileName(at, "wav"), QString::fromUtf8("新录音-20200315143005.wav"));
    // Single-digit fields are zero-padded.
    EXPECT_EQ(MakeRecordingFileName(LocalTime(2021, 1, 2, 3, 4, 5), "mp3"),
              QString::fromUtf8("新录音-20210102030405.mp3"));
}

TEST(RecordingTextTest, ChosenNameNeverOverwritesAnEarlierRecording)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::time_t at = LocalTime(2020, 3, 15, 14, 30, 5);
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "mp3"), MakeRecordingFileName(at, "mp3"));

    // A recording of the same second exists: the next free second is taken.
    QFile taken(dir.path() + "/" + MakeRecordingFileName(at, "mp3"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.close();
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "mp3"), MakeRecordingFileName(at + 1, "mp3"));
    // The other format's name of that second is still free.
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "wav"), MakeRecordingFileName(at, "wav"));

    // Every tried second taken: no name.
    for (int i = 0; i < kRecordingNameTries; ++i) {
        QFile file(dir.path() + "/" + MakeRecordingFileName(at + i, "mp3"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(ChooseRecordingFileName(dir.path(), at, "mp3").isEmpty());
}

TEST(RecordingTextTest, BitRateFollowsTheQualityText)
{
    const struct {
        const char* text;
        int32_t bitRate;
    } cases[] = {
        {"64kbps", 64000}, {"96kbps", 96000}, {"128kbps", 128000}, {"192kbps", 192000},
        {"256kbps", 256000}, {"320kbps", 320000},
        // Anything else is 128 kbit/s, also near misses.
        {"", 128000}, {"64 kbps", 128000}, {"64KBPS", 128000}, {"512kbps", 128000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BitRateForQuality(QString::fromLatin1(c.text)), c.bitRate) << c.text;
}

TEST(RecordingTextTest, ElapsedTimeIsHoursMinutesSeconds)
{
    const struct {
        int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "00:00:00"}, {1, "00:00:01"}, {59, "00:00:59"}, {60, "00:01:00"}, {3599, "00:59:59"},
        {3600, "01:00:00"}, {3725, "01:02:05"}, {359999, "99:59:59"}, {360000, "100:00:00"},
        {-5, "00:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatElapsedTime(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
}

} // namespace
