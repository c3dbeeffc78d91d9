// The window's scheduled recording: a once schedule whose moment went by is told once and put
// off; a daily start the computer slept through is told, not made late, and the next day's waits. (When the next start falls: the schedule's own table test.)

#include "ConfigStore.h"
#include "ScheduleRunner.h"
#include "TestEnv.h"

#include <QDateTime>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(ScheduleRunnerTest, MissedStartsAreToldOnceNeverMadeLate)
{
    TestEnv env;
    int starts = 0;
    bool recording = false;
    QStringList told;
    QString next;
    ScheduleRunner::Hooks hooks;
    hooks.start = [&]() -> const char* { ++starts, recording = true; return nullptr; };
    hooks.stop = [&] { recording = false; };
    hooks.recording = [&] { return recording; };
    hooks.fileBytes = [] { return int64_t{0}; };
    hooks.tell = [&](const QString& text) { told << text; };
    hooks.nextChanged = [&](const QString& text) { next = text; };
    int64_t sleptMs = 0; // the wall clock jumps ahead by this: the computer slept
    hooks.nowMs = [&sleptMs] { return QDateTime::currentMSecsSinceEpoch() + sleptMs; };
    ScheduleRunner runner(hooks);
    const auto store = [](std::initializer_list<std::pair<const char*, QString>> values) {
        for (const auto& [key, value] : values)
            WriteConfigString("schedule", key, value);
    };

    store({{"enabled", "1"}, {"repeat", "once"}, {"date", "2020-01-01"}, {"start", "06:00"}, {"stop", "duration"},
           {"duration", "5"}});
    runner.Reload();
    runner.Reload(); // a restart: already told
    EXPECT_EQ(told, QStringList{QString::fromUtf8("已错过定时录音 06:00")});
    EXPECT_TRUE(next.isEmpty());
    EXPECT_FALSE(RecordingSchedule::Load().enabled);
    EXPECT_EQ(starts, 0);

    // A daily one at the next second, which the computer sleeps through, waking two hours later:
    // the start is told as missed, not made late; the next one is tomorrow's. (A start that is
    // made and stopped by its duration: the window's notices test.)
    const QDateTime at = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 1);
    store({{"enabled", "1"}, {"repeat", "daily"}, {"start", at.toString("HH:mm:ss")}});
    runner.Reload();
    EXPECT_EQ(next, QString::fromUtf8("下次录音 ") + at.toString("HH:mm"));
    sleptMs = 2 * 3600 * 1000;
    ASSERT_TRUE(QTest::qWaitFor([&] { return told.size() == 2; }, 5000));
    EXPECT_EQ(told.last(), QString::fromUtf8("已错过定时录音 ") + at.toString("HH:mm"));
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(runner.Next(), NextTimeOfDay(QTime(0, 0).secsTo(at.time()), at.toSecsSinceEpoch() + 1));
}

} // namespace
