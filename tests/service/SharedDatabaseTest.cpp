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

#include <condition_variable>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kPhone = "13800138000";
constexpr const char* kOther = "13900139000";

std::string Login(const char* phone, const char* password) {
    return std::string("{\"mobilephone\":\"") + phone + "\",\"password\":\"" + password + "\"}";
}
std::string Form(const char* phone, const std::string& code) {
    return "{\"code\":\"" + code + "\",\"mobilephone\":\"" + phone + "\",\"password\":\"secret\"}";
}

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
    // The reply envelope of a request to instance i from client address `from` (body empty: GET),
    // with the HTTP status as "status"; null when there was no reply.
    Json::Value Call(int i, const std::string& path, const std::string& body, const std::string& from) const {
        httplib::Client client("127.0.0.1", instances_[i]->Port());
        client.set_read_timeout(60, 0);
        const httplib::Headers headers{{"X-Forwarded-For", from}};
        const auto res = body.empty() ? client.Get(path.c_str(), headers) : client.Post(path.c_str(), headers, body, "application/json");
        Json::Value envelope;
        std::istringstream text(res ? res->body : "");
        if (!res || !Json::parseFromStream(Json::CharReaderBuilder(), text, &envelope, nullptr)) return {};
        envelope["status"] = res->status;
        return envelope;
    }
    // n requests at once, the k-th to instance k % 2; how many got each "ret" and each
    // "<instance>:<status>".
    std::map<std::string, int> AtOnce(int n, const std::string& path, const std::string& body, const std::string& from) {
        std::mutex mutex;
        std::map<std::string, int> counts;
        std::vector<std::thread> clients;
        for (int k = 0; k < n; ++k) {
            clients.emplace_back([&, k] {  // one client; adds its reply to counts
                const Json::Value reply = Call(k % 2, path, body, from);
                std::lock_guard<std::mutex> lock(mutex);
                ++counts[reply["ret"].asString()];
                ++counts[std::to_string(k % 2) + ":" + reply["status"].asString()];
            });
        }
        for (auto& t : clients) t.join();
        return counts;
    }

    static inline std::unique_ptr<PostgresCluster> cluster_;
    std::string url_;
    std::unique_ptr<ServiceProcess> instances_[2];
};

TEST_F(SharedDatabaseTest, CodesTriesAndLimitsAreShared) {
    // A code asked for through one instance registers through the other.
    ASSERT_EQ(Call(0, std::string("/v1/smsnotify/register/") + kPhone, "", "10.0.0.1")["ret"], kRetOk);
    EXPECT_EQ(Call(1, "/v1/register", Form(kPhone, instances_[0]->LatestCode(kPhone)), "10.0.0.1")["ret"], kRetOk);

    // Five wrong logins spread over both; then the back-off holds on both: of ten tries at once at
    // most one is checked (the wait after each further failure is at least a second).
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Call(i % 2, "/v1/login", Login(kPhone, "x"), "10.0.0.2")["ret"], kRetWrongLogin);
    auto counts = AtOnce(10, "/v1/login", Login(kPhone, "x"), "10.0.0.2");
    EXPECT_LE(counts[std::to_string(kRetWrongLogin)], 1);
    EXPECT_GE(counts["0:429"], 4);
    EXPECT_GE(counts["1:429"], 4);

    // Thirty requests for one phone's code at once from one address: one code goes out, and the
    // address's 20 an hour are counted once for both instances.
    counts = AtOnce(30, std::string("/v1/smsnotify/register/") + kOther, "", "10.0.0.3");
    EXPECT_EQ(counts["0"], 1);
    EXPECT_EQ(counts[std::to_string(kRetTooMany)], 29);
    EXPECT_EQ(instances_[0]->OutboxLines().size() + instances_[1]->OutboxLines().size(), 2u);
    EXPECT_EQ(cluster_->Query(url_, "SELECT count(*) FROM code_requests WHERE address = '10.0.0.3'"), "20\n");

    // Ten wrong tries of that code at once over both: five count, then it is dead.
    const std::string sent = instances_[0]->LatestCode(kOther) + instances_[1]->LatestCode(kOther);
    counts = AtOnce(10, "/v1/register", Form(kOther, sent == "000000" ? "000001" : "000000"), "10.0.0.4");
    EXPECT_EQ(counts[std::to_string(kRetWrongCode)], 5);
    EXPECT_EQ(counts[std::to_string(kRetCodeSpent)], 5);
    EXPECT_EQ(Call(1, "/v1/register", Form(kOther, sent), "10.0.0.4")["ret"], kRetCodeSpent);
}

// kill -9 of one instance while it writes: the other keeps serving the same rows, every row is
// whole and every acknowledged write is there. Then a newer schema is refused untouched.
TEST_F(SharedDatabaseTest, KillNineOfOneInstanceAndANewerSchema) {
    std::mutex mutex;
    std::condition_variable progress;
    std::string acknowledged;  // "id,id,..."
    int count = 0;
    const std::string feedback = "{\"contact\":\"c\",\"content\":\"" + std::string(2000, 'x') + "\"}";
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w) {
        writers.emplace_back([&, w] {  // posts feedback (and wrong logins) to instance 0 until it dies
            for (;;) {
                if (w == 0) Call(0, "/v1/login", Login(kPhone, "x"), "10.0.1.1");
                const Json::Value reply = Call(0, "/v1/feedback", feedback, "10.0.1.2");
                if (reply["ret"] != kRetOk) return;
                std::lock_guard<std::mutex> lock(mutex);
                acknowledged += (count++ ? "," : "") + reply["data"]["id"].asString();
                progress.notify_all();
            }
        });
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(progress.wait_for(lock, std::chrono::seconds(60), [&] { return count >= 60; }));
    }
    ASSERT_EQ(kill(instances_[0]->Pid(), SIGKILL), 0);
    for (auto& t : writers) t.join();
    EXPECT_EQ(Call(1, "/v1/login", Login(kPhone, "x"), "10.0.1.1")["ret"], kRetWrongLogin);
    EXPECT_EQ(Call(1, "/v1/feedback", "{\"contact\":\"c\",\"content\":\"after\"}", "10.0.1.2")["ret"], kRetOk);
    EXPECT_EQ(cluster_->Query(url_, "SELECT count(*) FROM feedback WHERE length(content) NOT IN (2000, 5)"), "0\n");
    EXPECT_EQ(cluster_->Query(url_, "SELECT count(*) FROM feedback WHERE id IN (" + acknowledged + ")"),
              std::to_string(count) + "\n");

    cluster_->Query(url_, "UPDATE schema_version SET version = version + 1");
    ServiceProcess newer({"--database", url_});
    EXPECT_FALSE(newer.Start());
    EXPECT_EQ(cluster_->Query(url_, "SELECT count(*) FROM feedback WHERE content = 'after'"), "1\n");
}

}  // namespace
