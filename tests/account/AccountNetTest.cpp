// The account's requests against tamsu-service on 127.0.0.1: register with a code from the SMS
// outbox, log in, reset the password and log in with the new one. (The automatic login sends the
// same login; what it and the windows do with each answer: the tests on a service double.)

#include "AccountService.h"
#include "ServiceProcess.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace {

const std::string kPhone = "13912345678";

// Asks for a code, reads it from the outbox and submits the form; what the user is told.
QString SubmitForm(const ServiceProcess& service, AccountForm form, const std::string& password)
{
    AccountService& account = AccountServiceInstance();
    EXPECT_EQ(account.RequestCode(form, kPhone), 0);
    const std::string code = service.LatestCode(kPhone);
    EXPECT_EQ(code.size(), 6u) << "no code in the outbox";
    std::string reply;
    EXPECT_EQ(account.Submit(form, kPhone, password, code, reply), 0) << reply;
    return ReadFormReply(form, reply).text;
}

LoginReply Login(const std::string& password)
{
    std::string reply;
    EXPECT_EQ(AccountServiceInstance().Login(kPhone, password, reply), 0);
    CurrentAccount account;
    return ReadLoginReply(reply, account);
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

TEST(AccountNetTest, RegisterLoginResetLogin)
{
    TestEnv env;
    ServiceProcess service;
    ASSERT_TRUE(service.Start()) << service.Error();
    env.Set("TAMSU_SERVICE_URL", service.BaseUrl());

    EXPECT_EQ(SubmitForm(service, AccountForm::kRegister, "first-Pass\"1"), "用户注册成功!");
    EXPECT_EQ(Login("first-Pass\"1"), LoginReply::kSignedIn);

    // A minute later (the service allows one code a minute per phone), after a restart.
    service.Stop();
    MoveCodesBack(service.DataDir(), 60);
    ASSERT_TRUE(service.Start()) << service.Error();
    env.Set("TAMSU_SERVICE_URL", service.BaseUrl());
    EXPECT_EQ(SubmitForm(service, AccountForm::kForgot, "second-Pass"), "密码重置成功!");
    EXPECT_EQ(Login("first-Pass\"1"), LoginReply::kRefused);
    EXPECT_EQ(Login("second-Pass"), LoginReply::kSignedIn);
}

} // namespace
