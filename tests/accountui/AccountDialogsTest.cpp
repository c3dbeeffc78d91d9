// The account's dialogs driven through their named controls, on a service double that can hold a
// request unanswered: what the login and both forms do with each kind of answer and while they
// wait, the code request, the automatic login, the account panel with sign-out.

#include "AccountArea.h"
#include "BackgroundCall.h"
#include "DialogDriver.h"
#include "Credentials.h"
#include "CurrentAccount.h"
#include "FakeAccountService.h"
#include "ForgotDialog.h"
#include "LoginDialog.h"
#include "PersonCenterDialog.h"
#include "RegisterDialog.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

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
        service_->Hold(false);
        WaitForBackgroundCalls();
        SetAccountServiceForTesting(nullptr);
    }

    TestEnv env_;
    FakeAccountService* service_;
    AccountAreaWindow mainWindow_;
};

TEST_F(AccountDialogsTest, LoginChecksAndAnswers)
{
    const QString phone = "13800138000";
    const QString p32(32, 'p');
    const QString waiting = QString::fromUtf8(LoginDialog::kWaitingText);
    struct Case {
        QString phone, password;
        FakeAccountService::Answer answer;
        QString tip;      // "" = signed in, dialog closed; the waiting text: closed while waiting
        bool sent;
        bool unstorable = false; // a folder where the credentials file belongs
    };
    const Case cases[] = {
        {"1380013800a", "pw", {}, "手机号只能为数字!", false},
        {phone, p32, {-1, R"({"ret":400002})"}, "网络错误!", true},
        {phone, p32, {0, "<html>busy</html>"}, "未知错误!", true},
        {phone, p32, {0, R"({"ret":400002})"}, "账号或密码错误!", true},
        {phone, p32, {0, kSignedInReply}, waiting, true}, // the answer is dropped
        {phone, p32, {0, kSignedInReply}, "", true, true}, // signed in all the same, and told
        {phone, p32, {0, kSignedInReply}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phone.toStdString() + " " + c.answer.reply + (c.unstorable ? " unstorable" : ""));
        SignOut(&mainWindow_);
        ASSERT_TRUE(!c.unstorable || QDir().mkpath(CredentialsFilePath()));
        service_->login = c.answer;
        service_->logins.clear();
        BoxResponder responder;
        QString tip;
        bool closed = false;
        WhenShown<LoginDialog>([&](LoginDialog* dialog) {
            QPointer<LoginDialog> alive(dialog);
            Type(dialog, "account", c.phone);
            Type(dialog, "password", c.password);
            testing::internal::CaptureStdout();
            service_->Hold(true); // a service that accepts and does not answer yet
            Click(dialog, "loginBtn");
            EXPECT_EQ(dialog->Waiting() && !dialog->FindControl<QPushButton>("loginBtn")->isEnabled(), c.sent);
            if (c.tip != waiting)
                service_->Hold(false);
            closed = c.tip != waiting && !AwaitAnswer(alive, &LoginDialog::Waiting);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(out.find(c.password.toStdString()), std::string::npos) << "password on standard output";
            EXPECT_EQ(out.find("message: "), c.sent ? 0u : std::string::npos) << out;
            if (!closed) {
                tip = dialog->FindControl<QLabel>("errorTips")->text();
                Click(dialog, "closebtn");
            }
        });
        const int result = RunModalDialog<LoginDialog>(&mainWindow_, &mainWindow_);
        service_->Hold(false);
        WaitForBackgroundCalls();
        QCoreApplication::processEvents(); // an answer still on its way
        EXPECT_EQ(IsSignedIn(), c.tip.isEmpty());
        EXPECT_EQ(mainWindow_.Shown(), c.tip.isEmpty() ? phone : "login separator register");
        EXPECT_EQ(tip, c.tip);
        EXPECT_EQ(result, c.tip.isEmpty() ? 1 : 0);
        EXPECT_EQ(responder.texts, c.unstorable ? QStringList{QString::fromUtf8(LoginDialog::kNotStoredText)} : QStringList());
        EXPECT_EQ(service_->logins, c.sent ? std::vector<std::string>{(c.phone + "/" + c.password).toStdString()}
                                           : std::vector<std::string>()) << "32 characters go out";
        QDir().rmdir(CredentialsFilePath());
    }
    EXPECT_EQ(GetCurrentAccount().id, 9);
    EXPECT_EQ(LoadCredentials().password, p32.toStdString());
}

