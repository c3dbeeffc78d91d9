// The account's dialogs driven through their named controls, on a service double: what the login
// and both forms do with each kind of answer, the code button's countdown, the account panel
// with sign-out.

#include "AccountArea.h"
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
    ~AccountDialogsTest() override { SetAccountServiceForTesting(nullptr); }

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
        {phone, p32, {-1, ""}, "账号或密码错误!", true},
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
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(out.find(c.password.toStdString()), std::string::npos) << "password on standard output";
            EXPECT_EQ(out.find("message: "), c.sent ? 0u : std::string::npos) << out;
            closed = QTest::qWaitFor([&] { return alive.isNull() || !alive->isVisible(); }, c.tip.isEmpty() ? kWaitMs : 50);
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
        EXPECT_EQ(responder.prompts, QStringList{QString::fromUtf8(LoginDialog::kNotStoredText)});
    });
    EXPECT_EQ(RunModalDialog<LoginDialog>(&mainWindow_, &mainWindow_), 1);
    EXPECT_TRUE(ShowsSignedIn("13800138000"));
    EXPECT_TRUE(IsSignedIn());
}

// Fills a form and submits it: the prompts it showed, whether it came back, whether the login
// dialog followed.
template <class Dialog>
void SubmitForm(const char* prefix, QStringList* prompts, bool* cameBack, int* logins)
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
        *prompts = responder.prompts;
        *logins = responder.logins;
        *cameBack = alive && dialog->isVisible();
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
        int logins = 0;
        if (c.registration) {
            SubmitForm<RegisterDialog>("register", &prompts, &cameBack, &logins);
            RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_);
        } else {
            SubmitForm<ForgotDialog>("forgot", &prompts, &cameBack, &logins);
            RunModalDialog<ForgotDialog>(&mainWindow_, &mainWindow_);
        }
        EXPECT_EQ(prompts, c.prompt.isEmpty() ? QStringList() : QStringList{c.prompt});
        EXPECT_EQ(cameBack, c.cameBack);
        EXPECT_EQ(logins, c.login ? 1 : 0);
        EXPECT_EQ(service_->submissions, std::vector<std::string>{"13800138000/Secret/123456"});
    }
}

TEST_F(AccountDialogsTest, CodeButtonCountsDownAndSendsOneRequestAMinute)
{
    service_->codeResult = -1;
    WhenShown<RegisterDialog>([&](RegisterDialog* dialog) {
        auto* button = dialog->FindControl<QPushButton>("registerVerifyCodeBtn");
        Type(dialog, "registerMobilePhone", "1380013800/");
        Click(dialog, "registerVerifyCodeBtn");
        EXPECT_EQ(dialog->FindControl<QLabel>("registerErrorTips")->text(), "手机号只能为数字!");
        EXPECT_FALSE(dialog->CodeRequestRunning()) << "a bad phone never reaches the address";

        Type(dialog, "registerMobilePhone", "13800138000");
        Responder responder;
        Click(dialog, "registerVerifyCodeBtn");
        EXPECT_EQ(responder.prompts, QStringList{"验证码发送失败!"});
        EXPECT_EQ(button->text(), "60 秒") << "the countdown runs after a failed request too";
        Click(dialog, "registerVerifyCodeBtn");
        EXPECT_EQ(service_->codeRequests.size(), 1u) << "a second click within the minute sends nothing";

        for (int tick = 0; tick < 59; ++tick)
            dialog->OnTimer(AccountFormDialog::kCountdownTimer);
        EXPECT_EQ(button->text(), "1 秒");
        EXPECT_TRUE(dialog->CodeRequestRunning());
        dialog->OnTimer(AccountFormDialog::kCountdownTimer);
        EXPECT_EQ(button->text(), "重新获取");
        EXPECT_FALSE(dialog->CodeRequestRunning());
        EXPECT_EQ(dialog->Countdown(), 60);

        service_->codeResult = 0;
        Click(dialog, "registerVerifyCodeBtn");
        EXPECT_EQ(service_->codeRequests, (std::vector<std::string>{"13800138000", "13800138000"}));
        Click(dialog, "closebtn");
    });
    RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_);
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
