#pragma once
// PersonCenterDialog ("个人中心", "PersonCenter.xml"): the small account panel the main window
// opens below its "username" label. "account" shows the signed-in phone number; "logout" signs
// out (SignOut) and closes the panel. The panel closes as soon as it loses activation, like a
// menu. No modal loop.
//
// Thread: UI thread.

#include "WindowImplBase.h"

#include <QPointer>

class PersonCenterDialog : public WindowImplBase {
    Q_OBJECT
public:
    explicit PersonCenterDialog(QWidget* mainWindow);
    ~PersonCenterDialog() override;

    QString GetWindowClassName() const override;
    void OnFinalMessage() override;
    void InitWindow() override;
    QString GetSkinFile() override;
    void Notify(TNotifyUI& msg) override;

protected:
    void changeEvent(QEvent* event) override;

private:
    QPointer<QWidget> mainWindow_; // not owned
};
