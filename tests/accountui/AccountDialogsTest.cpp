// The account's dialogs driven through their named controls, on a service double: what the login
// and both forms do with each kind of answer, that their requests leave the window responsive
// and a closed dialog drops its answer, the code button's countdown, the account panel with
// sign-out.

#include "AccountArea.h"
#include "BackgroundCall.h"
#include "DialogDriver.h"
#include "Credentials.h"
#include "CurrentAccount.h"
#include "FakeAccountService.h"
#include "ForgotDialog.h"
#include "LoginDialog.h"
#include "PersonCenterDialog.h"
#include "PromptBoxDialog.h"
#include "RegisterDialog.h"
#include "TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

const std::string kSignedInReply = R"({"ret":0,"data":{"id":9,"mobilephone":"13800138000","last_login_ip":"127.0.0.1",)"
                                   R"("last_login_time":1700000000,"register_time":1600000000}})";

class AccountDialogsTest : public testing::Test {
protected:
    AccountDialogsTest()
    {
        auto service = std::make_unique<FakeAccountService>();
        service_ = service.get();
        SetAccountServiceForTesting(std::move(service));
        ClearCurrentAccountPhone();
    }
    ~AccountDialogsTest() override
    {
        service_->Release();
        WaitForBackgroundCalls();
        SetAccountServiceForTesting(nullptr);
    }

    bool ShowsSignedIn(const QString& phone) { return mainWindow_.ShowsSignedIn(phone); }

    TestEnv env_;
    FakeAccountService* service_;
    AccountAreaWindow mainWindow_;
};

TEST_F(AccountDialogsTest, LoginChecksAndAnswers)
{
    const QString phone = "13800138000";
    const QString p32(32, 'p');
    struct Case {
        QString phone, password;
        FakeAccountService::Answer answer;
        QString tip;      // "" = signed in, dialog closed
        bool sent;
    };
    const Case cases[] = {
        {"1380013800a", "pw", {}, "手机号只能为数字!", false},
        {phone, p32, {-1, R"({"ret":400002})"}, "网络错误!", true},
        {phone, p32, {0, "<html>busy</html>"}, "未知错误!", true},
        {phone, p32, {0, R"({"ret":400002})"}, "账号或密码错误!", true},
        {phone, p32, {0, kSignedInReply}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phone.toStdString() + " " + c.answer.reply);
        service_->login = c.answer;
        service_->logins.clear();
        QString tip;
        bool closed = false;
        WhenShown<LoginDialog>([&](LoginDialog* dialog) {
            QPointer<LoginDialog> alive(dialog);
            Type(dialog, "account", c.phone);
            Type(dialog, "password", c.password);
            testing::internal::CaptureStdout();
            Click(dialog, "loginBtn");
            closed = !AwaitAnswer(alive, &LoginDialog::Waiting);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(out.find(c.password.toStdString()), std::string::npos) << "password on standard output";
            EXPECT_EQ(out.find("message: "), c.sent ? 0u : std::string::npos) << out;
            if (!closed) {
                tip = dialog->FindControl<QLabel>("errorTips")->text();
                Click(dialog, "closebtn");
            }
        });
        const int result = RunModalDialog<LoginDialog>(&mainWindow_, &mainWindow_);
        EXPECT_EQ(tip, c.tip);
        EXPECT_EQ(closed, c.tip.isEmpty());
        EXPECT_EQ(result, c.tip.isEmpty() ? 1 : 0);
        EXPECT_EQ(service_->logins.size(), c.sent ? 1u : 0u);
        if (c.sent) {
            EXPECT_EQ(service_->logins[0], (c.phone + "/" + c.password).toStdString()) << "32 characters go out";
        }
    }
    EXPECT_TRUE(ShowsSignedIn(phone));
    EXPECT_EQ(GetCurrentAccount().id, 9);
    EXPECT_EQ(LoadCredentials().password, p32.toStdString());
}

TEST_F(AccountDialogsTest, LoginWhoseCredentialsCannotBeStoredStillSignsInAndSaysSo)
{
    ASSERT_TRUE(QDir().mkpath(CredentialsFilePath())); // a folder where the file belongs
    service_->login = {0, kSignedInReply};
    WhenShown<LoginDialog>([&](LoginDialog* dialog) {
        Type(dialog, "account", "13800138000");
        Type(dialog, "password", "pw");
        Responder responder(false);
        Click(dialog, "loginBtn");
        AwaitAnswer(QPointer<LoginDialog>(dialog), &LoginDialog::Waiting);
        EXPECT_EQ(responder.prompts, QStringList{QString::fromUtf8(LoginDialog::kNotStoredText)});
    });
    EXPECT_EQ(RunModalDialog<LoginDialog>(&mainWindow_, &mainWindow_), 1);
    EXPECT_TRUE(ShowsSignedIn("13800138000"));
    EXPECT_TRUE(IsSignedIn());
}

