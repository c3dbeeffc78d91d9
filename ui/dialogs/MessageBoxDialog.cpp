#include "MessageBoxDialog.h"

#include "WindowError.h"

#include <QAbstractButton>
#include <QLabel>

#include <cstdio>

namespace {

// Colour of the boxes' shadow, as the boxes have always written it.
constexpr const char* kBoxShadowColour = "#9E9D9D";
// How far the boxes' shadow reaches beyond them.
constexpr int kBoxShadowSize = 4;

} // namespace

void AttachBoxShadow(CWndShadow& shadow, QWidget* box)
{
    shadow.Attach(box);
    shadow.SetShadowSize(kBoxShadowSize);
    shadow.SetShadowOffset(0, 0);
    unsigned red = 0;
    unsigned green = 0;
    unsigned blue = 0;
    if (std::sscanf(kBoxShadowColour, "#%2X%2X%2X", &red, &green, &blue) == 3)
        shadow.SetShadowColor(QColor(static_cast<int>(red), static_cast<int>(green), static_cast<int>(blue)));
}

MessageBoxDialog::MessageBoxDialog(QWidget* owner, const QString& text)
    : owner_(owner)
    , text_(text)
{
}

MessageBoxDialog::~MessageBoxDialog() = default;

int MessageBoxDialog::Show(QWidget* owner, const QString& text)
{
    return RunModalDialog<MessageBoxDialog>(owner, text);
}

QString MessageBoxDialog::GetWindowClassName() const
{
    return QStringLiteral("MessageBoxDialog");
}

QString MessageBoxDialog::GetSkinFile()
{
    return GuardWindowOperation("MessageBoxDialog::GetSkinFile", [] { return QStringLiteral("MessageBox.xml"); });
}

void MessageBoxDialog::OnCreate()
{
    WindowImplBase::OnCreate();
    AttachBoxShadow(shadow_, this);
}

void MessageBoxDialog::InitWindow()
{
    GuardWindowOperation("MessageBoxDialog::Init", [this] {
        msgText_ = FindControl<QLabel>("msgText");
        msgCancel_ = FindControl<QAbstractButton>("msgCancel");
        msgConfirm_ = FindControl<QAbstractButton>("msgConfirm");
        if (msgText_)
            msgText_->setText(text_);
    });
}

void MessageBoxDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (msg.senderName == QLatin1String("msgConfirm"))
            Close(1);
        else if (msg.senderName == QLatin1String("msgCancel"))
            Close(0);
    }
    WindowImplBase::Notify(msg);
}

void MessageBoxDialog::OnFinalMessage()
{
    GuardWindowOperation("MessageBoxDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}
