// The account's dialogs driven through their named controls, on a service double that can hold a
// request unanswered: what the login and both forms do with each kind of answer and while they
// wait, the code request, the automatic login, the account panel with sign-out.

#include "AccountArea.h"
#include "BackgroundCall.h"
#include "BoxResponder.h"
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
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace {

void Type(WindowImplBase* window, const char* name, const QString& text)
{
    auto* edit = window->FindControl<QLineEdit>(name);
    ASSERT_TRUE(edit) << name;
    edit->setText(text);
}

void Click(WindowImplBase* window, const char* name)
{
    auto* button = window->FindControl<QPushButton>(name);
    ASSERT_TRUE(button) << name;
    QTest::mouseClick(button, Qt::LeftButton);
}

// Waits until a dialog's request has been answered (waiting() false, or the dialog gone) and the
// answer's own consequences (a queued close) have run. True when the dialog is still shown.
template <class Dialog, class Waiting>
bool AwaitAnswer(const QPointer<Dialog>& dialog, Waiting waiting)
{
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog || !(dialog->*waiting)(); }, kDeliveryTimeoutMs)) << "no answer";
    QCoreApplication::processEvents();
    return dialog && dialog->isVisible();
}

// A window with the main window's account area: "username", "login", "separator", "register".
class AccountAreaWindow : public QWidget {
public:
    AccountAreaWindow()
    {
        auto* layout = new QHBoxLayout(this);
        for (const char* name : {"username", "login", "separator", "register"}) {
            auto* button = new QPushButton(QString::fromLatin1(name), this);
            button->setObjectName(QString::fromLatin1(name));
            button->setVisible(button->objectName() != "username");
            layout->addWidget(button);
        }
        setGeometry(300, 200, 400, 100);
        show();
    }
    // What the area shows: the signed-in phone alone, or "login separator register".
    QString Shown() const
    {
        QStringList shown;
        for (const QPushButton* button : findChildren<QPushButton*>())
            if (button->isVisible())
                shown << (button->objectName() == "username" ? button->text() : button->objectName());
        return shown.join(' ');
    }
};

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
    const QString valid = "13800138000";
    const QString p32(32, 'p');
    const QString waiting = QString::fromUtf8(LoginDialog::kWaitingText);
    // phone, password, the service's answer, the tip ("": signed in, dialog closed; the waiting
    // text: closed while waiting), sent, a folder where the credentials file belongs
    const std::tuple<QString, QString, FakeAccountService::Answer, QString, bool, bool> cases[] = {
        {"1380013800a", "pw", {}, "手机号只能为数字!", false, false},
        {valid, p32, {-1, R"({"ret":400002})"}, "网络错误!", true, false},
        {valid, p32, {0, "<html>busy</html>"}, "未知错误!", true, false},
        {valid, p32, {0, R"({"ret":400002})"}, "账号或密码错误!", true, false},
        {valid, p32, {0, kSignedInReply}, waiting, true, false}, // the answer is dropped
        {valid, p32, {0, kSignedInReply}, "", true, true}, // signed in all the same, and told
        {valid, p32, {0, kSignedInReply}, "", true, false},
    };
    for (const auto& [phone, password, answer, expectedTip, sent, unstorable] : cases) {
        SCOPED_TRACE(phone.toStdString() + " " + answer.reply + (unstorable ? " unstorable" : ""));
        SignOut(&mainWindow_);
        ASSERT_TRUE(!unstorable || QDir().mkpath(CredentialsFilePath()));
        service_->login = answer;
        service_->logins.clear();
        BoxResponder responder;
        QString tip;
        bool closed = false;
        WhenShown<LoginDialog>([&](LoginDialog* dialog) {
            QPointer<LoginDialog> alive(dialog);
            Type(dialog, "account", phone);
            Type(dialog, "password", password);
            testing::internal::CaptureStdout();
            service_->Hold(true); // a service that accepts and does not answer yet
            Click(dialog, "loginBtn");
            EXPECT_EQ(dialog->Waiting() && !dialog->FindControl<QPushButton>("loginBtn")->isEnabled(), sent);
            if (expectedTip != waiting)
                service_->Hold(false);
            closed = expectedTip != waiting && !AwaitAnswer(alive, &LoginDialog::Waiting);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(out.find(password.toStdString()), std::string::npos) << "password on standard output";
            if (!closed) {
                tip = dialog->FindControl<QLabel>("errorTips")->text();
                Click(dialog, "closebtn");
            }
        });
        const int result = RunModalDialog<LoginDialog>(&mainWindow_, &mainWindow_);
        service_->Hold(false);
        WaitForBackgroundCalls();
        QCoreApplication::processEvents(); // an answer still on its way
        EXPECT_EQ(IsSignedIn(), expectedTip.isEmpty());
        EXPECT_EQ(mainWindow_.Shown(), expectedTip.isEmpty() ? phone : "login separator register");
        EXPECT_EQ(tip, expectedTip);
        EXPECT_EQ(result, expectedTip.isEmpty() ? 1 : 0);
        EXPECT_EQ(responder.texts, unstorable ? QStringList{QString::fromUtf8(LoginDialog::kNotStoredText)} : QStringList());
        EXPECT_EQ(service_->logins, sent ? std::vector<std::string>{(phone + "/" + password).toStdString()}
                                         : std::vector<std::string>()) << "32 characters go out";
        QDir().rmdir(CredentialsFilePath());
    }
    EXPECT_EQ(GetCurrentAccount().id, 9);
    EXPECT_EQ(LoadCredentials().password, p32.toStdString());
}

