#pragma once
// ScheduleDialog, "定时录音": edits the stored scheduled recording (RecordingSchedule). The start
// time once (the next time the clock shows it) or every day, and the stop rule with its value
// (only the control of the chosen rule shows). "schedule-save" stores the schedule and closes
// with 1; "schedule-cancel" and "closebtn" close with 0 and store nothing. The recordings use the
// source and format of the options panel. Skin "Schedule.xml", modal over its owner.
//
// Thread: UI thread.

#include "WindowImplBase.h"

class QAbstractButton;
class QComboBox;
class QSpinBox;
class QTimeEdit;

class ScheduleDialog : public WindowImplBase {
    Q_OBJECT
public:
    explicit ScheduleDialog(QWidget* owner);
    ~ScheduleDialog() override;

    // Creates the dialog, centres it on owner and runs it modally; true when a schedule was stored.
    static bool Show(QWidget* owner);

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;

private:
    void ShowStopValue();
    void Save();

    QAbstractButton* enabled_ = nullptr;
    QTimeEdit* start_ = nullptr;
    QComboBox* repeat_ = nullptr;
    QComboBox* stop_ = nullptr;
    QSpinBox* duration_ = nullptr;
    QTimeEdit* stopAt_ = nullptr;
    QSpinBox* size_ = nullptr;
};
