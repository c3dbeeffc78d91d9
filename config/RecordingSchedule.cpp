#include "RecordingSchedule.h"

#include "ConfigStore.h"

#include <glog/logging.h>

#include <QString>

#include <charconv>
#include <cstdio>

namespace {

constexpr const char* kSection = "schedule";
// Longest stored text looked at: a date or a number of the ranges below never needs more.
constexpr int kValueCapacity = 32;
// A scheduled recording lasts at most 24 hours, and a size rule stops at most at 100 GB: beyond
// both lies a mistyped value, not a plan.
constexpr int64_t kMaxDurationSeconds = 24 * 3600;
constexpr int64_t kMaxSizeMb = 100000;

std::string Stored(const char* key)
{
    QString text;
    ReadConfigString(kSection, key, QString(), text, kValueCapacity);
    return text.trimmed().toStdString();
}

std::optional<int64_t> Number(const std::string& text, int64_t lo, int64_t hi)
{
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < lo || value > hi)
        return std::nullopt;
    return value;
}

// mktime of the local day and time of day, at its first occurrence; in the hour skipped in spring
// as late in the hour after.
std::time_t LocalMoment(int year, int month, int day, int seconds)
{
    const auto at = [&](int dst) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = seconds / 3600;
        tm.tm_min = seconds / 60 % 60;
        tm.tm_sec = seconds % 60;
        tm.tm_isdst = dst;
        return std::mktime(&tm);
    };
    std::optional<std::time_t> best;
    for (int dst : {0, 1}) {
        const std::time_t t = at(dst);
        std::tm back{};
        localtime_r(&t, &back);
        const bool exists = back.tm_mday == day && back.tm_hour * 3600 + back.tm_min * 60 + back.tm_sec == seconds;
        if (t != -1 && exists && (!best || t < *best))
            best = t;
    }
    // None: the skipped hour. Read as standard time, the moment lands in the hour after it.
    return best ? *best : at(0);
}

} // namespace

std::optional<int> ParseTimeOfDay(const std::string& text)
{
    int h = 0, m = 0, s = 0;
    char tail = 0;
    const int n = std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail);
    const bool shape = (text.size() == 5 && n == 2) || (text.size() == 8 && n == 3);
    if (!shape || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)
        return std::nullopt;
    return h * 3600 + m * 60 + s;
}

std::string FormatTimeOfDay(int seconds)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
    return text;
}

std::time_t NextTimeOfDay(int seconds, std::time_t from)
{
    std::tm today{};
    localtime_r(&from, &today);
    for (int ahead = 0;; ++ahead) {
        std::tm day = today;
        day.tm_mday += ahead;
        day.tm_hour = 12; // noon: the day itself, whatever the clock does at night
        day.tm_isdst = -1;
        std::mktime(&day);
        const std::time_t t = LocalMoment(day.tm_year + 1900, day.tm_mon + 1, day.tm_mday, seconds);
        if (t >= from)
            return t;
    }
}

std::optional<std::time_t> RecordingSchedule::NextStart(std::time_t from) const
{
    if (!enabled)
        return std::nullopt;
    if (repeat == Repeat::kDaily)
        return NextTimeOfDay(startSeconds, from);
    const std::time_t at = LocalMoment(year, month, day, startSeconds);
    if (at < from)
        return std::nullopt;
    return at;
}

std::optional<std::time_t> RecordingSchedule::StopTime(std::time_t start) const
{
    switch (stop) {
    case Stop::kAfterDuration:
        return start + durationSeconds;
    case Stop::kAtTime:
        return NextTimeOfDay(stopAtSeconds, start + 1);
    case Stop::kAtSize:
        break;
    }
    return std::nullopt;
}

RecordingSchedule RecordingSchedule::Load()
{
    RecordingSchedule s;
    // A schedule switched off keeps its values: switched on again, it is the one the user made.
    const bool on = Stored("enabled") == "1";
    if (Stored("start").empty())
        return s; // none was ever stored
    const std::string repeat = Stored("repeat");
    const std::string stop = Stored("stop");
    const std::optional<int> start = ParseTimeOfDay(Stored("start"));
    int year = 0, month = 0, day = 0;
    char tail = 0;
    const std::string date = Stored("date");
    const bool dated = date.size() == 10 && std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) == 3 &&
                       month >= 1 && month <= 12 && day >= 1 && day <= 31;
    std::optional<int64_t> duration = Number(Stored("duration"), 1, kMaxDurationSeconds);
    std::optional<int> stopAt = ParseTimeOfDay(Stored("stop-at"));
    std::optional<int64_t> size = Number(Stored("size"), 1, kMaxSizeMb);
    const bool stopOk = (stop == "duration" && duration) || (stop == "time" && stopAt) || (stop == "size" && size);
    if (!start || !(repeat == "daily" || (repeat == "once" && dated)) || !stopOk) {
        LOG(ERROR) << "schedule: stored schedule incomplete or out of range, not used";
        return s;
    }
    s.stored = true;
    s.enabled = on;
    s.repeat = repeat == "daily" ? Repeat::kDaily : Repeat::kOnce;
    s.startSeconds = *start;
    s.year = year;
    s.month = month;
    s.day = day;
    s.stop = stop == "duration" ? Stop::kAfterDuration : stop == "time" ? Stop::kAtTime : Stop::kAtSize;
    s.durationSeconds = duration.value_or(s.durationSeconds);
    s.stopAtSeconds = stopAt.value_or(0);
    s.sizeMb = size.value_or(s.sizeMb);
    return s;
}

void RecordingSchedule::Store() const
{
    const auto write = [](const char* key, const std::string& value) {
        WriteConfigString(kSection, key, QString::fromStdString(value));
    };
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, month, day);
    write("enabled", enabled ? "1" : "0");
    write("repeat", repeat == Repeat::kDaily ? "daily" : "once");
    write("start", FormatTimeOfDay(startSeconds));
    write("date", repeat == Repeat::kOnce ? date : "");
    write("stop", stop == Stop::kAfterDuration ? "duration" : stop == Stop::kAtTime ? "time" : "size");
    write("duration", std::to_string(durationSeconds));
    write("stop-at", FormatTimeOfDay(stopAtSeconds));
    write("size", std::to_string(sizeMb));
}