// Fills a form and submits it: the prompts it showed, whether it came back, whether the login
// dialog followed.
template <class Dialog>
void SubmitForm(const char* prefix, QStringList* prompts, bool* cameBack, QStringList* logins)
{
    const std::string p = prefix;
    WhenShown<Dialog>([=](Dialog* dialog) {
        QPointer<Dialog> alive(dialog);
        Type(dialog, (p + "MobilePhone").c_str(), "13800138000");
        Type(dialog, (p + "Pwd").c_str(), "Secret");
        Type(dialog, (p + "ConfirmPwd").c_str(), "Secret");
        Type(dialog, (p + "VerifyCode").c_str(), "123456");
        Responder responder;
        Click(dialog, (p + "Btn").c_str());
        *cameBack = AwaitAnswer(alive, &Dialog::Submitting);
        *prompts = responder.prompts;
        *logins = responder.logins;
        if (*cameBack)
            Click(dialog, "closebtn");
    });
}

TEST_F(AccountDialogsTest, EveryAnswerOfBothForms)
{
    struct Case {
        bool registration;
        FakeAccountService::Answer answer;
        QString prompt;
        bool cameBack;
        bool login;
    };
    const Case cases[] = {
        // Every code's text is in the reply table of the unit tests; here what the dialog does.
        {true, {0, R"({"ret":0})"}, "用户注册成功!", false, true},
        {true, {0, R"({"ret":400001})"}, "该用户已注册过!", true, false},
        {true, {0, R"({"ret":123})"}, "", false, false},
        {true, {-1, R"({"ret":0})"}, "网络错误!", false, false},
        {false, {0, R"({"ret":0})"}, "密码重置成功!", false, true},
        {false, {0, R"({"ret":123})"}, "密码重置失败!", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.registration ? "register " : "forgot ") + c.answer.reply);
        service_->submit = c.answer;
        service_->submissions.clear();
        QStringList prompts;
        bool cameBack = false;
        QStringList logins;
        if (c.registration) {
            SubmitForm<RegisterDialog>("register", &prompts, &cameBack, &logins);
            RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_);
        } else {
            SubmitForm<ForgotDialog>("forgot", &prompts, &cameBack, &logins);
            RunModalDialog<ForgotDialog>(&mainWindow_, &mainWindow_);
        }
        EXPECT_EQ(prompts, c.prompt.isEmpty() ? QStringList() : QStringList{c.prompt});
        EXPECT_EQ(cameBack, c.cameBack);
        EXPECT_EQ(logins, c.login ? QStringList{"13800138000"} : QStringList()) << "filled with the phone";
        EXPECT_EQ(service_->submissions, std::vector<std::string>{"13800138000/Secret/123456"});
    }
}

TEST_F(AccountDialogsTest, CodeButtonCountsDownAndComesBackAtOnceAfterAFailure)
{
    service_->codeResult = -1;
    WhenShown<RegisterDialog>([&](RegisterDialog* dialog) {
        auto* button = dialog->FindControl<QPushButton>("registerVerifyCodeBtn");
        const QString idle = button->text();
        Type(dialog, "registerMobilePhone", "1380013800/");
        Click(dialog, "registerVerifyCodeBtn");
        EXPECT_EQ(dialog->FindControl<QLabel>("registerErrorTips")->text(), "手机号只能为数字!");
        EXPECT_FALSE(dialog->CodeRequestRunning()) << "a bad phone never reaches the address";

        Type(dialog, "registerMobilePhone", "13800138000");
        Responder responder;
        service_->Hold();
        Click(dialog, "registerVerifyCodeBtn");
        EXPECT_EQ(button->text(), "60 秒");
        Click(dialog, "registerVerifyCodeBtn");
        service_->Release();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !responder.prompts.isEmpty(); }, kWaitMs));
        EXPECT_EQ(responder.prompts, QStringList{"验证码发送失败!"});
        EXPECT_EQ(button->text(), idle) << "no countdown after a failed request";
        EXPECT_FALSE(dialog->CodeRequestRunning());
        EXPECT_EQ(service_->codeRequests.size(), 1u) << "a second click while counting sends nothing";

        service_->codeResult = 0;
        Click(dialog, "registerVerifyCodeBtn");
        for (int tick = 0; tick < 59; ++tick)
            dialog->OnTimer(AccountFormDialog::kCountdownTimer);
        EXPECT_EQ(button->text(), "1 秒");
        dialog->OnTimer(AccountFormDialog::kCountdownTimer);
        EXPECT_EQ(button->text(), "重新获取");
        EXPECT_FALSE(dialog->CodeRequestRunning());
        EXPECT_EQ(dialog->Countdown(), 60);
        EXPECT_EQ(responder.prompts.size(), 1);
        Click(dialog, "closebtn");
    });
    RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_);
}

