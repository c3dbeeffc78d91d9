#pragma once
// CMainTaskMenu: the small menu of the tray icon ("MainTaskMenu.xml"). Each item posts its
// message to the main window, then the menu closes; a click anywhere else or Escape closes it
// without posting anything (a pop-up holds the pointer and the keyboard while it is open). Each
// right click on the tray icon opens a new one; it deletes itself when it closes.
//
//   auto* menu = new CMainTaskMenu("MainTaskMenu.xml");
//   menu->Init(mainWindow, QCursor::pos());   // builds, places and shows it
//
// Items and messages:
//   "main_menu_item_home"     1235 show the window
//   "main_menu_item_seting"   1237 settings dialog
//   "main_menu_item_schedule" 1240 scheduled recording dialog
//   "main_menu_item_feedback" 1238 feedback dialog
//   "main_menu_item_help"     1236 help page
//   "main_menu_item_upgrade"  1239 upgrade check
//   "main_menu_item_quit"     1234 quit
//
// Thread: UI thread.

#include "WindowImplBase.h"

#include <QPoint>
#include <QPointer>
#include <QString>

class CMainTaskMenu : public WindowImplBase {
    Q_OBJECT
public:
    static constexpr const char* kSkinFile = "MainTaskMenu.xml";
    static constexpr unsigned kMsgQuit = 1234;
    static constexpr unsigned kMsgShow = 1235;
    static constexpr unsigned kMsgHelp = 1236;
    static constexpr unsigned kMsgSeting = 1237;
    static constexpr unsigned kMsgFeedback = 1238;
    static constexpr unsigned kMsgUpgrade = 1239;
    static constexpr unsigned kMsgSchedule = 1240;

    explicit CMainTaskMenu(QString skinFile);
    ~CMainTaskMenu() override;

    // Builds the menu as a pop-up of owner and shows it at the cursor point at (screen
    // coordinates), kept inside the work area of the screen under at. False (and the menu is
    // gone) when the skin could not be built.
    bool Init(WindowImplBase* owner, QPoint at);

    // The message of item name; 0 for a name that is no item.
    static unsigned MessageForItem(const QString& name);

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void Notify(TNotifyUI& msg) override;
    void OnFinalMessage() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString skinFile_;
    QPointer<WindowImplBase> owner_;
    QPoint at_;
};
