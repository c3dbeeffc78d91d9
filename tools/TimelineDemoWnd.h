#pragma once
// The timeline demo's window: a CPaintViewUI from the skin "TimelineDemo.xml" showing a made-up
// recording (duration, position, selection, waveform), and a line with the last message it posted.
//
// Thread: UI thread only.

#include "WindowImplBase.h"

class CPaintViewUI;
class QLabel;

class TimelineDemoWnd : public WindowImplBase {
    Q_OBJECT
public:
    QString GetWindowClassName() const override { return QStringLiteral("TimelineDemo"); }
    QString GetSkinFile() override { return QStringLiteral("TimelineDemo.xml"); }
    QString GetSkinFolder() const override;
    QWidget* CreateControl(const QString& className, QWidget* parent, const QString& name) override;
    void InitWindow() override;
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                      bool& handled) override;
    void OnFinalMessage() override;

private:
    CPaintViewUI* timeline_ = nullptr;
    QLabel* events_ = nullptr;
};
