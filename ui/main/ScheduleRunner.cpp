#include "ScheduleRunner.h"

#include <glog/logging.h>

#include <QDateTime>

#include <algorithm>

namespace {

// The timer looks at the wall clock at least this often (a changed clock, a sleep).
constexpr int64_t kLookSeconds = 60;

QString HourMinute(std::time_t at)
{
    return QDateTime::fromSecsSinceEpoch(at).toString(QStringLiteral("HH:mm"));
}

} // namespace

ScheduleRunner::ScheduleRunner(Hooks hooks, QObject* parent) : QObject(parent), hooks_(std::move(hooks))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ScheduleRunner::OnTimer);
}

int64_t ScheduleRunner::NowMs() const
{
    return hooks_.nowMs ? hooks_.nowMs() : QDateTime::currentMSecsSinceEpoch();
}

void ScheduleRunner::Reload()
{
    schedule_ = RecordingSchedule::Load();
    const std::time_t now = static_cast<std::time_t>(NowMs() / 1000);
    next_ = schedule_.NextStart(now);
    // A once schedule whose moment went by while the program did not run.
    if (schedule_.enabled && !next_ && schedule_.repeat == RecordingSchedule::Repeat::kOnce)
        Missed(schedule_.NextStart(0).value_or(now));
    Arm();
}

void ScheduleRunner::Missed(std::time_t at)
{
    LOG(ERROR) << "schedule: the start at " << HourMinute(at).toStdString() << " was missed, not made late";
    if (schedule_.repeat == RecordingSchedule::Repeat::kOnce) {
        schedule_.enabled = false; // told once
        schedule_.Store();
        next_.reset();
    }
    if (hooks_.tell)
        hooks_.tell(QString::fromUtf8(kMissedText).arg(HourMinute(at)));
}

void ScheduleRunner::Arm()
{
    if (hooks_.nextChanged)
        hooks_.nextChanged(next_ ? QString::fromUtf8(kNextStartText).arg(HourMinute(*next_)) : QString());
    std::optional<std::time_t> due = next_;
    if (ownRecording_ && stopAt_)
        due = due ? std::min(*due, *stopAt_) : *stopAt_;
    if (!due) {
        timer_.stop();
        return;
    }
    // To the second itself: the wall clock's milliseconds count.
    const int64_t ms = static_cast<int64_t>(*due) * 1000 - NowMs();
    timer_.start(static_cast<int>(std::clamp<int64_t>(ms, 0, kLookSeconds * 1000)));
}

void ScheduleRunner::OnTimer()
{
    const std::time_t now = static_cast<std::time_t>(NowMs() / 1000);
    if (ownRecording_ && !hooks_.recording())
        ownRecording_ = false; // stopped by the user meanwhile
    if (ownRecording_ && stopAt_ && now >= *stopAt_) {
        LOG(INFO) << "schedule: recording stopped by the clock";
        ownRecording_ = false;
        hooks_.stop();
    }
    if (next_ && now >= *next_) {
        const std::time_t at = *next_;
        next_ = schedule_.repeat == RecordingSchedule::Repeat::kDaily ? schedule_.NextStart(at + 1) : std::nullopt;
        if (now - at > kMissedAfterSeconds) {
            Missed(at);
        } else if (hooks_.recording()) {
            LOG(INFO) << "schedule: a recording runs already at " << HourMinute(at).toStdString() << ", left alone";
        } else if (const char* refusal = hooks_.start()) {
            LOG(ERROR) << "schedule: the start at " << HourMinute(at).toStdString() << " was refused: " << refusal;
            if (hooks_.tell)
                hooks_.tell(QString::fromUtf8(refusal));
        } else {
            LOG(INFO) << "schedule: recording started for " << HourMinute(at).toStdString();
            ownRecording_ = true;
            stopAt_ = schedule_.StopTime(at);
        }
        if (schedule_.repeat == RecordingSchedule::Repeat::kOnce && schedule_.enabled) {
            schedule_.enabled = false; // done
            schedule_.Store();
        }
    }
    Arm();
}

void ScheduleRunner::OnRecordedSecond()
{
    if (!ownRecording_ || schedule_.stop != RecordingSchedule::Stop::kAtSize || !hooks_.recording())
        return;
    // 1 MB = 10^6 bytes, as disks count.
    if (hooks_.fileBytes() >= schedule_.sizeMb * 1000000) {
        LOG(INFO) << "schedule: recording stopped at its size";
        ownRecording_ = false;
        hooks_.stop();
        Arm();
    }
}
