#include "PersonCenterDialog.h"

#include "AccountArea.h"
#include "CurrentAccount.h"
#include "TextUtil.h"
#include "WindowError.h"

#include <QEvent>
#include <QLabel>

PersonCenterDialog::PersonCenterDialog(QWidget* mainWindow)
    : mainWindow_(mainWindow)
{
}

PersonCenterDialog::~PersonCenterDialog() = default;

QString PersonCenterDialog::GetWindowClassName() const
{
    return QString::fromUtf8("个人中心");
}

void PersonCenterDialog::OnFinalMessage()
{
    GuardWindowOperation("PersonCenterDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}

void PersonCenterDialog::InitWindow()
{
    GuardWindowOperation("PersonCenterDialog::Init", [this] {
        FindControl<QWidget>("logout");
        if (auto* account = FindControl<QLabel>("account"))
            account->setText(AnsiToWide(SignedInPhone()));
    });
}

QString PersonCenterDialog::GetSkinFile()
{
    return GuardWindowOperation("PersonCenterDialog::GetSkinFile", [] { return QStringLiteral("PersonCenter.xml"); });
}

void PersonCenterDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick) && msg.senderName == QLatin1String("logout")) {
        if (mainWindow_)
            SignOut(mainWindow_);
        Close(0);
    }
    WindowImplBase::Notify(msg);
}

void PersonCenterDialog::changeEvent(QEvent* event)
{
    WindowImplBase::changeEvent(event);
    // Like a menu: gone as soon as another window becomes active.
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow())
        Close(0);
}
