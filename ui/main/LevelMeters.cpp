#include "LevelMeters.h"

#include "LevelMonitor.h"
#include "WindowImplBase.h"

#include <QProgressBar>
#include <QString>

#include <algorithm>
#include <cmath>

namespace {

// Width of the threshold's mark, as a share of the meter (about 2 pixels).
constexpr double kMarkWidth = 0.012;

// The meter position (0..kSteps) of a peak level; 0 for -1 and for anything at or below kFloorDb.
int StepsForLevel(float level)
{
    if (!(level > 0.0f)) // also NaN
        return 0;
    const double db = 20.0 * std::log10(std::min(static_cast<double>(level), 1.0));
    const double fraction = (db - LevelMeters::kFloorDb) / -LevelMeters::kFloorDb;
    return static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * LevelMeters::kSteps));
}

void ShowLevel(QProgressBar* meter, float level)
{
    if (!meter)
        return;
    if (level < 0.0f) {
        meter->setEnabled(false);
        meter->setValue(0);
        return;
    }
    meter->setEnabled(true);
    meter->setValue(std::max(StepsForLevel(level), meter->value() - LevelMeters::kFallPerUpdate));
}

} // namespace

LevelMeters::LevelMeters(WindowImplBase& window)
    : window_(window)
{
    timer_.setInterval(kPollMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
}

LevelMeters::~LevelMeters() = default; // the monitor's destructor stops it

void LevelMeters::FindControls()
{
    mic_ = window_.FindControl<QProgressBar>("mic-level");
    system_ = window_.FindControl<QProgressBar>("sys-level");
    for (QProgressBar* meter : {mic_, system_}) {
        if (meter) {
            meter->setRange(0, kSteps);
            meter->setValue(0);
            meter->setTextVisible(false);
        }
    }
}

void LevelMeters::Show(float mic, float system)
{
    ShowLevel(mic_, mic);
    ShowLevel(system_, system);
}

void LevelMeters::SetThreshold(std::optional<double> db)
{
    // A thin dark band in the meter's groove (the bar covers it once the level passes): a style
    // needs no geometry of its own, so the mark follows the meter's size.
    QString style;
    if (db) {
        const double at = std::clamp((*db - kFloorDb) / -kFloorDb, 0.0, 1.0 - kMarkWidth);
        style = QStringLiteral("QProgressBar { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #E3E8EF, "
                               "stop:%1 #E3E8EF, stop:%2 #5B6470, stop:%3 #5B6470, stop:%4 #E3E8EF, stop:1 #E3E8EF); }")
                    .arg(at)
                    .arg(at + 0.001)
                    .arg(at + kMarkWidth - 0.001)
                    .arg(at + kMarkWidth);
    }
    for (QProgressBar* meter : {mic_, system_})
        if (meter)
            meter->setStyleSheet(style);
}

void LevelMeters::SetMonitoring(bool on)
{
    if (on == Monitoring())
        return;
    if (!on) {
        timer_.stop();
        if (monitor_)
            monitor_->Stop();
        return;
    }
    if (!monitor_)
        monitor_ = std::make_unique<LevelMonitor>();
    monitor_->Start();
    timer_.start();
}

void LevelMeters::Poll()
{
    float mic = -1.0f;
    float system = -1.0f;
    if (monitor_)
        monitor_->Levels(mic, system);
    Show(mic, system);
}
