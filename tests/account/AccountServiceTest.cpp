// The account's checks, the replies of the login and of both forms, and the automatic login's
// hand-over, on a service double.

#include "AccountService.h"
#include "AutoLoginThread.h"
#include "Credentials.h"
#include "FakeAccountService.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {

TEST(AccountChecksTest, LoginAndFormChecksInOrder)
{
    const QString phone = "13800138000";
    const QString p32(32, 'p');
    const QString p33(33, 'p');
    struct Case {
        QString phone, password, confirmation, code, login, form;
    };
    const Case cases[] = {
        {"", "", "", "", "手机号不能为空!", "手机号不能为空!"},
        {"1380013800", "x", "x", "1", "非法的手机号!", "非法的手机号!"},
        {QString::fromUtf8("1380013800１"), "x", "x", "1", "手机号只能为数字!", "手机号只能为数字!"},
        {"13800/38000", "x", "x", "1", "手机号只能为数字!", "手机号只能为数字!"},
        {phone, "", "x", "1", "密码不能为空!", "密码不能为空!"},
        {phone, p33, p33, "1", "密码不能超过32位!", "密码不能超过32位!"},
        {phone, p32, p32, "", "", "验证码不能为空!"},
        {phone, "Secret", "secret", "1", "", "确认密码不一致!"},
        {phone, p32, p32, "123456", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phone.toStdString() + " / " + c.password.toStdString());
        EXPECT_EQ(CheckLoginInput(c.phone, c.password), c.login);
        EXPECT_EQ(CheckFormInput(c.phone, c.password, c.confirmation, c.code), c.form);
    }
}

TEST(AccountRepliesTest, LoginReplies)
{
    const std::string data = R"("data":{"id":7,"mobilephone":"13800138000","last_login_ip":"127.0.0.1",)"
                             R"("last_login_time":"1700000000","register_time":1600000000})";
    struct Case {
        std::string reply;
        LoginReply expected;
    };
    const Case cases[] = {
        {"{\"ret\":0," + data + "}", LoginReply::kSignedIn},
        {"{" + data + "}", LoginReply::kSignedIn}, // a missing "ret" reads as 0
        {R"({"ret":400002})", LoginReply::kRefused},
        {"<html>", LoginReply::kUnparsable},
        {R"({"ret":"0"})", LoginReply::kUnparsable},
        {R"({"ret":0,"data":"13800138000"})", LoginReply::kUnparsable},
        {R"({"ret":0,"data":{"id":"x7","mobilephone":"13800138000","last_login_time":1,"register_time":1}})",
         LoginReply::kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":"13800138000","register_time":1}})", LoginReply::kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":"13800138000","last_login_time":4294967296,"register_time":1}})",
         LoginReply::kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":"","last_login_time":1,"register_time":1}})",
         LoginReply::kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":[1],"last_login_time":1,"register_time":1}})",
         LoginReply::kUnparsable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        CurrentAccount account;
        EXPECT_EQ(ReadLoginReply(c.reply, account), c.expected);
        EXPECT_EQ(account.SignedIn(), c.expected == LoginReply::kSignedIn);
    }
    CurrentAccount account; // numbers as JSON numbers or numeric texts
    ASSERT_EQ(ReadLoginReply("{\"ret\":0," + data + "}", account), LoginReply::kSignedIn);
    EXPECT_EQ(std::make_tuple(account.id, account.lastLoginIp, account.lastLoginTime, account.registerTime),
              std::make_tuple(7, std::string("127.0.0.1"), 1700000000, 1600000000));
}

// One row per way through the reader (the codes both forms share: once; success and a taken phone:
// the dialogs' table).
TEST(AccountRepliesTest, EveryWayThroughTheFormReplies)
{
    struct Case {
        AccountForm form;
        std::string reply;
        QString text;
        bool showAgain;
        bool success;
    };
    const auto R = AccountForm::kRegister;
    const auto F = AccountForm::kForgot;
    const Case cases[] = {
        {F, R"({"ret":600001})", "验证码错误!", true, false},
        {R, R"({"ret":600002})", "验证码无效!", true, false},
        {F, R"({"ret":600003})", "验证码无效!", true, false},
        {R, R"({"ret":400002})", "", false, false},
        {F, R"({"ret":400002})", "用户不存在!", true, false},
        {F, R"({"ret":400001})", "密码重置失败!", true, false},
        {F, "not json", "网络错误!", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply + (c.form == R ? " register" : " forgot"));
        const FormOutcome outcome = ReadFormReply(c.form, c.reply);
        EXPECT_EQ(std::make_tuple(outcome.text, outcome.showAgain, outcome.success), std::make_tuple(c.text, c.showAgain, c.success));
    }
}

TEST(AutoLoginTest, OutcomesOfTheStoredCredentialsAndALateResult)
{
    TestEnv env;
    auto owned = std::make_unique<FakeAccountService>();
    FakeAccountService* service = owned.get();
    SetAccountServiceForTesting(std::move(owned));
    const std::string ok = R"({"ret":0,"data":{"id":3,"mobilephone":"13800138000","last_login_ip":"",)"
                           R"("last_login_time":1,"register_time":1}})";
    struct Case {
        const char* what;
        std::string password; // stored
        int result;
        std::string reply;
        size_t logins;
        bool signedIn;
    };
    const Case cases[] = {
        // (No file at all reads as empty: CredentialsTest.)
        {"empty password", "", 0, ok, 0, false},
        {"signed in", "pw", 0, ok, 1, true},
        {"post failed", "pw", -1, ok, 1, false},
        {"refused", "pw", 0, R"({"ret":400002})", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(SaveCredentials("13800138000", c.password));
        ClearCurrentAccountPhone();
        service->login = {c.result, c.reply};
        service->logins.clear();
        const AutoLoginResult result = RunAutoLogin();
        EXPECT_EQ(service->logins.size(), c.logins);
        EXPECT_EQ(result.signedIn, c.signedIn);
        EXPECT_EQ(ApplyAutoLogin(result), c.signedIn);
        EXPECT_EQ(IsSignedIn(), c.signedIn);
    }

    // A sign-out while the login was under way: its result comes too late to count.
    ClearCurrentAccountPhone();
    service->login = {0, ok};
    const AutoLoginResult late = RunAutoLogin();
    ASSERT_TRUE(late.signedIn);
    ClearCurrentAccountPhone();
    EXPECT_FALSE(ApplyAutoLogin(late));
    EXPECT_FALSE(IsSignedIn());
    SetAccountServiceForTesting(nullptr);
}

} // namespace
