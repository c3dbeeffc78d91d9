// Elapsed-time texts of recordings.

#include "RecordingText.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(RecordingTextTest, ElapsedTimeIsHoursMinutesSeconds)
{
    for (const auto& [seconds, text] : {std::pair{0, "00:00:00"}, {3599, "00:59:59"}, {360000, "100:00:00"}, {-5, "00:00:00"}})
        EXPECT_EQ(FormatElapsedTime(seconds), QString::fromLatin1(text)) << seconds;
}

} // namespace
