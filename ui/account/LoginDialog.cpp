#include "LoginDialog.h"

#include "AccountArea.h"
#include "BackgroundCall.h"
#include "Credentials.h"
#include "ForgotDialog.h"
#include "PromptBoxDialog.h"
#include "RegisterDialog.h"
#include "TextUtil.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

LoginDialog::LoginDialog(QWidget* parent, QWidget* mainWindow, const QString& phone)
    : mainWindow_(mainWindow)
    , phone_(phone)
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
    if (phone_.isEmpty())
        return;
    if (auto* account = FindControl<QLineEdit>("account"))
        account->setText(phone_);
    if (auto* password = FindControl<QLineEdit>("password"))
        password->setFocus();
}

QString LoginDialog::GetSkinFile()
{
    return GuardWindowOperation("LoginDialog::GetSkinFile", [] { return QStringLiteral("Login.xml"); });
}

void LoginDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick) && !waiting_) {
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
    SetWaiting(true);
    RunInBackground(
        this,
        [phoneText, passwordText] {
            ServiceAnswer answer;
            answer.result = AccountServiceInstance().Login(phoneText, passwordText, answer.reply);
            return answer;
        },
        [this, phone, passwordText](const ServiceAnswer& answer) { OnLoginAnswer(answer, phone, passwordText); });
}

void LoginDialog::SetWaiting(bool waiting)
{
    waiting_ = waiting;
    if (auto* button = FindControl<QAbstractButton>("loginBtn"))
        button->setEnabled(!waiting);
    SetTip(waiting ? QString::fromUtf8(kWaitingText) : QString());
}

void LoginDialog::OnLoginAnswer(const ServiceAnswer& answer, const QString& phone, const std::string& password)
{
    SetWaiting(false);
    if (answer.result != 0) {
        SetTip(QStringLiteral("网络错误!"));
        return;
    }
    DebugPrint("response: %s\n", answer.reply.c_str());
    CurrentAccount account;
    switch (ReadLoginReply(answer.reply, account)) {
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
    const bool stored = SaveCredentials(WideToAnsi(phone), password);
    if (mainWindow_)
        ShowSignedIn(mainWindow_, phone);
    if (!stored)
        PromptBoxDialog::Show(this, QString::fromUtf8(kNotStoredText), kNotStoredWidth, kPromptHeight);
    Close(1);
}
