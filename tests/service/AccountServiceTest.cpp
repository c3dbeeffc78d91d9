// Accounts, codes and logins on a real database in a temporary folder, with a clock the test moves.

#include "AccountService.h"
#include "Database.h"
#include "PasswordHasher.h"
#include "SmsSender.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>
#include <map>

namespace {

constexpr const char* kPhone = "13800138000";

class FakeSms : public SmsSender {
public:
    bool Send(const std::string& phone, const std::string& code, std::string& error) override {
        if (failing) {
            error = "provider down";
            return false;
        }
        ++sent;
        codes[phone] = code;
        return true;
    }
    bool failing = false;
    int sent = 0;
    std::map<std::string, std::string> codes;
};

class AccountServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(sodium_init(), 0);
        char pattern[] = "/tmp/tamsu-accounts-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        Reopen();
    }
    void TearDown() override {
        accounts_.reset();
        db_.reset();
        std::filesystem::remove_all(dir_);
    }
    // A restart of the service: the same file, a new connection.
    void Reopen() {
        accounts_.reset();
        db_.reset();
        db_ = std::make_unique<Database>(dir_ + "/service.db");
        accounts_ = std::make_unique<AccountService>(*db_, sms_, hasher_, nullptr, [this] { return now_; });
    }
    int Code(CodePurpose purpose, const char* phone = kPhone) {
        return accounts_->RequestCode(phone, purpose, "198.51.100.1").ret;
    }
    std::string Sent(const char* phone = kPhone) { return sms_.codes[phone]; }
    int Register(const std::string& code, const std::string& password = "secret") {
        return accounts_->Register(kPhone, password, code).ret;
    }
    void MakeAccount(const std::string& password = "secret") {
        ASSERT_EQ(Code(CodePurpose::kRegister), kRetOk);
        ASSERT_EQ(Register(Sent(), password), kRetOk);
        now_ += AccountService::kResendInterval;
    }
    std::string WrongCode() { return Sent() == "000000" ? "000001" : "000000"; }

    std::string dir_;
    std::int64_t now_ = 1'700'000'000;
    FakeSms sms_;
    PasswordHasher hasher_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<AccountService> accounts_;
};

TEST_F(AccountServiceTest, CodeIsSixDigitsValidTenMinutesAndSurvivesRestart) {
    ASSERT_EQ(Code(CodePurpose::kRegister), kRetOk);
    const std::string code = Sent();
    ASSERT_EQ(code.size(), 6u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);
    Reopen();
    now_ += AccountService::kCodeLifetime;
    EXPECT_EQ(Register(code), kRetCodeExpired);
    now_ -= 1;
    EXPECT_EQ(Register(code), kRetOk);
}

TEST_F(AccountServiceTest, CodeIsSingleUseAndDiesAfterFiveWrongTries) {
    MakeAccount();
    ASSERT_EQ(Code(CodePurpose::kForgot), kRetOk);
    const std::string code = Sent();
    for (int i = 0; i < AccountService::kMaxWrongTries; ++i) {
        EXPECT_EQ(accounts_->ResetPassword(kPhone, "next", WrongCode()).ret, kRetWrongCode) << "try " << i;
    }
    EXPECT_EQ(accounts_->ResetPassword(kPhone, "next", code).ret, kRetCodeSpent);

    now_ += AccountService::kResendInterval;
    ASSERT_EQ(Code(CodePurpose::kForgot), kRetOk);
    EXPECT_EQ(accounts_->ResetPassword(kPhone, "next", Sent()).ret, kRetOk);
    EXPECT_EQ(accounts_->ResetPassword(kPhone, "again", Sent()).ret, kRetCodeSpent);
    EXPECT_EQ(accounts_->Login(kPhone, "next", "10.0.0.1").ret, kRetOk);
}

