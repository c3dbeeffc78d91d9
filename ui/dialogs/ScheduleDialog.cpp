#include "ScheduleDialog.h"

#include "RecordingSchedule.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDate>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>

#include <glog/logging.h>

#include <ctime>

namespace {

// Entries of "schedule-stop", in RecordingSchedule::Stop order.
constexpr int kStopDuration = 0;
constexpr int kStopTime = 1;
constexpr int kStopSize = 2;

QTime TimeOfDay(int seconds)
{
    return QTime(0, 0).addSecs(seconds);
}

int Seconds(const QTimeEdit* edit)
{
    return edit ? QTime(0, 0).secsTo(edit->time()) : 0;
}

} // namespace

ScheduleDialog::ScheduleDialog(QWidget*) {}

ScheduleDialog::~ScheduleDialog() = default;

bool ScheduleDialog::Show(QWidget* owner)
{
    return RunModalDialog<ScheduleDialog>(owner) == 1;
}

QString ScheduleDialog::GetWindowClassName() const
{
    return QString::fromUtf8("定时录音");
}

QString ScheduleDialog::GetSkinFile()
{
    return GuardWindowOperation("ScheduleDialog::GetSkinFile", [] { return QStringLiteral("Schedule.xml"); });
}

void ScheduleDialog::InitWindow()
{
    GuardWindowOperation("ScheduleDialog::Init", [this] {
        enabled_ = FindControl<QAbstractButton>("schedule-enabled");
        start_ = FindControl<QTimeEdit>("schedule-start");
        repeat_ = FindControl<QComboBox>("schedule-repeat");
        stop_ = FindControl<QComboBox>("schedule-stop");
        duration_ = FindControl<QSpinBox>("schedule-duration");
        stopAt_ = FindControl<QTimeEdit>("schedule-stop-at");
        size_ = FindControl<QSpinBox>("schedule-size");
        // The stored schedule, also one switched off; a new one starts at the next full hour.
        const RecordingSchedule s = RecordingSchedule::Load();
        const int nextHour = (QTime::currentTime().hour() + 1) % 24 * 3600;
        if (enabled_)
            enabled_->setChecked(s.enabled);
        if (start_)
            start_->setTime(TimeOfDay(s.stored ? s.startSeconds : nextHour));
        if (repeat_)
            repeat_->setCurrentIndex(s.repeat == RecordingSchedule::Repeat::kDaily ? 1 : 0);
        if (stop_)
            stop_->setCurrentIndex(static_cast<int>(s.stop));
        if (duration_)
            duration_->setValue(static_cast<int>((s.durationSeconds + 59) / 60));
        if (stopAt_)
            stopAt_->setTime(TimeOfDay(s.stored ? s.stopAtSeconds : (nextHour + 3600) % 86400));
        if (size_)
            size_->setValue(static_cast<int>(s.sizeMb));
        ShowStopValue();
    });
}

void ScheduleDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (msg.senderName == QLatin1String("schedule-save"))
            Save();
        else if (msg.senderName == QLatin1String("schedule-cancel"))
            Close(0);
    } else if (msg.type == QLatin1String(kNotifyItemSelect) && msg.senderName == QLatin1String("schedule-stop")) {
        ShowStopValue();
    }
    WindowImplBase::Notify(msg);
}

void ScheduleDialog::ShowStopValue()
{
    const int rule = stop_ ? stop_->currentIndex() : kStopDuration;
    if (duration_)
        duration_->setVisible(rule == kStopDuration);
    if (stopAt_)
        stopAt_->setVisible(rule == kStopTime);
    if (size_)
        size_->setVisible(rule == kStopSize);
}

void ScheduleDialog::Save()
{
    RecordingSchedule s;
    s.enabled = enabled_ && enabled_->isChecked();
    s.startSeconds = Seconds(start_);
    s.repeat = repeat_ && repeat_->currentIndex() == 1 ? RecordingSchedule::Repeat::kDaily
                                                        : RecordingSchedule::Repeat::kOnce;
    // Once: the next time the clock shows the start time (today, else tomorrow).
    const std::time_t at = NextTimeOfDay(s.startSeconds, std::time(nullptr));
    std::tm local{};
    localtime_r(&at, &local);
    s.year = local.tm_year + 1900;
    s.month = local.tm_mon + 1;
    s.day = local.tm_mday;
    const int rule = stop_ ? stop_->currentIndex() : kStopDuration;
    s.stop = rule == kStopTime   ? RecordingSchedule::Stop::kAtTime
             : rule == kStopSize ? RecordingSchedule::Stop::kAtSize
                                 : RecordingSchedule::Stop::kAfterDuration;
    s.durationSeconds = duration_ ? duration_->value() * 60LL : s.durationSeconds;
    s.stopAtSeconds = Seconds(stopAt_);
    s.sizeMb = size_ ? size_->value() : s.sizeMb;
    s.Store();
    LOG(INFO) << "schedule: stored, " << (s.enabled ? "on" : "off") << " at " << FormatTimeOfDay(s.startSeconds);
    Close(1);
}
