#include "TimelineDemoWnd.h"

#include "CPaintViewUI.h"

#include <QApplication>
#include <QLabel>

#include <cmath>
#include <numbers>

namespace {

// The made-up recording: 1 h 2 min 5.5 s, played to 20 min, a selection from 10 to 50 min.
constexpr double kDemoDuration = 3725.5;
constexpr double kDemoPosition = 1200.25;
constexpr double kDemoSelectionStart = 600;
constexpr double kDemoSelectionEnd = 3000;
// Waveform values: a beating tone, up to 40 pixels from the middle.
constexpr int kDemoWaveformPoints = 300;
constexpr double kDemoWaveformPeak = 40000;

} // namespace

QString TimelineDemoWnd::GetSkinFolder() const
{
    return QStringLiteral(TAMSU_TOOLS_SKIN_DIR);
}

QWidget* TimelineDemoWnd::CreateControl(const QString& className, QWidget* parent, const QString&)
{
    return CreatePaintView(className, parent, this);
}

void TimelineDemoWnd::InitWindow()
{
    timeline_ = FindControl<CPaintViewUI>(QStringLiteral("timeline"));
    events_ = FindControl<QLabel>(QStringLiteral("events"));
    if (!timeline_)
        return;
    timeline_->SetDuration(kDemoDuration);
    timeline_->SetPosition(kDemoPosition);
    timeline_->SetSelection(kDemoSelectionStart, kDemoSelectionEnd);
    std::vector<std::int32_t> wave(kDemoWaveformPoints);
    for (int i = 0; i < kDemoWaveformPoints; ++i) {
        const double phase = 2 * std::numbers::pi * i / kDemoWaveformPoints;
        wave[i] = static_cast<std::int32_t>(kDemoWaveformPeak * std::sin(phase * 23) * std::sin(phase * 2.5));
    }
    timeline_->SetWaveform(std::move(wave));
}

std::intptr_t TimelineDemoWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                                   bool& handled)
{
    QString text;
    switch (msg) {
    case CPaintViewUI::kMsgStartTimeChanged:
        text = QStringLiteral("选择开始 ") + CPaintViewUI::FormatTime(CPaintViewUI::ParamTime(wParam));
        break;
    case CPaintViewUI::kMsgEndTimeChanged:
        text = QStringLiteral("选择结束 ") + CPaintViewUI::FormatTime(CPaintViewUI::ParamTime(wParam));
        break;
    case CPaintViewUI::kMsgTimeClicked:
        text = QStringLiteral("定位到 ") + CPaintViewUI::FormatTime(CPaintViewUI::ParamTime(wParam));
        if (timeline_)
            timeline_->SetPosition(CPaintViewUI::ParamTime(wParam));
        break;
    case CPaintViewUI::kMsgStartDragBegin:
    case CPaintViewUI::kMsgEndDragBegin:
    case CPaintViewUI::kMsgStartDragEnd:
    case CPaintViewUI::kMsgEndDragEnd:
        text = QStringLiteral("消息 %1").arg(msg);
        break;
    default:
        return WindowImplBase::HandleCustomMessage(msg, wParam, lParam, handled);
    }
    handled = true;
    if (events_)
        events_->setText(text);
    return 0;
}

void TimelineDemoWnd::OnFinalMessage()
{
    QApplication::quit();
}
