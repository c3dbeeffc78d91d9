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
// The badge: a disc over the icon's lower right, large enough to read at 16 px, with a white ring
// so that it stands out on the logo (whose own record dot sits top right) and on dark panels.
constexpr int kBadgeDiameter = kIconSize * 9 / 16;
constexpr int kBadgeRing = kIconSize / 16;
// Recording red and paused amber, as on the recorder buttons of most programs; paused also shows
// the two bars of a pause sign.
constexpr QRgb kRecordingColour = 0xFFE53935;
constexpr QRgb kPausedColour = 0xFFFFB300;
constexpr qreal kPauseBarWidth = kBadgeDiameter / 7.0;
constexpr qreal kPauseBarHeight = kBadgeDiameter / 2.4;

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
    icon_->setToolTip(note_.isEmpty() ? ToolTip(state_, seconds_) : ToolTip(state_, seconds_) + '\n' + note_);
}

void TrayIcon::SetNote(const QString& note)
{
    note_ = note;
    SetElapsed(seconds_);
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
    const QRectF badge(kIconSize - kBadgeDiameter, kIconSize - kBadgeDiameter, kBadgeDiameter, kBadgeDiameter);
    const bool recording = state == TrayState::kRecording;
    painter.setPen(QPen(Qt::white, kBadgeRing));
    painter.setBrush(QColor::fromRgba(recording ? kRecordingColour : kPausedColour));
    painter.drawEllipse(badge.adjusted(kBadgeRing / 2.0, kBadgeRing / 2.0, -kBadgeRing / 2.0, -kBadgeRing / 2.0));
    if (!recording) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        const QPointF centre = badge.center();
        for (const qreal side : {-1.0, 1.0}) {
            const QPointF barCentre(centre.x() + side * kPauseBarWidth, centre.y());
            painter.drawRect(QRectF(barCentre.x() - kPauseBarWidth / 2, barCentre.y() - kPauseBarHeight / 2,
                                    kPauseBarWidth, kPauseBarHeight));
        }
    }
    painter.end();
    return QIcon(pixmap);
}
