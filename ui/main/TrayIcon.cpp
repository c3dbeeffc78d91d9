#include "TrayIcon.h"

#include "CMainTaskMenu.h"
#include "CMainWnd.h"
#include "InstanceServer.h"
#include "RecordingText.h"
#include "WindowImplBase.h"

#include <QColor>
#include <QCursor>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <glog/logging.h>

namespace {

// Size the state icon is drawn at; status areas scale it down (16 to 48 px mostly).
constexpr int kIconSize = 64;
// The dot: a third of the icon, in its lower right corner, with a white ring so that it stands
// out on the logo and on dark panels alike.
constexpr int kDotDiameter = kIconSize * 3 / 8;
constexpr int kDotRing = kIconSize / 16;
// Recording red and paused amber, as on the recorder buttons of most programs.
constexpr QRgb kRecordingColour = 0xFFE53935;
constexpr QRgb kPausedColour = 0xFFFFB300;

} // namespace

TrayIcon::TrayIcon(WindowImplBase& owner)
    : owner_(owner)
    , icon_(new QSystemTrayIcon(this))
{
    icon_->setToolTip(ToolTip(TrayState::kIdle, 0));
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            owner_.PostMessage(kMsgTrayCallback, 0, kLeftButtonDown);
        else if (reason == QSystemTrayIcon::Context)
            owner_.PostMessage(kMsgTrayCallback, 0, kRightButtonDown);
    });
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::Add(const QIcon& base)
{
    base_ = base;
    icon_->setIcon(StateIcon(base_, state_));
    icon_->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        LOG(INFO) << "mainwnd: no status area on this desktop; the tray icon waits for one";
}

void TrayIcon::Remove()
{
    icon_->hide();
}

bool TrayIcon::Shown() const
{
    return icon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::SetState(TrayState state)
{
    if (state != state_) {
        state_ = state;
        icon_->setIcon(StateIcon(base_, state_));
    }
    SetElapsed(seconds_);
}

void TrayIcon::SetElapsed(int64_t seconds)
{
    seconds_ = state_ == TrayState::kIdle ? 0 : seconds;
    icon_->setToolTip(ToolTip(state_, seconds_));
}

bool TrayIcon::HandleCallback(std::intptr_t mouseMessage)
{
    if (mouseMessage == kLeftButtonDown) {
        InstanceServer::BringToFront(&owner_);
        return true;
    }
    if (mouseMessage == kRightButtonDown) {
        auto* menu = new CMainTaskMenu(QString::fromLatin1(CMainTaskMenu::kSkinFile));
        menu->Init(&owner_, QCursor::pos());
        return true;
    }
    return false;
}

QString TrayIcon::ToolTip(TrayState state, int64_t seconds)
{
    QString tip = QString::fromUtf8(CMainWnd::kWindowTitle);
    if (state != TrayState::kIdle) {
        tip += '\n';
        tip += QString::fromUtf8(state == TrayState::kRecording ? CMainWnd::kInfoRecording : CMainWnd::kInfoPaused);
        tip += ' ';
        tip += FormatElapsedTime(seconds);
    }
    return tip;
}

QIcon TrayIcon::StateIcon(const QIcon& base, TrayState state)
{
    if (state == TrayState::kIdle)
        return base;
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    base.paint(&painter, pixmap.rect());
    const QRectF dot(kIconSize - kDotDiameter, kIconSize - kDotDiameter, kDotDiameter, kDotDiameter);
    painter.setPen(QPen(Qt::white, kDotRing));
    painter.setBrush(QColor::fromRgba(state == TrayState::kRecording ? kRecordingColour : kPausedColour));
    painter.drawEllipse(dot.adjusted(kDotRing / 2.0, kDotRing / 2.0, -kDotRing / 2.0, -kDotRing / 2.0));
    painter.end();
    return QIcon(pixmap);
}
