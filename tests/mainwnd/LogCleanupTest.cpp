// The clean-up of the log folder at start-up.

#include "LogCleanup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void Touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(LogCleanupTest, TodayIsEightDigits)
{
    EXPECT_TRUE(QRegularExpression("^20\\d{6}$").match(TodayLogDate()).hasMatch()) << TodayLogDate().toStdString();
}

TEST(LogCleanupTest, OnlyTodaysFilesAndFoldersStay)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path();
    const QString today = "20240612";
    const struct {
        const char* name;
        bool folder;
        bool stays;
    } entries[] = {
        {"log.20240612-093015.4711", false, true},   // written today
        {"log.20240611-235959.4711", false, false},  // yesterday
        {"log.20230612-093015.4711", false, false},  // a year ago, same day
        {"a.txt", false, false},                     // too short to hold a date
        {"notes20240612.txt", false, false},         // the date elsewhere in the name
        {"xxx.20240612", false, true},               // any file with today at characters 5..12
        {"log.20240101-old", true, true},            // folders are left alone
        {"log.20240612-093015.4711.d", true, true},
    };
    for (const auto& e : entries) {
        if (e.folder)
            ASSERT_TRUE(QDir(folder).mkdir(e.name));
        else
            Touch(folder + "/" + e.name);
    }
    Touch(folder + "/log.20240101-old/inside");

    ASSERT_EQ(CleanOldLogFiles(folder, today), 0);
    for (const auto& e : entries)
        EXPECT_EQ(QFileInfo::exists(folder + "/" + e.name), e.stays) << e.name;
    EXPECT_TRUE(QFileInfo::exists(folder + "/log.20240101-old/inside")) << "folders are not entered";
}

TEST(LogCleanupTest, AFolderThatCannotBeListedFails)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(CleanOldLogFiles(dir.path() + "/missing", "20240612"), -1);
    Touch(dir.path() + "/plain-file");
    EXPECT_EQ(CleanOldLogFiles(dir.path() + "/plain-file", "20240612"), -1);
    EXPECT_TRUE(QFileInfo::exists(dir.path() + "/plain-file"));
}

} // namespace
