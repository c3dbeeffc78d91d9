#pragma once
// ScheduleRunner: carries out the stored scheduled recording (RecordingSchedule, [schedule]) in
// the window program. It starts the recording at the schedule's moment, stops the recording it
// started by the schedule's rule (after a duration, at a time, at a size), and says when the next
// start is ("下次录音 hh:mm") for the tray's tip and the window. A start that was missed (the
// computer slept through it, or the program did not run at a once schedule's moment) is not made
// late: it is logged and told once. A recording the user runs at the moment is left alone.
//
// The timer looks at the wall clock at least once a minute, so a changed clock or a sleep is seen
// within that minute, and wakes precisely for the start itself.
//
// Thread: UI thread.

#include "RecordingSchedule.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>

class ScheduleRunner : public QObject {
    Q_OBJECT
public:
    // A start later than this after its moment counts as missed: the timer itself is never that
    // late, only a computer that slept.
    static constexpr int kMissedAfterSeconds = 60;
    static constexpr const char* kNextStartText = "下次录音 %1";
    static constexpr const char* kMissedText = "已错过定时录音 %1";

    struct Hooks {
        std::function<const char*()> start;  // starts a recording; its refusal's text or nullptr
        std::function<void()> stop;          // stops the running recording
        std::function<bool()> recording;     // a recording runs (or is paused)
        std::function<int64_t()> fileBytes;  // size of the running recording's file
        std::function<void(const QString&)> tell; // a notice for the user (shown once)
        std::function<void(const QString&)> nextChanged; // "下次录音 hh:mm", or empty
        std::function<int64_t()> nowMs; // the wall clock in ms since the epoch; none: the system's
    };

    explicit ScheduleRunner(Hooks hooks, QObject* parent = nullptr);

    // Reads the stored schedule (at start-up, and after it was changed) and arms the timer.
    void Reload();
    // A recorded second went by: the size rule is looked at.
    void OnRecordedSecond();
    // The next start, if any.
    std::optional<std::time_t> Next() const { return next_; }

private:
    int64_t NowMs() const;
    void Arm();
    void OnTimer();
    void Missed(std::time_t at);

    Hooks hooks_;
    RecordingSchedule schedule_;
    std::optional<std::time_t> next_;
    bool ownRecording_ = false;          // the running recording was started by the schedule
    std::optional<std::time_t> stopAt_;  // when it stops by the clock
    QTimer timer_;
};
