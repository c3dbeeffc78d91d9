#pragma once
// ForgotDialog ("找回密码", "Forgot.xml"): a new password for an existing account, with an SMS
// code (see AccountFormDialog).
//
//   RunModalDialog<ForgotDialog>(parentWindow, mainWindow);
//
// Thread: UI thread.

#include "AccountFormDialog.h"

class ForgotDialog : public AccountFormDialog {
    Q_OBJECT
public:
    explicit ForgotDialog(QWidget* parent, QWidget* mainWindow);
};
