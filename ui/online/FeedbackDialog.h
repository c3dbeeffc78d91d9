#pragma once
// FeedbackDialog ("意见反馈", skin "Feedback.xml"): a message ("feedbackContent") and a contact
// detail ("feedbackContact", offered as the signed-in account's phone number) sent to the
// service with "feedbackBtn"; "feedbackErrorTips" names a missing field or a missing sign-in, and
// keeps what was typed. A submission posts on a worker (the button disabled, "feedbackErrorTips"
// saying so; the dialog can be closed meanwhile and the answer is then dropped), then hides the
// dialog, tells the outcome in a prompt ("反馈信息已提交!", "未知错误", "网络错误!") and closes it.
// What was typed and not delivered comes back when the dialog is opened again in this run.
// "contact-us" opens the service's help page. The caret is put into the message 100 ms after the
// window is up (timer 1008).
//
//   RunModalDialog<FeedbackDialog>(mainWindow);
//
// Thread: UI thread.

#include "CWndShadow.h"
#include "WindowImplBase.h"

#include <QPointer>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

class FeedbackDialog : public WindowImplBase {
    Q_OBJECT
public:
    static constexpr int kFocusTimer = 1008;
    // Long enough for the window to be shown and active before the caret moves in.
    static constexpr int kFocusTimerMs = 100;

    static constexpr const char* kContentEmptyText = "反馈内容不能为空!";
    static constexpr const char* kContactEmptyText = "联系方式不能为空!";
    static constexpr const char* kSignedOutText = "请先登录后进行反馈!";
    static constexpr const char* kSubmittedText = "反馈信息已提交!";
    static constexpr const char* kRejectedText = "未知错误";
    static constexpr const char* kNetworkErrorText = "网络错误!";
    static constexpr const char* kWaitingText = "正在提交,请稍候...";

    explicit FeedbackDialog(QWidget* owner);
    FeedbackDialog();
    ~FeedbackDialog() override;

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void OnCreate() override;
    void InitWindow() override;
    void OnTimer(int id) override;
    void Notify(TNotifyUI& msg) override;
    void OnFinalMessage() override;

    bool Waiting() const { return waiting_; }

private:
    void Submit();
    void OnAnswer(const char* outcome);

    QPointer<QWidget> owner_; // not owned
    CWndShadow shadow_;
    QPlainTextEdit* feedbackContent_ = nullptr;
    QLineEdit* feedbackContact_ = nullptr;
    QLabel* feedbackErrorTips_ = nullptr;
    QAbstractButton* feedbackBtn_ = nullptr;
    bool waiting_ = false;   // a submission runs
    bool delivered_ = false; // the service took the message: nothing to keep
};
