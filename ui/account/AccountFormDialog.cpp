#include "AccountFormDialog.h"

#include "BackgroundCall.h"
#include "LoginDialog.h"
#include "PromptBoxDialog.h"
#include "TextUtil.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

AccountFormDialog::AccountFormDialog(QWidget* mainWindow, AccountForm form, const Names& names)
    : mainWindow_(mainWindow)
    , form_(form)
    , names_(names)
{
}

AccountFormDialog::~AccountFormDialog() = default;

QString AccountFormDialog::Guarded(const char* operation) const
{
    return QString::fromLatin1(form_ == AccountForm::kRegister ? "RegisterDialog::" : "ForgotDialog::") + operation;
}

QString AccountFormDialog::GetWindowClassName() const
{
    return QString::fromUtf8(names_.className);
}

void AccountFormDialog::OnFinalMessage()
{
    GuardWindowOperation(Guarded("OnFinalMessage").toStdString().c_str(), [this] { WindowImplBase::OnFinalMessage(); });
}

void AccountFormDialog::InitWindow()
{
    GuardWindowOperation(Guarded("Init").toStdString().c_str(), [this] {
        phone_ = FindControl<QLineEdit>(names_.phone);
        codeButton_ = FindControl<QAbstractButton>(names_.codeButton);
        password_ = FindControl<QLineEdit>(names_.password);
        confirmation_ = FindControl<QLineEdit>(names_.confirmation);
        code_ = FindControl<QLineEdit>(names_.code);
        errorTips_ = FindControl<QLabel>(names_.errorTips);
        submit_ = FindControl<QAbstractButton>(names_.submit);
        if (codeButton_)
            codeButtonText_ = codeButton_->text();
    });
}

QString AccountFormDialog::GetSkinFile()
{
    return GuardWindowOperation(Guarded("GetSkinFile").toStdString().c_str(),
                                [this] { return QString::fromUtf8(names_.skinFile); });
}

void AccountFormDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick) && !submitting_) {
        if (msg.senderName == QLatin1String(names_.codeButton))
            RequestCode();
        else if (msg.senderName == QLatin1String(names_.submit))
            SubmitForm();
    }
    WindowImplBase::Notify(msg);
}

void AccountFormDialog::OnTimer(int id)
{
    if (id != kCountdownTimer || !codeButton_) {
        WindowImplBase::OnTimer(id);
        return;
    }
    if (countdown_-- == 1)
        StopCountdown(QStringLiteral("重新获取"));
    else
        codeButton_->setText(QString::asprintf("%d 秒", countdown_));
}

void AccountFormDialog::StopCountdown(const QString& buttonText)
{
    KillTimer(kCountdownTimer);
    codeRequestRunning_ = false;
    countdown_ = kCountdownSeconds;
    codeButton_->setText(buttonText);
}

void AccountFormDialog::SetTip(const QString& text)
{
    if (errorTips_)
        errorTips_->setText(text);
}

void AccountFormDialog::RequestCode()
{
    if (!phone_ || !codeButton_)
        return;
    const QString problem = CheckPhone(phone_->text());
    if (!problem.isEmpty()) {
        SetTip(problem);
        return;
    }
    if (codeRequestRunning_)
        return;
    SetTip(QString());
    codeButton_->setText(QString::asprintf("%d 秒", kCountdownSeconds));
    SetTimer(kCountdownTimer, kCountdownMs);
    codeRequestRunning_ = true;
    RunInBackground(
        this, [form = form_, phone = WideToAnsi(phone_->text())] { return AccountServiceInstance().RequestCode(form, phone); },
        [this](int result) { OnCodeAnswer(result); });
}

void AccountFormDialog::OnCodeAnswer(int result)
{
    if (result == 0)
        return;
    StopCountdown(codeButtonText_); // no code is on its way: the user may ask again at once
    PromptBoxDialog::Show(this, QStringLiteral("验证码发送失败!"), kPromptWidth, kPromptHeight);
}

void AccountFormDialog::SubmitForm()
{
    if (!phone_ || !password_ || !confirmation_ || !code_)
        return;
    const QString problem =
        CheckFormInput(phone_->text(), password_->text(), confirmation_->text(), code_->text());
    if (!problem.isEmpty()) {
        SetTip(problem);
        return;
    }
    SetTip(QString::fromUtf8(kWaitingText));
    submitting_ = true;
    if (submit_)
        submit_->setEnabled(false);
    const QString phone = phone_->text();
    RunInBackground(
        this,
        [form = form_, phone = WideToAnsi(phone), password = WideToAnsi(password_->text()),
         code = WideToAnsi(code_->text())] {
            ServiceAnswer answer;
            answer.result = AccountServiceInstance().Submit(form, phone, password, code, answer.reply);
            return answer;
        },
        [this, phone](const ServiceAnswer& answer) { OnSubmitAnswer(answer, phone); });
}

void AccountFormDialog::OnSubmitAnswer(const ServiceAnswer& answer, const QString& phone)
{
    submitting_ = false;
    if (submit_)
        submit_->setEnabled(true);
    SetTip(QString());
    ShowWindow(false);
    // A failed request is never read as a success, whatever its body says.
    FormOutcome outcome = ReadFormReply(form_, answer.reply);
    if (answer.result != 0 && outcome.success)
        outcome = ReadFormReply(form_, std::string());
    if (!outcome.text.isEmpty())
        PromptBoxDialog::Show(this, outcome.text, kPromptWidth, kPromptHeight);
    if (outcome.success) {
        RunModalDialog<LoginDialog>(this, mainWindow_.data(), phone);
        Close(1);
    } else if (outcome.showAgain) {
        ShowWindow(true);
    } else {
        Close(0);
    }
}
