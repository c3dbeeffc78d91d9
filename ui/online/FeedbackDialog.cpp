#include "FeedbackDialog.h"

#include "CurrentAccount.h"
#include "DesktopOpen.h"
#include "FeedbackClient.h"
#include "HttpClient.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "TextUtil.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUrl>

FeedbackDialog::FeedbackDialog(QWidget* owner)
    : owner_(owner)
{
}

FeedbackDialog::FeedbackDialog() = default;

FeedbackDialog::~FeedbackDialog() = default;

QString FeedbackDialog::GetWindowClassName() const
{
    return QStringLiteral("意见反馈");
}

QString FeedbackDialog::GetSkinFile()
{
    return GuardWindowOperation("FeedbackDialog::GetSkinFile", [] { return QStringLiteral("Feedback.xml"); });
}

void FeedbackDialog::OnCreate()
{
    WindowImplBase::OnCreate();
    AttachBoxShadow(shadow_, this);
}

void FeedbackDialog::InitWindow()
{
    GuardWindowOperation("FeedbackDialog::Init", [this] {
        feedbackContent_ = FindControl<QPlainTextEdit>("feedbackContent");
        feedbackContact_ = FindControl<QLineEdit>("feedbackContact");
        feedbackErrorTips_ = FindControl<QLabel>("feedbackErrorTips");
        feedbackBtn_ = FindControl<QAbstractButton>("feedbackBtn");
        SetTimer(kFocusTimer, kFocusTimerMs);
    });
}

void FeedbackDialog::OnTimer(int id)
{
    if (id != kFocusTimer)
        return;
    KillTimer(kFocusTimer);
    if (feedbackContent_)
        feedbackContent_->setFocus();
}

void FeedbackDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (msg.senderName == QLatin1String("feedbackBtn"))
            Submit();
        else if (msg.senderName == QLatin1String("contact-us"))
            OpenWithDesktop(this, QUrl(QString::fromStdString(ServiceUrl("/help/audio"))));
    }
    WindowImplBase::Notify(msg);
}

void FeedbackDialog::Submit()
{
    const QString content = feedbackContent_ ? feedbackContent_->toPlainText() : QString();
    const QString contact = feedbackContact_ ? feedbackContact_->text() : QString();
    const char* tip = nullptr;
    if (content.trimmed().isEmpty())
        tip = kContentEmptyText;
    else if (contact.trimmed().isEmpty())
        tip = kContactEmptyText;
    else if (!IsSignedIn())
        tip = kSignedOutText;
    if (tip != nullptr) {
        if (feedbackErrorTips_)
            feedbackErrorTips_->setText(QString::fromUtf8(tip));
        return;
    }

    hide();
    const char* outcome = kNetworkErrorText;
    switch (SendFeedback(WideToUtf8(contact), WideToUtf8(content))) {
    case FeedbackResult::kSubmitted: outcome = kSubmittedText; break;
    case FeedbackResult::kRejected: outcome = kRejectedText; break;
    case FeedbackResult::kNetworkError: break;
    }
    // Over the main window when there is one (this dialog is hidden by now).
    PromptBoxDialog::Show(owner_ ? owner_.data() : this, QString::fromUtf8(outcome), 200, 100);
    Close(0);
}

void FeedbackDialog::OnFinalMessage()
{
    GuardWindowOperation("FeedbackDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}