TEST_F(AccountDialogsTest, EveryAnswerOfBothForms)
{
    struct Case {
        std::string form;
        FakeAccountService::Answer answer;
        QString prompt;
        bool cameBack;
        bool login;
    };
    const Case cases[] = {
        // Every code's text is in the reply table of the unit tests; here what the dialog does.
        {"register", {0, R"({"ret":0})"}, "用户注册成功!", false, true},
        {"register", {0, R"({"ret":400001})"}, "该用户已注册过!", true, false},
        {"register", {0, R"({"ret":123})"}, "", false, false},
        {"register", {-1, R"({"ret":0})"}, "验证码发送失败!|网络错误!", false, false}, // the code request fails too
        {"forgot", {0, R"({"ret":0})"}, "密码重置成功!", false, true},
        {"forgot", {0, R"({"ret":123})"}, "密码重置失败!", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form + " " + c.answer.reply);
        service_->submit = c.answer;
        service_->codeResult = c.answer.result;
        service_->submissions.clear();
        service_->codeRequests.clear();
        Responder responder;
        bool cameBack = false;
        WhenShown<AccountFormDialog>([&](AccountFormDialog* dialog) {
            QPointer<AccountFormDialog> alive(dialog);
            Type(dialog, (c.form + "MobilePhone").c_str(), "1380013800/");
            Click(dialog, (c.form + "VerifyCodeBtn").c_str()); // refused before it is sent
            Type(dialog, (c.form + "MobilePhone").c_str(), "13800138000");
            Click(dialog, (c.form + "VerifyCodeBtn").c_str());
            Click(dialog, (c.form + "VerifyCodeBtn").c_str()); // while one is on its way: not sent
            // A failed request is told at once and may be made again.
            EXPECT_TRUE(c.answer.result == 0 || QTest::qWaitFor([&] { return !alive->CodeRequestRunning(); }, kDeliveryTimeoutMs));
            Type(dialog, (c.form + "Pwd").c_str(), "Secret");
            Type(dialog, (c.form + "ConfirmPwd").c_str(), "Secret");
            Type(dialog, (c.form + "VerifyCode").c_str(), "123456");
            service_->Hold(true);
            Click(dialog, (c.form + "Btn").c_str());
            EXPECT_TRUE(dialog->Submitting() && !dialog->FindControl<QPushButton>((c.form + "Btn").c_str())->isEnabled());
            service_->Hold(false);
            if ((cameBack = AwaitAnswer(alive, &AccountFormDialog::Submitting)))
                Click(dialog, "closebtn");
        });
        c.form == "register" ? RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_)
                             : RunModalDialog<ForgotDialog>(&mainWindow_, &mainWindow_);
        WaitForBackgroundCalls();
        EXPECT_EQ(responder.texts.join('|'), c.prompt);
        EXPECT_EQ(service_->codeRequests, std::vector<std::string>{"13800138000"});
        EXPECT_EQ(cameBack, c.cameBack);
        EXPECT_EQ(responder.logins, c.login ? QStringList{"13800138000"} : QStringList()) << "filled with the phone";
        EXPECT_EQ(service_->submissions, std::vector<std::string>{"13800138000/Secret/123456"});
    }
}

TEST_F(AccountDialogsTest, AutomaticLoginShowsTheAccountAndItsPanelSignsOut)
{
    ASSERT_TRUE(SaveCredentials("13800138000", "pw"));
    service_->login = {0, kSignedInReply};
    StartAutoLogin(&mainWindow_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mainWindow_.Shown() == "13800138000"; }, kDeliveryTimeoutMs));
    EXPECT_EQ(service_->logins, std::vector<std::string>{"13800138000/pw"});

    OpenPersonCenter(&mainWindow_);
    QPointer<PersonCenterDialog> panel = VisibleWindow<PersonCenterDialog>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->FindControl<QLabel>("account")->text(), "13800138000");
    Click(panel, "logout");
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel.isNull(); }, kDeliveryTimeoutMs));
    EXPECT_FALSE(QFile::exists(CredentialsFilePath()));
    EXPECT_FALSE(IsSignedIn());
    EXPECT_EQ(mainWindow_.Shown(), "login separator register");
}

} // namespace
