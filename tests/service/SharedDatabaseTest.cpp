// Two tamsu-service instances on one PostgreSQL database act as one service: codes, wrong tries,
// login back-off and per-address limits are shared, and one instance's death costs the other
// nothing.

#include "PostgresCluster.h"
#include "ServiceCodes.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace {

constexpr const char* kPhone = "13800138000";
constexpr const char* kOther = "13900139000";

struct Reply {
    int status = 0;
    int ret = -1;
    Json::Value data;
};

class SharedDatabaseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        cluster_ = std::make_unique<PostgresCluster>();
        if (!cluster_->Start()) FAIL() << cluster_->Error();
    }
    static void TearDownTestSuite() { cluster_.reset(); }
    void SetUp() override {
        url_ = cluster_->NewDatabase();
        ASSERT_FALSE(url_.empty()) << cluster_->Error();
        for (auto& instance : instances_) {
            instance = std::make_unique<ServiceProcess>(
                std::vector<std::string>{"--database", url_, "--trusted-proxy-header", "X-Forwarded-For"});
            ASSERT_TRUE(instance->Start()) << instance->Error();
        }
    }
    // A request to instance i (0 or 1) from the client address `from`; body empty: GET.
    Reply Call(int i, const std::string& path, const std::string& body, const std::string& from) const {
        httplib::Client client("127.0.0.1", instances_[i]->Port());
        client.set_read_timeout(60, 0);
        const httplib::Headers headers{{"X-Forwarded-For", from}};
        const auto res = body.empty() ? client.Get(path.c_str(), headers)
                                      : client.Post(path.c_str(), headers, body, "application/json");
        Reply reply;
        if (!res) return reply;
        Json::Value envelope;
        std::unique_ptr<Json::CharReader>(Json::CharReaderBuilder().newCharReader())
            ->parse(res->body.data(), res->body.data() + res->body.size(), &envelope, nullptr);
        reply.status = res->status;
        reply.ret = envelope["ret"].asInt();
        reply.data = envelope["data"];
        return reply;
    }
    // n calls at once, call k to instance k % 2; the count of each ret.
    std::map<int, int> AtOnce(int n, const std::function<Reply(int instance)>& call) const {
        std::mutex mutex;
        std::map<int, int> rets;
        std::vector<std::thread> threads;
        for (int k = 0; k < n; ++k) {
            threads.emplace_back([&, k] {  // one client; adds its reply's ret to rets
                const int ret = call(k % 2).ret;
                std::lock_guard<std::mutex> lock(mutex);
                ++rets[ret];
            });
        }
        for (auto& t : threads) t.join();
        return rets;
    }
    static std::string Login(const char* phone, const char* password) {
        return std::string("{\"mobilephone\":\"") + phone + "\",\"password\":\"" + password + "\"}";
    }
    static std::string Form(const char* phone, const std::string& code) {
        return "{\"code\":\"" + code + "\",\"mobilephone\":\"" + phone + "\",\"password\":\"secret\"}";
    }
    std::size_t CodesSent() const { return instances_[0]->OutboxLines().size() + instances_[1]->OutboxLines().size(); }

    static inline std::unique_ptr<PostgresCluster> cluster_;
    std::string url_;
    std::unique_ptr<ServiceProcess> instances_[2];
};

