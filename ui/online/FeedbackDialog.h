#pragma once
// FeedbackDialog ("意见反馈", skin "Feedback.xml"): a message ("feedbackContent") and a contact
// detail ("feedbackContact") sent to the service with "feedbackBtn"; "feedbackErrorTips" names a
// missing field or a missing sign-in, and keeps what was typed. A submission hides the dialog,
// posts, tells the outcome in a prompt ("反馈信息已提交!", "未知错误", "网络错误!") and closes the
// dialog. "contact-us" opens the service's help page. The caret is put into the message 100 ms
// after the window is up (timer 1008).
//
//   RunModalDialog<FeedbackDialog>(mainWindow);
//
// Thread: UI thread (the post blocks it, with the dialog hidden, for at most the request's
// time-outs).

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

private:
    void Submit();

    QPointer<QWidget> owner_; // not owned
    CWndShadow shadow_;
    QPlainTextEdit* feedbackContent_ = nullptr;
    QLineEdit* feedbackContact_ = nullptr;
    QLabel* feedbackErrorTips_ = nullptr;
    QAbstractButton* feedbackBtn_ = nullptr;
};
