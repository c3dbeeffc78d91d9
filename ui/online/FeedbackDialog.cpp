#include "FeedbackDialog.h"

#include "BackgroundCall.h"
#include "CurrentAccount.h"
#include "DesktopOpen.h"
#include "FeedbackClient.h"
#include "HttpClient.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "TextUtil.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUrl>

namespace {

// What was typed into the last dialog and not delivered (UI thread only).
struct Draft {
    QString content;
    QString contact;
};
Draft g_draft;

} // namespace

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
        QString contact = g_draft.contact;
        if (contact.isEmpty())
            contact = AnsiToWide(SignedInPhone());
        if (feedbackContent_)
            feedbackContent_->setPlainText(g_draft.content);
        if (feedbackContact_)
            feedbackContact_->setText(contact);
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
        if (msg.senderName == QLatin1String("feedbackBtn") && !waiting_)
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

    waiting_ = true;
    if (feedbackBtn_)
        feedbackBtn_->setEnabled(false);
    if (feedbackErrorTips_)
        feedbackErrorTips_->setText(QString::fromUtf8(kWaitingText));
    // The answer goes to the application: a delivered message is no draft any more even when
    // this dialog was closed meanwhile.
    RunInBackground(
        qApp, [contact = WideToUtf8(contact), content = WideToUtf8(content)] { return SendFeedback(contact, content); },
        [self = QPointer<FeedbackDialog>(this), content](FeedbackResult result) {
            if (result == FeedbackResult::kSubmitted && g_draft.content == content)
                g_draft = Draft();
            if (!ReceiverAlive(self))
                return;
            switch (result) {
            case FeedbackResult::kSubmitted: self->OnAnswer(kSubmittedText); break;
            case FeedbackResult::kRejected: self->OnAnswer(kRejectedText); break;
            case FeedbackResult::kNetworkError: self->OnAnswer(kNetworkErrorText); break;
            }
        });
}

void FeedbackDialog::OnAnswer(const char* outcome)
{
    waiting_ = false;
    delivered_ = outcome == kSubmittedText;
    hide();
    // Over the main window when there is one (this dialog is hidden by now).
    PromptBoxDialog::Show(owner_ ? owner_.data() : this, QString::fromUtf8(outcome), 200, 100);
    Close(0);
}

void FeedbackDialog::OnFinalMessage()
{
    if (delivered_)
        g_draft = Draft();
    else if (feedbackContent_ && feedbackContact_)
        g_draft = Draft{feedbackContent_->toPlainText(), feedbackContact_->text()};
    GuardWindowOperation("FeedbackDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}
