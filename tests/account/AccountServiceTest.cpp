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
    const QString valid = "13800138000";
    const QString p32(32, 'p');
    const QString p33(33, 'p');
    // phone, password, confirmation, code, the login's check, the forms' check
    const std::tuple<QString, QString, QString, QString, QString, QString> cases[] = {
        {"", "", "", "", "手机号不能为空!", "手机号不能为空!"},
        {"1380013800", "x", "x", "1", "非法的手机号!", "非法的手机号!"},
        {QString::fromUtf8("1380013800１"), "x", "x", "1", "手机号只能为数字!", "手机号只能为数字!"},
        {"13800/38000", "x", "x", "1", "手机号只能为数字!", "手机号只能为数字!"},
        {valid, "", "x", "1", "密码不能为空!", "密码不能为空!"},
        {valid, p33, p33, "1", "密码不能超过32位!", "密码不能超过32位!"},
        {valid, p32, p32, "", "", "验证码不能为空!"},
        {valid, "Secret", "secret", "1", "", "确认密码不一致!"},
        {valid, p32, p32, "123456", "", ""},
    };
    for (const auto& [phone, password, confirmation, code, login, form] : cases) {
        SCOPED_TRACE(phone.toStdString() + " / " + password.toStdString());
        EXPECT_EQ(CheckLoginInput(phone, password), login);
        EXPECT_EQ(CheckFormInput(phone, password, confirmation, code), form);
    }
}

TEST(AccountRepliesTest, LoginReplies)
{
    using enum LoginReply;
    const std::string data = R"("data":{"id":7,"mobilephone":"13800138000","last_login_ip":"127.0.0.1",)"
                             R"("last_login_time":"1700000000","register_time":1600000000})";
    const std::pair<std::string, LoginReply> cases[] = {
        {"{\"ret\":0," + data + "}", kSignedIn},
        {"{" + data + "}", kSignedIn}, // a missing "ret" reads as 0
        {R"({"ret":400002})", kRefused},
        {"<html>", kUnparsable},
        {R"({"ret":"0"})", kUnparsable},
        {R"({"ret":0,"data":"13800138000"})", kUnparsable},
        {R"({"ret":0,"data":{"id":"x7","mobilephone":"13800138000","last_login_time":1,"register_time":1}})", kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":"13800138000","register_time":1}})", kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":"13800138000","last_login_time":4294967296,"register_time":1}})", kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":"","last_login_time":1,"register_time":1}})", kUnparsable},
        {R"({"ret":0,"data":{"id":7,"mobilephone":[1],"last_login_time":1,"register_time":1}})", kUnparsable},
    };
    for (const auto& [reply, expected] : cases) {
        SCOPED_TRACE(reply);
        CurrentAccount account;
        EXPECT_EQ(ReadLoginReply(reply, account), expected);
        EXPECT_EQ(account.SignedIn(), expected == kSignedIn);
    }
    CurrentAccount account; // numbers as JSON numbers or numeric texts
    ASSERT_EQ(ReadLoginReply("{\"ret\":0," + data + "}", account), kSignedIn);
    EXPECT_EQ(std::make_tuple(account.id, account.lastLoginIp, account.lastLoginTime, account.registerTime),
              std::make_tuple(7, std::string("127.0.0.1"), 1700000000, 1600000000));
}

// One row per way through the reader (the codes both forms share: once; success and a taken phone:
// the dialogs' table).
TEST(AccountRepliesTest, EveryWayThroughTheFormReplies)
{
    const auto R = AccountForm::kRegister;
    const auto F = AccountForm::kForgot;
    const std::tuple<AccountForm, std::string, QString, bool, bool> cases[] = {  // form, reply, text, show again, success
        {F, R"({"ret":600001})", "验证码错误!", true, false},
        {R, R"({"ret":600002})", "验证码无效!", true, false},
        {F, R"({"ret":600003})", "验证码无效!", true, false},
        {R, R"({"ret":400002})", "", false, false},
        {F, R"({"ret":400002})", "用户不存在!", true, false},
        {F, R"({"ret":400001})", "密码重置失败!", true, false},
        {F, "not json", "网络错误!", false, false},
    };
    for (const auto& [form, reply, text, showAgain, success] : cases) {
        SCOPED_TRACE(reply + (form == R ? " register" : " forgot"));
        const FormOutcome outcome = ReadFormReply(form, reply);
        EXPECT_EQ(std::make_tuple(outcome.text, outcome.showAgain, outcome.success), std::make_tuple(text, showAgain, success));
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
    // what, the stored password, the login's result and reply, logins sent, signed in
    const std::tuple<const char*, std::string, int, std::string, size_t, bool> cases[] = {
        // (No file at all reads as empty: CredentialsTest.)
        {"empty password", "", 0, ok, 0, false},
        {"signed in", "pw", 0, ok, 1, true},
        {"post failed", "pw", -1, ok, 1, false},
        {"refused", "pw", 0, R"({"ret":400002})", 1, false},
    };
    for (const auto& [what, password, posted, reply, logins, signedIn] : cases) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(SaveCredentials("13800138000", password));
        ClearCurrentAccountPhone();
        service->login = {posted, reply};
        service->logins.clear();
        const AutoLoginResult result = RunAutoLogin();
        EXPECT_EQ(service->logins.size(), logins);
        EXPECT_EQ(result.signedIn, signedIn);
        EXPECT_EQ(ApplyAutoLogin(result), signedIn);
        EXPECT_EQ(IsSignedIn(), signedIn);
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