TEST_F(AccountDialogsTest, EveryAnswerOfBothForms)
{
    // form, the service's answer, prompts, the form came back, a login opened
    const std::tuple<std::string, FakeAccountService::Answer, QString, bool, bool> cases[] = {
        // Every code's text is in the reply table of the unit tests; here what the dialog does.
        {"register", {0, R"({"ret":0})"}, "用户注册成功!", false, true},
        {"register", {0, R"({"ret":400001})"}, "该用户已注册过!", true, false},
        {"register", {0, R"({"ret":123})"}, "", false, false},
        {"register", {-1, R"({"ret":0})"}, "验证码发送失败!|网络错误!", false, false}, // the code request fails too
        {"forgot", {0, R"({"ret":0})"}, "密码重置成功!", false, true},
        {"forgot", {0, R"({"ret":123})"}, "密码重置失败!", true, false},
    };
    for (const auto& [form, answer, prompt, expectCameBack, login] : cases) {
        SCOPED_TRACE(form + " " + answer.reply);
        service_->submit = answer;
        service_->codeResult = answer.result;
        service_->submissions.clear();
        service_->codeRequests.clear();
        BoxResponder responder;
        QStringList logins; // the phone of each login dialog that shows (closed at once)
        QPointer<QWidget> lastLogin;
        responder.onLook = [&] {
            if (auto* dialog = VisibleWindow<LoginDialog>(); dialog && dialog != lastLogin) {
                lastLogin = dialog;
                logins.push_back(dialog->FindControl<QLineEdit>("account")->text());
                dialog->Close(0);
            }
        };
        bool cameBack = false;
        WhenShown<AccountFormDialog>([&](AccountFormDialog* dialog) {
            QPointer<AccountFormDialog> alive(dialog);
            Type(dialog, (form + "MobilePhone").c_str(), "1380013800/");
            Click(dialog, (form + "VerifyCodeBtn").c_str()); // refused before it is sent
            Type(dialog, (form + "MobilePhone").c_str(), "13800138000");
            Click(dialog, (form + "VerifyCodeBtn").c_str());
            Click(dialog, (form + "VerifyCodeBtn").c_str()); // while one is on its way: not sent
            // A failed request is told at once and may be made again.
            EXPECT_TRUE(answer.result == 0 || QTest::qWaitFor([&] { return !alive->CodeRequestRunning(); }, kDeliveryTimeoutMs));
            Type(dialog, (form + "Pwd").c_str(), "Secret");
            Type(dialog, (form + "ConfirmPwd").c_str(), "Secret");
            Type(dialog, (form + "VerifyCode").c_str(), "123456");
            service_->Hold(true);
            Click(dialog, (form + "Btn").c_str());
            EXPECT_TRUE(dialog->Submitting() && !dialog->FindControl<QPushButton>((form + "Btn").c_str())->isEnabled());
            service_->Hold(false);
            if ((cameBack = AwaitAnswer(alive, &AccountFormDialog::Submitting)))
                Click(dialog, "closebtn");
        });
        form == "register" ? RunModalDialog<RegisterDialog>(&mainWindow_, &mainWindow_)
                           : RunModalDialog<ForgotDialog>(&mainWindow_, &mainWindow_);
        WaitForBackgroundCalls();
        EXPECT_EQ(responder.texts.join('|'), prompt);
        EXPECT_EQ(service_->codeRequests, std::vector<std::string>{"13800138000"});
        EXPECT_EQ(cameBack, expectCameBack);
        EXPECT_EQ(logins, login ? QStringList{"13800138000"} : QStringList()) << "filled with the phone";
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
