#include "AccountArea.h"

#include "AutoLoginThread.h"
#include "Credentials.h"
#include "CurrentAccount.h"
#include "LoginDialog.h"
#include "PersonCenterDialog.h"
#include "RegisterDialog.h"
#include "TextUtil.h"
#include "WindowImplBase.h"

#include <QAbstractButton>
#include <QPointer>

#include <memory>

namespace {

// Owns the automatic login's worker for the main window; destroyed with the window, it waits for
// the worker first, so the worker's hand-over always finds it.
class AutoLoginOwner : public QObject {
public:
    explicit AutoLoginOwner(QWidget* mainWindow)
        : QObject(mainWindow)
        , mainWindow_(mainWindow)
    {
        thread_ = std::make_unique<AutoLoginThread>([this](const AutoLoginResult& result) {
            QMetaObject::invokeMethod(
                this,
                [this, result] {
                    if (ApplyAutoLogin(result) && mainWindow_)
                        ShowSignedIn(mainWindow_, AnsiToWide(result.account.mobilePhone));
                },
                Qt::QueuedConnection);
        });
    }
    ~AutoLoginOwner() override { thread_.reset(); }

private:
    QPointer<QWidget> mainWindow_;
    std::unique_ptr<AutoLoginThread> thread_;
};

void SetVisible(QWidget* mainWindow, const char* name, bool visible)
{
    if (auto* control = mainWindow->findChild<QWidget*>(QString::fromLatin1(name)))
        control->setVisible(visible);
}

} // namespace

void ShowSignedIn(QWidget* mainWindow, const QString& phone)
{
    if (auto* username = mainWindow->findChild<QAbstractButton*>(QStringLiteral("username")))
        username->setText(phone);
    SetVisible(mainWindow, "username", true);
    SetVisible(mainWindow, "login", false);
    SetVisible(mainWindow, "separator", false);
    SetVisible(mainWindow, "register", false);
}

void ShowSignedOut(QWidget* mainWindow)
{
    SetVisible(mainWindow, "login", true);
    SetVisible(mainWindow, "separator", true);
    SetVisible(mainWindow, "register", true);
    SetVisible(mainWindow, "username", false);
}

void SignOut(QWidget* mainWindow)
{
    DeleteCredentials();
    ClearCurrentAccountPhone();
    ShowSignedOut(mainWindow);
}

void StartAutoLogin(QWidget* mainWindow)
{
    new AutoLoginOwner(mainWindow);
}

bool HandleAccountClick(QWidget* mainWindow, const TNotifyUI& msg)
{
    if (msg.type != QLatin1String(kNotifyClick))
        return false;
    if (msg.senderName == QLatin1String("login"))
        RunModalDialog<LoginDialog>(mainWindow, mainWindow);
    else if (msg.senderName == QLatin1String("register"))
        RunModalDialog<RegisterDialog>(mainWindow, mainWindow);
    else if (msg.senderName == QLatin1String("username"))
        OpenPersonCenter(mainWindow);
    else
        return false;
    return true;
}

void OpenPersonCenter(QWidget* mainWindow)
{
    auto* panel = new PersonCenterDialog(mainWindow);
    if (!panel->Create(mainWindow, QString())) {
        panel->Close(0);
        return;
    }
    // Below the label, its left edge half a label's width to the left of the label's.
    QPoint topLeft = mainWindow->mapToGlobal(QPoint(0, 0));
    if (auto* label = mainWindow->findChild<QWidget*>(QStringLiteral("username"))) {
        const QRect r(label->mapTo(mainWindow, QPoint(0, 0)), label->size());
        topLeft += QPoint(r.left() - r.width() / 2, r.bottom() + 1 + 6);
    }
    panel->move(topLeft);
    panel->ShowWindow(true, true);
}