TEST_F(AccountServiceTest, CodeRequestLimits) {
    ASSERT_EQ(Code(CodePurpose::kRegister), kRetOk);
    const std::string first = Sent();
    const ServiceOutcome early = accounts_->RequestCode(kPhone, CodePurpose::kRegister, "");
    EXPECT_EQ(early.httpStatus, 429);
    EXPECT_EQ(early.retryAfter, AccountService::kResendInterval);
    EXPECT_EQ(sms_.sent, 1);
    // A new code replaces the old one.
    now_ += AccountService::kResendInterval;
    ASSERT_EQ(Code(CodePurpose::kRegister), kRetOk);
    if (Sent() != first) {
        EXPECT_EQ(Register(first), kRetWrongCode);
    }
    // The daily cap counts every code sent in the last 24 hours.
    for (int i = 2; i < AccountService::kDailyCodeCap; ++i) {
        now_ += AccountService::kResendInterval;
        ASSERT_EQ(Code(CodePurpose::kRegister), kRetOk) << i;
    }
    now_ += AccountService::kResendInterval;
    EXPECT_EQ(accounts_->RequestCode(kPhone, CodePurpose::kRegister, "").httpStatus, 429);
    EXPECT_EQ(Code(CodePurpose::kRegister, "13900139000"), kRetOk) << "another phone is not limited";
    now_ = 1'700'000'000 + 24 * 60 * 60;
    EXPECT_EQ(Code(CodePurpose::kRegister), kRetOk);
}

TEST_F(AccountServiceTest, FailedDeliveryIsUndone) {
    sms_.failing = true;
    const ServiceOutcome failed = accounts_->RequestCode(kPhone, CodePurpose::kRegister, "");
    EXPECT_EQ(failed.httpStatus, 502);
    EXPECT_EQ(failed.ret, kRetSmsFailed);
    sms_.failing = false;
    EXPECT_EQ(Code(CodePurpose::kRegister), kRetOk) << "no minute's wait for a code that never came";
}

TEST_F(AccountServiceTest, PhoneStateDecidesBeforeCode) {
    EXPECT_EQ(Code(CodePurpose::kForgot), kRetNoSuchUser);
    EXPECT_EQ(accounts_->ResetPassword(kPhone, "x", "123456").ret, kRetNoSuchUser);
    EXPECT_EQ(Register("123456"), kRetCodeExpired) << "no code was sent";
    MakeAccount();
    EXPECT_EQ(Code(CodePurpose::kRegister), kRetAlreadyRegistered);
    EXPECT_EQ(Register("123456"), kRetAlreadyRegistered);
    EXPECT_EQ(sms_.sent, 1);
}

