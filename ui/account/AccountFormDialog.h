#pragma once
// AccountFormDialog: the one design behind RegisterDialog and ForgotDialog. The user asks for an
// SMS code for a phone number, types it with a password and its confirmation, and submits.
//
// Code button: the phone number is checked (it becomes part of the request's address), then the
// button counts down "60 秒" ... "1 秒" on timer 1000, one step a second, and the request goes
// out; clicks while it counts are ignored; afterwards it reads "重新获取". A failed request says
// "验证码发送失败!" and gives the button back at once, so the user can try again.
// Submit button: the fields are checked ("errorTips" line), the form is posted (the button
// disabled, "errorTips" saying so), the dialog hides and the answer is shown in a prompt box
// (ReadFormReply): success leads to the login dialog with the phone number filled in, an error
// the user can correct brings the dialog back with its fields, anything else closes it.
//
// Both requests run on workers: the dialog stays responsive and can be closed while they run
// (their answers are then dropped).
//
// Thread: UI thread.

#include "AccountService.h"
#include "WindowImplBase.h"

#include <QPointer>

class QAbstractButton;
class QLabel;
class QLineEdit;

class AccountFormDialog : public WindowImplBase {
    Q_OBJECT
public:
    // The countdown's timer, its period and its length.
    static constexpr int kCountdownTimer = 1000;
    static constexpr int kCountdownMs = 1000;
    static constexpr int kCountdownSeconds = 60; // the service allows one code a minute per phone
    static constexpr int kPromptWidth = 200;
    static constexpr int kPromptHeight = 100;
    static constexpr const char* kWaitingText = "正在提交,请稍候...";

    // Control names and texts that differ between the two forms.
    struct Names {
        const char* className;
        const char* skinFile;
        const char* phone;
        const char* codeButton;
        const char* password;
        const char* confirmation;
        const char* code;
        const char* errorTips;
        const char* submit;
    };

    AccountFormDialog(QWidget* mainWindow, AccountForm form, const Names& names);
    ~AccountFormDialog() override;

    QString GetWindowClassName() const override;
    void OnFinalMessage() override;
    void InitWindow() override;
    QString GetSkinFile() override;
    void Notify(TNotifyUI& msg) override;
    void OnTimer(int id) override;

    bool CodeRequestRunning() const { return codeRequestRunning_; }
    bool Submitting() const { return submitting_; }

private:
    void RequestCode();
    void OnCodeAnswer(int result);
    void StopCountdown(const QString& buttonText);
    void SubmitForm();
    void OnSubmitAnswer(const ServiceAnswer& answer, const QString& phone);
    void SetTip(const QString& text);
    QString Guarded(const char* operation) const;

    bool codeRequestRunning_ = false;
    int countdown_ = kCountdownSeconds;
    bool submitting_ = false;
    QString codeButtonText_; // the skin's text, for a request that failed
    QPointer<QWidget> mainWindow_; // not owned
    AccountForm form_;
    Names names_;
    QLineEdit* phone_ = nullptr;
    QAbstractButton* codeButton_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* confirmation_ = nullptr;
    QLineEdit* code_ = nullptr;
    QLabel* errorTips_ = nullptr;
    QAbstractButton* submit_ = nullptr;
};
