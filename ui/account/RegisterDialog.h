#pragma once
// RegisterDialog ("用户注册", "Register.xml"): a new account for a mobile phone number, with an
// SMS code (see AccountFormDialog).
//
//   RunModalDialog<RegisterDialog>(parentWindow, mainWindow);
//
// Thread: UI thread.

#include "AccountFormDialog.h"

class RegisterDialog : public AccountFormDialog {
    Q_OBJECT
public:
    explicit RegisterDialog(QWidget* parent, QWidget* mainWindow);
};
