#include "ForgotDialog.h"

namespace {

const AccountFormDialog::Names kForgotNames{
    "找回密码",         "Forgot.xml",       "forgotMobilePhone", "forgotVerifyCodeBtn", "forgotPwd",
    "forgotConfirmPwd", "forgotVerifyCode", "forgotErrorTips",   "forgotBtn"};

} // namespace

ForgotDialog::ForgotDialog(QWidget* parent, QWidget* mainWindow)
    : AccountFormDialog(mainWindow, AccountForm::kForgot, kForgotNames)
{
}
