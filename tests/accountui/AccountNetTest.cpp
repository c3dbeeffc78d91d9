// The account end to end against tamsu-service on 127.0.0.1: register with a code from the SMS
// outbox, log in, start again and be signed in automatically, sign out, reset the password and
// log in with the new one, all through the program's own windows and requests.

#include "AccountArea.h"
#include "Credentials.h"
#include "CurrentAccount.h"
#include "DialogDriver.h"
#include "ForgotDialog.h"
#include "RegisterDialog.h"
#include "ServiceProcess.h"
#include "TestEnv.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sqlite3.h>

namespace {

const QString kPhone = "13912345678";

// Fills and submits a form: asks for a code, reads it from the outbox, sends the form. The
// prompts it showed; the login dialog that follows a success is closed.
template <class Dialog>
QStringList RunForm(AccountAreaWindow& window, ServiceProcess& service, const char* prefix, const QString& password)
{
    QStringList prompts;
    const std::string p = prefix;
    WhenShown<Dialog>([&](Dialog* dialog) {
        Responder responder;
        Type(dialog, (p + "MobilePhone").c_str(), kPhone);
        const size_t sent = service.OutboxLines().size();
        Click(dialog, (p + "VerifyCodeBtn").c_str());
        EXPECT_TRUE(QTest::qWaitFor([&] { return service.OutboxLines().size() > sent; }, kWaitMs));
        const std::string code = service.LatestCode(kPhone.toStdString());
        EXPECT_EQ(code.size(), 6u) << "no code in the outbox";
        Type(dialog, (p + "VerifyCode").c_str(), QString::fromStdString(code));
        Type(dialog, (p + "Pwd").c_str(), password);
        Type(dialog, (p + "ConfirmPwd").c_str(), password);
        QPointer<Dialog> alive(dialog);
        Click(dialog, (p + "Btn").c_str());
        if (AwaitAnswer(alive, &Dialog::Submitting))
            Click(dialog, "closebtn");
        prompts = responder.texts;
        EXPECT_EQ(responder.logins, QStringList{kPhone}) << "the login dialog follows a success, filled in";
    });
    RunModalDialog<Dialog>(&window, &window);
    return prompts;
}

// Makes the codes sent so far look seconds older (the service is stopped).
void MoveCodesBack(const std::string& dataDir, int seconds)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dataDir + "/tamsu-service.db").c_str(), &db), SQLITE_OK);
    const std::string sql = "UPDATE codes_sent SET sent_at = sent_at - " + std::to_string(seconds);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// Logs in through the dialog; the error tip when it stays open, "" when it signed in.
QString RunLogin(AccountAreaWindow& window, const QString& password)
{
    QString tip;
    WhenShown<LoginDialog>([&](LoginDialog* dialog) {
        QPointer<LoginDialog> alive(dialog);
        Type(dialog, "account", kPhone);
        Type(dialog, "password", password);
        Click(dialog, "loginBtn");
        if (AwaitAnswer(alive, &LoginDialog::Waiting)) {
            tip = dialog->FindControl<QLabel>("errorTips")->text();
            Click(dialog, "closebtn");
        }
    });
    RunModalDialog<LoginDialog>(&window, &window);
    return tip;
}

TEST(AccountNetTest, RegisterLoginRestartSignOutResetLogin)
{
    TestEnv env;
    ServiceProcess service;
    ASSERT_TRUE(service.Start()) << service.Error();
    ::setenv("TAMSU_SERVICE_URL", service.BaseUrl().c_str(), 1);
    ClearCurrentAccountPhone();
    AccountAreaWindow window;

    EXPECT_EQ(RunForm<RegisterDialog>(window, service, "register", "first-Pass\"1"), QStringList{"用户注册成功!"});

    EXPECT_EQ(RunLogin(window, "first-Pass\"1"), "");
    EXPECT_TRUE(window.ShowsSignedIn(kPhone));
    EXPECT_TRUE(QFile::exists(CredentialsFilePath()));

    // The next start: nobody signed in, then the automatic login.
    ClearCurrentAccountPhone();
    ShowSignedOut(&window);
    StartAutoLogin(&window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.ShowsSignedIn(kPhone); }, kWaitMs));
    EXPECT_EQ(SignedInPhone(), kPhone.toStdString());
    EXPECT_GT(GetCurrentAccount().id, 0);

    // A minute later (the service allows one code a minute per phone), after a restart.
    service.Stop();
    MoveCodesBack(service.DataDir(), 60);
    ASSERT_TRUE(service.Start()) << service.Error();
    ::setenv("TAMSU_SERVICE_URL", service.BaseUrl().c_str(), 1);

    SignOut(&window);
    EXPECT_FALSE(QFile::exists(CredentialsFilePath()));
    EXPECT_TRUE(window.ShowsSignedOut());
    EXPECT_FALSE(IsSignedIn());

    EXPECT_EQ(RunForm<ForgotDialog>(window, service, "forgot", "second-Pass"), QStringList{"密码重置成功!"});
    EXPECT_EQ(RunLogin(window, "first-Pass\"1"), "账号或密码错误!");
    EXPECT_EQ(RunLogin(window, "second-Pass"), "");
    EXPECT_TRUE(window.ShowsSignedIn(kPhone));
    ::unsetenv("TAMSU_SERVICE_URL");
}

} // namespace
