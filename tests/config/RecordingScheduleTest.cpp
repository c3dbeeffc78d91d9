// When the scheduled recording starts next, in a zone with daylight-saving time (Europe/Berlin:
// 2026-03-29 02:00 CET -> 03:00 CEST, 2026-10-25 03:00 CEST -> 02:00 CET); and a stored schedule
// that is damaged never starts.

#include "ConfigStore.h"
#include "RecordingSchedule.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <tuple>

namespace {

// Seconds since the epoch of a UTC date and time.
std::time_t Utc(int y, unsigned mo, unsigned d, int h, int mi, int s = 0)
{
    using namespace std::chrono;
    return system_clock::to_time_t(sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s));
}

class RecordingScheduleTest : public testing::Test {
protected:
    void SetUp() override
    {
        env_.Set("TZ", "Europe/Berlin");
        ::tzset();
    }
    TestEnv env_;
};

TEST_F(RecordingScheduleTest, NextStartFollowsTheLocalClock)
{
    using Repeat = RecordingSchedule::Repeat;
    const RecordingSchedule daily{.enabled = true, .repeat = Repeat::kDaily, .startSeconds = 8 * 3600}; // 08:00
    const RecordingSchedule at0230{.enabled = true, .repeat = Repeat::kDaily, .startSeconds = 2 * 3600 + 30 * 60};
    const RecordingSchedule once{.enabled = true, .startSeconds = 8 * 3600, .year = 2026, .month = 3, .day = 10};
    const RecordingSchedule off{.repeat = Repeat::kDaily, .startSeconds = 8 * 3600};
    const std::tuple<const char*, const RecordingSchedule&, std::time_t, std::optional<std::time_t>> cases[] = {
        {"later today", daily, Utc(2026, 3, 10, 6, 0), Utc(2026, 3, 10, 7, 0)}, // 08:00 CET = 07:00 UTC
        {"at that second", daily, Utc(2026, 3, 10, 7, 0), Utc(2026, 3, 10, 7, 0)},
        {"already past today", daily, Utc(2026, 3, 10, 7, 0, 1), Utc(2026, 3, 11, 7, 0)},
        {"over the spring change", daily, Utc(2026, 3, 28, 8, 0), Utc(2026, 3, 29, 6, 0)}, // 08:00 CEST
        {"over the autumn change", daily, Utc(2026, 10, 24, 7, 0), Utc(2026, 10, 25, 7, 0)}, // 08:00 CET
        {"in the skipped hour", at0230, Utc(2026, 3, 29, 0, 0), Utc(2026, 3, 29, 1, 30)}, // 03:30 CEST
        {"in the repeated hour", at0230, Utc(2026, 10, 24, 23, 0), Utc(2026, 10, 25, 0, 30)}, // first 02:30
        {"every day after that", at0230, Utc(2026, 10, 25, 0, 30, 1), Utc(2026, 10, 26, 1, 30)},
        {"once, ahead", once, Utc(2026, 3, 9, 12, 0), Utc(2026, 3, 10, 7, 0)},
        {"once, missed", once, Utc(2026, 3, 10, 7, 0, 1), std::nullopt},
        {"off", off, Utc(2026, 3, 10, 6, 0), std::nullopt},
    };
    for (const auto& [name, schedule, from, want] : cases)
        EXPECT_EQ(schedule.NextStart(from), want) << name;

    // Stop at a time of day: the first one after the start, also past midnight.
    RecordingSchedule night = daily;
    night.stop = RecordingSchedule::Stop::kAtTime;
    night.stopAtSeconds = 3600; // 01:00
    EXPECT_EQ(night.StopTime(Utc(2026, 3, 10, 22, 0)), Utc(2026, 3, 11, 0, 0));
}

TEST_F(RecordingScheduleTest, StoredScheduleRoundTripsAlsoSwitchedOffAndADamagedOneStaysOff)
{
    RecordingSchedule stored{.enabled = true, .startSeconds = 7 * 3600 + 30 * 60, .year = 2026, .month = 12, .day = 8,
                             .stop = RecordingSchedule::Stop::kAtSize, .sizeMb = 250};
    stored.Store();
    const RecordingSchedule loaded = RecordingSchedule::Load();
    EXPECT_TRUE(loaded.enabled);
    EXPECT_EQ(loaded.NextStart(0), stored.NextStart(0));
    EXPECT_EQ(loaded.stop, RecordingSchedule::Stop::kAtSize);
    EXPECT_EQ(loaded.sizeMb, 250);
    stored.enabled = false; // switched off: its values stay for the next time
    stored.Store();
    EXPECT_FALSE(RecordingSchedule::Load().enabled);
    EXPECT_EQ(RecordingSchedule::Load().sizeMb, 250);
    stored.enabled = true;

    for (const auto& [key, value] : {std::pair{"start", "7:30"}, {"date", "2026-13-01"}, {"size", "0"}, {"stop", "never"}}) {
        stored.Store();
        WriteConfigString("schedule", key, value);
        EXPECT_FALSE(RecordingSchedule::Load().enabled) << key << "=" << value;
    }
}

} // namespace