TEST_F(AccountServiceTest, LoginRepliesAndSlowsRepeatedFailures) {
    now_ = 1'700'000'100;
    MakeAccount("密码 \"q\\");
    const ServiceOutcome ok = accounts_->Login(kPhone, "密码 \"q\\", "203.0.113.9");
    ASSERT_EQ(ok.ret, kRetOk);
    EXPECT_EQ(ok.data["mobilephone"].asString(), kPhone);
    EXPECT_EQ(ok.data["last_login_ip"].asString(), "203.0.113.9");
    EXPECT_EQ(ok.data["last_login_time"].asInt64(), now_);
    EXPECT_EQ(ok.data["register_time"].asInt64(), 1'700'000'100);
    EXPECT_GT(ok.data["id"].asInt64(), 0);
    EXPECT_EQ(accounts_->Login("13900139000", "x", "").ret, kRetWrongLogin);

    for (int i = 0; i < AccountService::kFreeLoginFailures; ++i) {
        EXPECT_EQ(accounts_->Login(kPhone, "wrong", "").ret, kRetWrongLogin) << i;
    }
    const ServiceOutcome slowed = accounts_->Login(kPhone, "密码 \"q\\", "");
    EXPECT_EQ(slowed.httpStatus, 429);
    EXPECT_EQ(slowed.retryAfter, 1);
    now_ += 1;
    EXPECT_EQ(accounts_->Login(kPhone, "wrong", "").ret, kRetWrongLogin);
    now_ += 1;
    EXPECT_EQ(accounts_->Login(kPhone, "wrong", "").httpStatus, 429) << "the wait doubles";
    now_ += 1;
    EXPECT_EQ(accounts_->Login(kPhone, "密码 \"q\\", "").ret, kRetOk);
    EXPECT_EQ(accounts_->Login(kPhone, "wrong", "").ret, kRetWrongLogin) << "success clears the count";
    EXPECT_EQ(accounts_->Login(kPhone, "wrong", "").ret, kRetWrongLogin);
}

// What one address may do in an hour, and what all of them may send in a day: code requests count
// whatever they are answered (probing phones costs as much as sending codes), failed logins count
// over all phones.
TEST_F(AccountServiceTest, LimitsPerAddressAndPerDay) {
    MakeAccount();
    accounts_->SetDailyCodeLimit(3);
    const auto phone = [](int i) { return "1390000" + std::to_string(1000 + i); };
    const struct {
        const char* what;
        std::function<ServiceOutcome(int i, const std::string& address)> call;
        int allowed;
    } cases[] = {
        {"forgot probes", [&](int i, const std::string& a) {
             return accounts_->RequestCode(phone(i), CodePurpose::kForgot, a); }, AccountService::kAddressCodeRequests},
        {"failed logins", [&](int i, const std::string& a) {
             return accounts_->Login(phone(i), "x", a); }, AccountService::kAddressLoginFailures},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < c.allowed; ++i) ASSERT_NE(c.call(i, "203.0.113.5").httpStatus, 429) << c.what << i;
        const ServiceOutcome refused = c.call(c.allowed, "203.0.113.5");
        EXPECT_EQ(refused.httpStatus, 429) << c.what;
        EXPECT_EQ(refused.retryAfter, 60 * 60) << c.what;
        EXPECT_NE(c.call(c.allowed, "203.0.113.6").httpStatus, 429) << c.what << ": another address";
        now_ += 60 * 60;
        EXPECT_NE(c.call(c.allowed, "203.0.113.5").httpStatus, 429) << c.what << ": an hour later";
    }
    // The whole service sends at most the daily limit; the account's own code was the first.
    EXPECT_EQ(accounts_->RequestCode(phone(1), CodePurpose::kRegister, "a").ret, kRetOk);
    EXPECT_EQ(accounts_->RequestCode(phone(2), CodePurpose::kRegister, "b").ret, kRetOk);
    EXPECT_EQ(accounts_->RequestCode(phone(3), CodePurpose::kRegister, "c").httpStatus, 429);
    EXPECT_EQ(sms_.sent, 3);
}

// Forty tries at once get as many checked as forty in a row: the free ones, then none until the wait
// is over.
TEST_F(AccountServiceTest, ParallelLoginsShareOneBackOff) {
    MakeAccount();
    std::atomic<int> checked{0};
    std::vector<std::thread> tries;
    for (int i = 0; i < 40; ++i) {
        tries.emplace_back([&, i] {  // one login try; shares the counter
            if (accounts_->Login(kPhone, "wrong", "10.0.0." + std::to_string(i)).ret == kRetWrongLogin) ++checked;
        });
    }
    for (auto& t : tries) t.join();
    EXPECT_EQ(checked.load(), AccountService::kFreeLoginFailures);
}

TEST_F(AccountServiceTest, InvalidFieldsAreBadRequests) {
    struct Case {
        const char* phone;
        std::string password;
    };
    const Case cases[] = {
        {"1380013800", "secret"},            // 10 digits
        {"138001380000", "secret"},          // 12 digits
        {"1380013800a", "secret"},           // a letter
        {"１３８００１３８０００", "secret"},  // full-width digits
        {kPhone, ""},
        {kPhone, std::string(33, 'a')},
        {kPhone, "\xff\xfe"},                // not UTF-8
        {kPhone, std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(accounts_->Login(c.phone, c.password, "").httpStatus, 400) << c.phone << " " << c.password;
        EXPECT_EQ(accounts_->Register(c.phone, c.password, "123456").httpStatus, 400) << c.phone;
    }
    EXPECT_EQ(accounts_->RequestCode("1380013800", CodePurpose::kRegister, "").httpStatus, 400);
    EXPECT_EQ(sms_.sent, 0);
}

}  // namespace
