#pragma once
// RecordingSchedule: the scheduled recording ("定时录音"), stored in the section [schedule] of the
// configuration file, and when its next start is due.
//
//   [schedule]
//   enabled=1                 0 off
//   repeat=daily              once | daily
//   start=07:30:00            local time of day
//   date=2026-12-08           the day of a once schedule
//   stop=duration             duration | time | size
//   duration=3600             seconds (stop=duration)
//   stop-at=08:15:00          local time of day (stop=time; the first one after the start)
//   size=100                  MB, 1 MB = 1000000 bytes (stop=size)
//
// Times are local wall-clock times: a daily schedule starts at the same hour each day also across
// a change to or from daylight-saving time. A start that falls into the hour skipped in spring
// comes as late in the hour after; one that falls into the hour repeated in autumn comes at its
// first occurrence.
//
// Stateless apart from the values; Load and Store read and write the configuration file (one
// thread at a time, as every configuration access).

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct RecordingSchedule {
    enum class Repeat { kOnce, kDaily };
    enum class Stop { kAfterDuration, kAtTime, kAtSize };

    bool enabled = false;
    bool stored = false;     // Load found a whole schedule (which may be switched off)
    Repeat repeat = Repeat::kOnce;
    int startSeconds = 0;    // seconds after local midnight
    int year = 0, month = 0, day = 0; // the day of a once schedule
    Stop stop = Stop::kAfterDuration;
    int64_t durationSeconds = 3600;
    int stopAtSeconds = 0;   // seconds after local midnight
    int64_t sizeMb = 100;

    // The stored schedule, also one switched off (its values kept); a value that is missing or
    // out of range leaves the schedule disabled with the defaults (logged): a damaged schedule
    // never starts a recording at a time nobody chose.
    static RecordingSchedule Load();
    void Store() const;

    // The first start at or after from; nullopt when the schedule is off or a once schedule's
    // moment lies before from.
    std::optional<std::time_t> NextStart(std::time_t from) const;
    // When a recording started at start stops by the clock (kAfterDuration, kAtTime); nullopt
    // for kAtSize.
    std::optional<std::time_t> StopTime(std::time_t start) const;
};

// "HH:MM" or "HH:MM:SS" (00:00:00 to 23:59:59) as seconds after midnight; nullopt otherwise.
std::optional<int> ParseTimeOfDay(const std::string& text);
// Seconds after midnight as "HH:MM:SS".
std::string FormatTimeOfDay(int seconds);
// The first moment at or after from whose local time of day is seconds (see the daylight-saving
// rules above).
std::time_t NextTimeOfDay(int seconds, std::time_t from);
