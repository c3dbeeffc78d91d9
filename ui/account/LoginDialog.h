#pragma once
// LoginDialog ("登陆", "Login.xml"): phone number and password, checked here, then sent to the
// service. A successful login becomes the current account, is stored for the automatic login of
// the next start and shows the phone number in the main window; the dialog then closes. Every
// check and refusal is written into "errorTips" and the dialog stays: a service that cannot be
// reached gives "网络错误!", a refused login "账号或密码错误!". "register" and "forgotPwd" lead to
// the registration and password-reset dialogs (this one hides and closes when they return).
//
//   RunModalDialog<LoginDialog>(parentWindow, mainWindow);          // empty fields
//   RunModalDialog<LoginDialog>(parentWindow, mainWindow, phone);   // phone filled in
//
// The request runs on a worker: while it runs "loginBtn" is disabled and "errorTips" says so;
// the window stays responsive and can be closed (the answer is then dropped).
//
// Standard output gets "message: " + the request with the password masked, and "response: " +
// the reply. When the credentials cannot be stored, the user is signed in for this run all the
// same and told that the next start will not do it.
//
// Thread: UI thread.

#include "AccountService.h"
#include "WindowImplBase.h"

#include <QPointer>

class LoginDialog : public WindowImplBase {
    Q_OBJECT
public:
    // Shown when the credentials could not be stored (the login itself succeeded).
    static constexpr const char* kNotStoredText = "登录信息保存失败,下次启动需重新登录";
    static constexpr const char* kWaitingText = "正在登录,请稍候...";
    static constexpr int kNotStoredWidth = 300;
    static constexpr int kPromptHeight = 100;

    // parent: the window this dialog belongs to (the main window, or a hidden form dialog);
    // mainWindow: the window whose account area shows the result; phone: put into "account".
    LoginDialog(QWidget* parent, QWidget* mainWindow, const QString& phone = QString());
    ~LoginDialog() override;

    QString GetWindowClassName() const override;
    void OnFinalMessage() override;
    void InitWindow() override;
    QString GetSkinFile() override;
    void Notify(TNotifyUI& msg) override;

    bool Waiting() const { return waiting_; }

private:
    void Login();
    void OnLoginAnswer(const ServiceAnswer& answer, const QString& phone, const std::string& password);
    void SetWaiting(bool waiting);
    void SetTip(const QString& text);
    // Hides this dialog, runs Dialog modally over it and closes this one when it returns.
    template <class Dialog>
    void HandOver();

    QPointer<QWidget> mainWindow_; // not owned
    QString phone_;
    bool waiting_ = false; // a login request runs
};
