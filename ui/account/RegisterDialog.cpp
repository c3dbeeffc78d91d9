#include "RegisterDialog.h"

namespace {

const AccountFormDialog::Names kRegisterNames{
    "用户注册",           "Register.xml",       "registerMobilePhone", "registerVerifyCodeBtn", "registerPwd",
    "registerConfirmPwd", "registerVerifyCode", "registerErrorTips",   "registerBtn"};

} // namespace

RegisterDialog::RegisterDialog(QWidget* parent, QWidget* mainWindow)
    : AccountFormDialog(mainWindow, AccountForm::kRegister, kRegisterNames)
{
}