// A service that accepts and does not answer: the click returns while the request is held, the
// dialog shows that it waits, and once closed it never sees the answer.
TEST_F(AccountDialogsTest, RequestsWaitOnAWorkerAndAClosedDialogDropsTheAnswer)
{
    service_->login = {0, kSignedInReply};
    service_->submit = {0, R"({"ret":0})"};
    service_->codeResult = -1;
    struct Case {
        const char* button;
        std::function<void(WindowImplBase*)> fill;
        std::function<bool(WindowImplBase*)> waiting;
        std::function<int()> open;
    };
    const auto fillForm = [](WindowImplBase* d) {
        Type(d, "registerMobilePhone", "13800138000");
        Type(d, "registerPwd", "Secret");
        Type(d, "registerConfirmPwd", "Secret");
        Type(d, "registerVerifyCode", "123456");
    };
    const auto submitting = [](WindowImplBase* d) {
        return static_cast<RegisterDialog*>(d)->Submitting() && !d->FindControl<QPushButton>("registerBtn")->isEnabled();
    };
    const Case cases[] = {
        {"loginBtn",
         [](WindowImplBase* d) {
             Type(d, "account", "13800138000");
             Type(d, "password", "pw");
         },
         [](WindowImplBase* d) {
             return static_cast<LoginDialog*>(d)->Waiting() && !d->FindControl<QPushButton>("loginBtn")->isEnabled() &&
                    d->FindControl<QLabel>("errorTips")->text() == QString::fromUtf8(LoginDialog::kWaitingText);
         },
         [this] { return RunModalDialog<LoginDialog>(&mainWindow_, &mainWindow_); }},
        {"registerBtn", fillForm, submitting, [this] { return RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_); }},
        {"registerVerifyCodeBtn", fillForm,
         [](WindowImplBase* d) { return static_cast<RegisterDialog*>(d)->CodeRequestRunning(); },
         [this] { return RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        service_->Hold();
        const int arrived = service_->Arrived();
        Responder responder(std::string(c.button) != "loginBtn");
        const auto step = [&](WindowImplBase* dialog) {
            c.fill(dialog);
            Click(dialog, c.button);
            EXPECT_TRUE(QTest::qWaitFor([&] { return service_->Arrived() == arrived + 1; }, kWaitMs));
            EXPECT_TRUE(c.waiting(dialog));
            Click(dialog, "closebtn");
        };
        if (std::string(c.button) == "loginBtn")
            WhenShown<LoginDialog>(step);
        else
            WhenShown<RegisterDialog>(step);
        EXPECT_EQ(c.open(), 0);
        service_->Release();
        WaitForBackgroundCalls();
        QCoreApplication::processEvents(); // the answer, handed over
        EXPECT_TRUE(responder.prompts.isEmpty());
        EXPECT_TRUE(responder.logins.isEmpty());
        EXPECT_TRUE(mainWindow_.ShowsSignedOut());
        EXPECT_FALSE(IsSignedIn());
        EXPECT_FALSE(QFile::exists(CredentialsFilePath()));
    }
}

TEST_F(AccountDialogsTest, AccountPanelSignsOutAndClosesWhenLeft)
{
    ASSERT_TRUE(SaveCredentials("13800138000", "pw"));
    CurrentAccount account;
    account.mobilePhone = "13800138000";
    ApplyAccountReply(account);
    ShowSignedIn(&mainWindow_, "13800138000");

    OpenPersonCenter(&mainWindow_);
    PersonCenterDialog* panel = VisibleWindow<PersonCenterDialog>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->FindControl<QLabel>("account")->text(), "13800138000");
    const QWidget* label = mainWindow_.Area("username");
    const QPoint labelAt = label->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(panel->pos(), QPoint(labelAt.x() - label->width() / 2, labelAt.y() + label->height() + 6));

    // Another window becomes active: the panel goes.
    QPointer<PersonCenterDialog> alive(panel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->isActiveWindow(); }, kWaitMs));
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, kWaitMs));
    EXPECT_TRUE(ShowsSignedIn("13800138000"));

    OpenPersonCenter(&mainWindow_);
    alive = VisibleWindow<PersonCenterDialog>();
    ASSERT_TRUE(alive);
    Click(alive, "logout");
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, kWaitMs));
    EXPECT_FALSE(QFile::exists(CredentialsFilePath()));
    EXPECT_FALSE(IsSignedIn());
    EXPECT_TRUE(mainWindow_.ShowsSignedOut());
}

} // namespace
