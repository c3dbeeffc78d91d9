#include "CMainTaskMenu.h"

#include "MenuPlacement.h"
#include "WindowError.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <glog/logging.h>

namespace {

struct MenuItem {
    const char* name;
    unsigned message;
};

constexpr MenuItem kItems[] = {
    {"main_menu_item_home", CMainTaskMenu::kMsgShow},
    {"main_menu_item_seting", CMainTaskMenu::kMsgSeting},
    {"main_menu_item_schedule", CMainTaskMenu::kMsgSchedule},
    {"main_menu_item_feedback", CMainTaskMenu::kMsgFeedback},
    {"main_menu_item_help", CMainTaskMenu::kMsgHelp},
    {"main_menu_item_upgrade", CMainTaskMenu::kMsgUpgrade},
    {"main_menu_item_quit", CMainTaskMenu::kMsgQuit},
};

} // namespace

CMainTaskMenu::CMainTaskMenu(QString skinFile)
    : skinFile_(std::move(skinFile))
{
}

CMainTaskMenu::~CMainTaskMenu() = default;

unsigned CMainTaskMenu::MessageForItem(const QString& name)
{
    for (const MenuItem& item : kItems) {
        if (name == QLatin1String(item.name))
            return item.message;
    }
    return 0;
}

bool CMainTaskMenu::Init(WindowImplBase* owner, QPoint at)
{
    owner_ = owner;
    at_ = at;
    // A pop-up: the first click outside it, or Escape, closes it; no task bar button.
    if (!Create(owner, QStringLiteral("MenuWnd"), Qt::Popup | Qt::NoDropShadowWindowHint)) {
        LOG(ERROR) << "mainwnd: task menu \"" << skinFile_.toStdString() << "\" could not be built";
        deleteLater();
        return false;
    }
    QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect workArea = screen ? screen->availableGeometry() : QRect(at, size());
    move(PlaceMenu(at, size(), workArea));
    ShowWindow(true, true);
    return true;
}

QString CMainTaskMenu::GetWindowClassName() const
{
    return QStringLiteral("CDuiMenu ");
}

QString CMainTaskMenu::GetSkinFile()
{
    return GuardWindowOperation("CMainTaskMenu::GetSkinFile", [this] { return skinFile_; });
}

void CMainTaskMenu::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        // The menu goes first, so that a dialog the item opens does not find it still on screen.
        Close(1);
        const unsigned message = MessageForItem(msg.senderName);
        if (message != 0 && owner_)
            owner_->PostMessage(message, msg.wParam, msg.lParam);
    }
    WindowImplBase::Notify(msg);
}

void CMainTaskMenu::OnFinalMessage()
{
    GuardWindowOperation("CMainTaskMenu::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}

void CMainTaskMenu::closeEvent(QCloseEvent* event)
{
    // Qt closes a pop-up itself on a click outside it or on Escape: the menu ends with it.
    event->accept();
    Close(0);
}
