// Names, bit rates and elapsed-time texts of recordings.

#include "RecordingText.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(RecordingTextTest, FileNameIsTheLocalTimeOfTheStartAndNeverOverwrites)
{
    std::tm local{};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 2;
    local.tm_hour = 3;
    local.tm_min = 4;
    local.tm_sec = 5;
    local.tm_isdst = -1;
    const std::time_t at = std::mktime(&local);
    EXPECT_EQ(MakeRecordingFileName(at, "mp3"), QString::fromUtf8("新录音-20210102030405.mp3"));

    // Taken names: the next free second; the other format's name of that second is still free.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "mp3"), MakeRecordingFileName(at, "mp3"));
    ASSERT_TRUE(QFile(dir.path() + "/" + MakeRecordingFileName(at, "mp3")).open(QIODevice::WriteOnly));
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "mp3"), MakeRecordingFileName(at + 1, "mp3"));
    EXPECT_EQ(ChooseRecordingFileName(dir.path(), at, "wav"), MakeRecordingFileName(at, "wav"));
    for (int i = 0; i < kRecordingNameTries; ++i)
        ASSERT_TRUE(QFile(dir.path() + "/" + MakeRecordingFileName(at + i, "mp3")).open(QIODevice::WriteOnly));
    EXPECT_TRUE(ChooseRecordingFileName(dir.path(), at, "mp3").isEmpty()) << "every tried second is taken";
}

TEST(RecordingTextTest, BitRateFollowsTheQualityTextAndElapsedTimeIsHoursMinutesSeconds)
{
    // The list's entries; anything else is 128 kbit/s.
    for (const auto& [text, rate] : {std::pair{"96kbps", 96000}, {"256kbps", 256000}, {"", 128000}, {"64 kbps", 128000}})
        EXPECT_EQ(BitRateForQuality(QString::fromLatin1(text)), rate) << text;
    for (const auto& [seconds, text] : {std::pair{0, "00:00:00"}, {3599, "00:59:59"}, {360000, "100:00:00"}, {-5, "00:00:00"}})
        EXPECT_EQ(FormatElapsedTime(seconds), QString::fromLatin1(text)) << seconds;
}

} // namespace