TEST_F(SharedDatabaseTest, CodesTriesAndLimitsAreShared) {
    // A code asked for through one instance registers through the other.
    ASSERT_EQ(Call(0, std::string("/v1/smsnotify/register/") + kPhone, "", "10.0.0.1").ret, kRetOk);
    const std::string code = instances_[0]->LatestCode(kPhone);
    EXPECT_EQ(Call(1, "/v1/register", Form(kPhone, code), "10.0.0.1").ret, kRetOk);
    EXPECT_EQ(Call(0, "/v1/login", Login(kPhone, "secret"), "10.0.0.1").ret, kRetOk);

    // Five wrong logins spread over both, then the back-off holds on both: of ten tries at once at
    // most one is checked (the wait after each failure is at least a second).
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Call(i % 2, "/v1/login", Login(kPhone, "wrong"), "10.0.0.2").ret, kRetWrongLogin);
    std::atomic<int> refusedBy[2] = {0, 0};
    const auto tries = AtOnce(10, [&](int i) {
        Reply r = Call(i, "/v1/login", Login(kPhone, "wrong"), "10.0.0.2");
        if (r.status == 429) ++refusedBy[i];
        return r;
    });
    EXPECT_LE(tries.count(kRetWrongLogin) ? tries.at(kRetWrongLogin) : 0, 1);
    EXPECT_GE(refusedBy[0].load(), 4);
    EXPECT_GE(refusedBy[1].load(), 4);

    // Thirty requests for one phone's code at once, from one address: one code goes out, and the
    // address's 20 an hour are counted once for both instances.
    const auto requests = AtOnce(30, [&](int i) { return Call(i, std::string("/v1/smsnotify/register/") + kOther, "", "10.0.0.3"); });
    EXPECT_EQ(requests.count(kRetOk) ? requests.at(kRetOk) : 0, 1);
    EXPECT_EQ(requests.count(kRetTooMany) ? requests.at(kRetTooMany) : 0, 29);
    EXPECT_EQ(CodesSent(), 2u);
    EXPECT_EQ(cluster_->Query(url_, "SELECT count(*) FROM code_requests WHERE address = '10.0.0.3'"), "20\n");
    EXPECT_EQ(cluster_->Query(url_, std::string("SELECT count(*) FROM codes_sent WHERE phone = '") + kOther + "'"), "1\n");

    // Ten wrong tries of that code at once over both: five count, the code is dead after them.
    const std::string sent = instances_[0]->LatestCode(kOther) + instances_[1]->LatestCode(kOther);
    const std::string wrong = sent == "000000" ? "000001" : "000000";
    const auto guesses = AtOnce(10, [&](int i) { return Call(i, "/v1/register", Form(kOther, wrong), "10.0.0.4"); });
    EXPECT_EQ(guesses.at(kRetWrongCode), 5);
    EXPECT_EQ(guesses.at(kRetCodeSpent), 5);
    EXPECT_EQ(Call(1, "/v1/register", Form(kOther, sent), "10.0.0.4").ret, kRetCodeSpent);
}

// kill -9 of one instance while it writes: the other keeps serving the same rows, and every row is
// whole and every acknowledged write is there.
TEST_F(SharedDatabaseTest, KillNineOfOneInstanceMidRequest) {
    std::mutex mutex;
    std::condition_variable progress;
    std::vector<std::int64_t> acknowledged;
    const std::string content(2000, 'x');
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w) {
        writers.emplace_back([&, w] {  // posts feedback to instance 0 and a wrong login until it dies; adds ids
            for (;;) {
                if (w == 0) Call(0, "/v1/login", Login(kPhone, "wrong"), "10.0.1.1");
                const Reply r = Call(0, "/v1/feedback", "{\"contact\":\"c\",\"content\":\"" + content + "\"}", "10.0.1.2");
                if (r.ret != kRetOk) return;  // the instance is gone
                std::lock_guard<std::mutex> lock(mutex);
                acknowledged.push_back(r.data["id"].asInt64());
                progress.notify_all();
            }
        });
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(progress.wait_for(lock, std::chrono::seconds(60), [&] { return acknowledged.size() >= 60; }));
    }
    ASSERT_EQ(kill(instances_[0]->Pid(), SIGKILL), 0);
    for (auto& t : writers) t.join();

    EXPECT_EQ(Call(1, "/v1/feedback", "{\"contact\":\"c\",\"content\":\"after\"}", "10.0.1.2").ret, kRetOk);
    EXPECT_EQ(Call(1, "/v1/login", Login(kPhone, "wrong"), "10.0.1.1").ret, kRetWrongLogin);
    EXPECT_EQ(cluster_->Query(url_, "SELECT count(*) FROM feedback WHERE content <> 'after' AND length(content) <> 2000"), "0\n");
    const int rows = std::stoi(cluster_->Query(url_, "SELECT count(*) FROM feedback WHERE content <> 'after'"));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_GE(rows, static_cast<int>(acknowledged.size()));
    std::string ids;
    for (std::int64_t id : acknowledged) ids += (ids.empty() ? "" : ",") + std::to_string(id);
    EXPECT_EQ(cluster_->Query(url_, "SELECT count(*) FROM feedback WHERE id IN (" + ids + ")"),
              std::to_string(acknowledged.size()) + "\n");
}

}  // namespace
