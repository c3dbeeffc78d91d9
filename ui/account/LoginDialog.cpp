#include "LoginDialog.h"

#include "AccountArea.h"
#include "AccountService.h"
#include "Credentials.h"
#include "ForgotDialog.h"
#include "PromptBoxDialog.h"
#include "RegisterDialog.h"
#include "TextUtil.h"
#include "WindowError.h"

#include <QLabel>
#include <QLineEdit>

LoginDialog::LoginDialog(QWidget* parent, QWidget* mainWindow)
    : mainWindow_(mainWindow)
{
}

LoginDialog::~LoginDialog() = default;

QString LoginDialog::GetWindowClassName() const
{
    return QString::fromUtf8("登陆");
}

void LoginDialog::OnFinalMessage()
{
    GuardWindowOperation("LoginDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}

void LoginDialog::InitWindow()
{
}

QString LoginDialog::GetSkinFile()
{
    return GuardWindowOperation("LoginDialog::GetSkinFile", [] { return QStringLiteral("Login.xml"); });
}

void LoginDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (msg.senderName == QLatin1String("loginBtn"))
            Login();
        else if (msg.senderName == QLatin1String("register"))
            HandOver<RegisterDialog>();
        else if (msg.senderName == QLatin1String("forgotPwd"))
            HandOver<ForgotDialog>();
    }
    WindowImplBase::Notify(msg);
}

template <class Dialog>
void LoginDialog::HandOver()
{
    ShowWindow(false);
    RunModalDialog<Dialog>(this, mainWindow_.data());
    Close(0);
}

void LoginDialog::SetTip(const QString& text)
{
    if (auto* tips = FindControl<QLabel>("errorTips"))
        tips->setText(text);
}

void LoginDialog::Login()
{
    auto* accountEdit = FindControl<QLineEdit>("account");
    auto* passwordEdit = FindControl<QLineEdit>("password");
    if (!accountEdit || !passwordEdit)
        return;
    const QString phone = accountEdit->text();
    const QString password = passwordEdit->text();
    const QString problem = CheckLoginInput(phone, password);
    if (!problem.isEmpty()) {
        SetTip(problem);
        return;
    }

    const std::string phoneText = WideToAnsi(phone);
    const std::string passwordText = WideToAnsi(password);
    DebugPrint("message: %s\n", MaskedLoginRequestBody(phoneText).c_str());
    std::string reply;
    if (AccountServiceInstance().Login(phoneText, passwordText, reply) != 0) {
        SetTip(QStringLiteral("账号或密码错误!"));
        return;
    }
    DebugPrint("response: %s\n", reply.c_str());
    CurrentAccount account;
    switch (ReadLoginReply(reply, account)) {
    case LoginReply::kUnparsable:
        SetTip(QStringLiteral("未知错误!"));
        return;
    case LoginReply::kRefused:
        SetTip(QStringLiteral("账号或密码错误!"));
        return;
    case LoginReply::kSignedIn:
        break;
    }
    ApplyAccountReply(account);
    const bool stored = SaveCredentials(phoneText, passwordText);
    if (mainWindow_)
        ShowSignedIn(mainWindow_, phone);
    if (!stored)
        PromptBoxDialog::Show(this, QString::fromUtf8(kNotStoredText), kNotStoredWidth, kPromptHeight);
    Close(1);
}
