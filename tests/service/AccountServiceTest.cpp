// Accounts, codes and logins on a real database (a SQLite file in a temporary folder, and a private
// PostgreSQL server), with a clock the test moves. Each rule is a script of steps: move the clock,
// call, expect the reply.

#include "AccountService.h"
#include "Database.h"
#include "PasswordHasher.h"
#include "PostgresCluster.h"
#include "SmsSender.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <functional>
#include <map>
#include <regex>
#include <tuple>

namespace {

constexpr const char* kPhone = "13800138000";
constexpr const char* kOther = "13900139000";
constexpr std::int64_t kWait = AccountService::kResendInterval;

class FakeSms : public SmsSender {
public:
    bool Send(const std::string& phone, const std::string& code, std::string& error) override {
        if (!failing) codes[phone].push_back(code);
        error = failing ? "provider down" : "";
        return !failing;
    }
    bool failing = false;
    std::map<std::string, std::vector<std::string>> codes;  // every code sent, by phone
};

enum class Op { kRegisterCode, kForgotCode, kRegister, kReset, kLogin, kRestart };

struct Step {
    std::int64_t advance;  // seconds the clock moves first
    Op op;
    std::string password;
    std::string code;      // "sent": the phone's last code, "old": the one before, "wrong": neither
    int ret;
    std::int64_t retryAfter = 0;  // checked when not 0
    const char* phone = kPhone;
};

class AccountServiceTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        ASSERT_GE(sodium_init(), 0);
        url_ = "sqlite:" + env_.Root().toStdString() + "/service.db";
        if (GetParam() == "postgresql") {
            if (!cluster_) {
                cluster_ = std::make_unique<PostgresCluster>();
                ASSERT_TRUE(cluster_->Start()) << cluster_->Error();
            }
            url_ = cluster_->NewDatabase();
            ASSERT_FALSE(url_.empty()) << cluster_->Error();
        }
        Reopen();
    }
    static void TearDownTestSuite() { cluster_.reset(); }
    // A restart of the service: the same file, a new connection.
    void Reopen() {
        accounts_.reset();
        db_.reset();
        db_ = Database::Open(url_, 8);
        accounts_ = std::make_unique<AccountService>(*db_, sms_, hasher_, nullptr, [this] { return now_; });
    }
    std::string Code(const Step& s) {
        const auto& sent = sms_.codes[s.phone];
        const std::string last = sent.empty() ? "" : sent.back();
        if (s.code == "sent") return last;
        if (s.code == "old") return sent.size() < 2 ? "" : sent[sent.size() - 2];
        return s.code == "wrong" ? (last == "000000" ? "000001" : "000000") : s.code;
    }
    void Run(const std::vector<Step>& steps) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            now_ += s.advance;
            const std::size_t sentBefore = sms_.codes[s.phone].size();
            ServiceOutcome out;
            switch (s.op) {
            case Op::kRegisterCode: out = accounts_->RequestCode(s.phone, CodePurpose::kRegister, ""); break;
            case Op::kForgotCode: out = accounts_->RequestCode(s.phone, CodePurpose::kForgot, ""); break;
            case Op::kRegister: out = accounts_->Register(s.phone, s.password, Code(s)); break;
            case Op::kReset: out = accounts_->ResetPassword(s.phone, s.password, Code(s)); break;
            case Op::kLogin: out = accounts_->Login(s.phone, s.password, ""); break;
            case Op::kRestart: Reopen(); continue;
            }
            const auto& sent = sms_.codes[s.phone];
            EXPECT_EQ(out.ret, s.ret) << "step " << i;
            EXPECT_TRUE(s.ret != kRetTooMany || out.httpStatus == 429) << "step " << i;
            EXPECT_TRUE(s.retryAfter == 0 || out.retryAfter == s.retryAfter) << "step " << i << ": " << out.retryAfter;
            // A code goes out exactly when its request succeeds, six digits.
            const bool asked = s.op == Op::kRegisterCode || s.op == Op::kForgotCode;
            EXPECT_EQ(sent.size() - sentBefore, asked && out.ret == kRetOk ? 1u : 0u) << "step " << i;
            EXPECT_TRUE(sent.size() == sentBefore || std::regex_match(sent.back(), std::regex("[0-9]{6}"))) << sent.back();
        }
    }
    void MakeAccount() {
        Run({{0, Op::kRegisterCode, "", "", kRetOk}, {0, Op::kRegister, "secret", "sent", kRetOk}, {kWait, Op::kRestart, "", "", 0}});
    }

    static inline std::unique_ptr<PostgresCluster> cluster_;  // one server for the suite, a database per test
    TestEnv env_;  // (its folder outlives the database below)
    std::string url_;
    std::int64_t now_ = 1'700'000'000;
    FakeSms sms_;
    PasswordHasher hasher_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<AccountService> accounts_;
};

// A code lives ten minutes across a restart, is used once, dies after five wrong tries; the phone's
// state decides before the code.
TEST_P(AccountServiceTest, CodeLifeAndPhoneState) {
    const std::int64_t life = AccountService::kCodeLifetime;
    const Step wrongTry{0, Op::kReset, "next", "wrong", kRetWrongCode};
    Run({{0, Op::kForgotCode, "", "", kRetNoSuchUser},
         {0, Op::kReset, "x", "123456", kRetNoSuchUser},
         {0, Op::kRegister, "secret", "123456", kRetCodeExpired},  // no code was sent
         {0, Op::kRegisterCode, "", "", kRetOk},
         {0, Op::kRestart, "", "", 0},
         {life, Op::kRegister, "secret", "sent", kRetCodeExpired},
         {-1, Op::kRegister, "secret", "sent", kRetOk},
         {0, Op::kRegister, "secret", "sent", kRetAlreadyRegistered},
         {kWait, Op::kRegisterCode, "", "", kRetAlreadyRegistered},
         {0, Op::kForgotCode, "", "", kRetOk},
         wrongTry, wrongTry, wrongTry, wrongTry, wrongTry,
         {0, Op::kReset, "next", "sent", kRetCodeSpent},
         {kWait, Op::kForgotCode, "", "", kRetOk},
         {0, Op::kReset, "next", "sent", kRetOk},
         {0, Op::kReset, "again", "sent", kRetCodeSpent},
         {0, Op::kLogin, "next", "", kRetOk},
         {0, Op::kLogin, "secret", "", kRetWrongLogin}});
}

