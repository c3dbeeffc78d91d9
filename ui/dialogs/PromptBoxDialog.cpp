#include "PromptBoxDialog.h"

#include "MessageBoxDialog.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QLabel>

PromptBoxDialog::PromptBoxDialog(QWidget* owner, const QString& text, int width, int height)
    : owner_(owner)
    , width_(width)
    , height_(height)
    , text_(text)
{
}

PromptBoxDialog::~PromptBoxDialog() = default;

int PromptBoxDialog::Show(QWidget* owner, const QString& text, int width, int height)
{
    return RunModalDialog<PromptBoxDialog>(owner, text, width, height);
}

QString PromptBoxDialog::GetWindowClassName() const
{
    return QStringLiteral("PromptBoxDialog");
}

QString PromptBoxDialog::GetSkinFile()
{
    return GuardWindowOperation("PromptBoxDialog::GetSkinFile", [] { return QStringLiteral("PromptBox.xml"); });
}

void PromptBoxDialog::OnCreate()
{
    WindowImplBase::OnCreate();
    AttachBoxShadow(shadow_, this);
}

void PromptBoxDialog::InitWindow()
{
    GuardWindowOperation("PromptBoxDialog::Init", [this] {
        ResizeClient(width_, height_);
        msgText_ = FindControl<QLabel>("msgText");
        msgConfirm_ = FindControl<QAbstractButton>("msgConfirm");
        if (msgText_)
            msgText_->setText(text_);
    });
}

void PromptBoxDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick) && msg.senderName == QLatin1String("msgConfirm"))
        Close(1);
    WindowImplBase::Notify(msg);
}

void PromptBoxDialog::OnFinalMessage()
{
    GuardWindowOperation("PromptBoxDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}
