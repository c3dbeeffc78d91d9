// Names, bit rates and elapsed-time texts of recordings.

#include "RecordingText.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ctime>

namespace {

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

TEST(RecordingTextTest, FileNameIsTheLocalTimeOfTheStartAndNeverOverwrites)
{
    const std::time_t at = LocalTime(2021, 1, 2, 3, 4, 5);
    EXPECT_EQ(MakeRecordingFileName(at, "mp3"), QString::fromUtf8("新录音-20210102030405.mp3"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "mp3"), MakeRecordingFileName(at, "mp3"));

    // A recording of the same second exists: the next free second is taken; the other format's
    // name of that second is still free.
    ASSERT_TRUE(QFile(dir.path() + "/" + MakeRecordingFileName(at, "mp3")).open(QIODevice::WriteOnly));
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "mp3"), MakeRecordingFileName(at + 1, "mp3"));
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "wav"), MakeRecordingFileName(at, "wav"));
    for (int i = 0; i < kRecordingNameTries; ++i)
        ASSERT_TRUE(QFile(dir.path() + "/" + MakeRecordingFileName(at + i, "mp3")).open(QIODevice::WriteOnly));
    EXPECT_TRUE(ChooseRecordingFileName(dir.path(), at, "mp3").isEmpty()) << "every tried second is taken";
}

TEST(RecordingTextTest, BitRateFollowsTheQualityTextAndElapsedTimeIsHoursMinutesSeconds)
{
    const struct {
        const char* text;
        int32_t bitRate;
    } rates[] = {
        {"64kbps", 64000}, {"96kbps", 96000}, {"128kbps", 128000}, {"192kbps", 192000}, {"256kbps", 256000},
        {"320kbps", 320000}, {"", 128000}, {"64 kbps", 128000}, {"512kbps", 128000}, // anything else: 128
    };
    for (const auto& c : rates)
        EXPECT_EQ(BitRateForQuality(QString::fromLatin1(c.text)), c.bitRate) << c.text;
    const struct {
        int64_t seconds;
        const char* text;
    } times[] = {{0, "00:00:00"}, {59, "00:00:59"}, {3599, "00:59:59"}, {3725, "01:02:05"}, {360000, "100:00:00"}, {-5, "00:00:00"}};
    for (const auto& c : times)
        EXPECT_EQ(FormatElapsedTime(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
}

} // namespace