// One code a minute per phone, also across a restart; a new code replaces the old one; at most
// kDailyCodeCap a day per phone; a failed delivery costs no wait.
TEST_P(AccountServiceTest, CodeRequestLimits) {
    sms_.failing = true;
    Run({{0, Op::kRegisterCode, "", "", kRetSmsFailed}});
    sms_.failing = false;
    Run({{0, Op::kRegisterCode, "", "", kRetOk},
         {0, Op::kRegisterCode, "", "", kRetTooMany, kWait},
         {0, Op::kRestart, "", "", 0},
         {kWait - 1, Op::kRegisterCode, "", "", kRetTooMany, 1},
         {1, Op::kRegisterCode, "", "", kRetOk}});
    if (sms_.codes[kPhone][0] != sms_.codes[kPhone][1]) Run({{0, Op::kRegister, "secret", "old", kRetWrongCode}});
    for (int i = 2; i < AccountService::kDailyCodeCap; ++i) Run({{kWait, Op::kRegisterCode, "", "", kRetOk}});
    Run({{kWait, Op::kRegisterCode, "", "", kRetTooMany},
         {0, Op::kRegisterCode, "", "", kRetOk, 0, kOther}});
    now_ = 1'700'000'000 + 24 * 60 * 60;
    Run({{0, Op::kRegisterCode, "", "", kRetOk}});
}

TEST_P(AccountServiceTest, LoginRepliesAndSlowsRepeatedFailures) {
    MakeAccount();
    const ServiceOutcome ok = accounts_->Login(kPhone, "secret", "203.0.113.9");
    ASSERT_EQ(ok.ret, kRetOk);
    EXPECT_EQ(ok.data["mobilephone"].asString(), kPhone);
    EXPECT_EQ(ok.data["last_login_ip"].asString(), "203.0.113.9");
    EXPECT_EQ(ok.data["last_login_time"].asInt64(), now_);
    EXPECT_EQ(ok.data["register_time"].asInt64(), now_ - kWait);
    EXPECT_GT(ok.data["id"].asInt64(), 0);
    const Step wrong{0, Op::kLogin, "wrong", "", kRetWrongLogin};
    Run({{0, Op::kLogin, "x", "", kRetWrongLogin, 0, kOther},
         wrong, wrong, wrong, wrong, wrong,  // the free failures
         {0, Op::kLogin, "secret", "", kRetTooMany, 1},
         {1, Op::kLogin, "wrong", "", kRetWrongLogin},
         {1, Op::kLogin, "wrong", "", kRetTooMany, 1},  // the wait doubles
         {1, Op::kLogin, "secret", "", kRetOk},
         wrong, wrong});  // success cleared the count
}

// What one address may do in an hour, and what all of them may send in a day: code requests count
// whatever they are answered (probing phones costs as much as sending codes), failed logins count
// over all phones.
TEST_P(AccountServiceTest, LimitsPerAddressAndPerDay) {
    MakeAccount();
    accounts_->SetDailyCodeLimit(3);
    const auto phone = [](int i) { return "1390000" + std::to_string(1000 + i); };
    using Call = std::function<ServiceOutcome(int i, const std::string& address)>;
    const std::tuple<const char*, Call, int> cases[] = {  // what, the call, allowed an hour
        {"forgot probes", [&](int i, const std::string& a) {
             return accounts_->RequestCode(phone(i), CodePurpose::kForgot, a); }, AccountService::kAddressCodeRequests},
        {"failed logins", [&](int i, const std::string& a) {
             return accounts_->Login(phone(i), "x", a); }, AccountService::kAddressLoginFailures},
    };
    for (const auto& [what, call, allowed] : cases) {
        for (int i = 0; i < allowed; ++i) ASSERT_NE(call(i, "203.0.113.5").httpStatus, 429) << what << i;
        const ServiceOutcome refused = call(allowed, "203.0.113.5");
        EXPECT_EQ(refused.httpStatus, 429) << what;
        EXPECT_EQ(refused.retryAfter, 60 * 60) << what;
        EXPECT_NE(call(allowed, "203.0.113.6").httpStatus, 429) << what << ": another address";
        now_ += 60 * 60;
        EXPECT_NE(call(allowed, "203.0.113.5").httpStatus, 429) << what << ": an hour later";
    }
    // The whole service sends at most the daily limit; the account's own code was the first.
    EXPECT_EQ(accounts_->RequestCode(phone(1), CodePurpose::kRegister, "a").ret, kRetOk);
    EXPECT_EQ(accounts_->RequestCode(phone(2), CodePurpose::kRegister, "b").ret, kRetOk);
    EXPECT_EQ(accounts_->RequestCode(phone(3), CodePurpose::kRegister, "c").httpStatus, 429);
    std::size_t sent = 0;
    for (const auto& [to, codes] : sms_.codes) sent += codes.size();
    EXPECT_EQ(sent, 3u);
}

INSTANTIATE_TEST_SUITE_P(Backends, AccountServiceTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

}  // namespace
