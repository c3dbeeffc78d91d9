// tamsu-service as the program meets it: the built binary on 127.0.0.1 with a temporary data folder.

#include "Process.h"
#include "ServiceProcess.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>
#include <sqlite3.h>
#include <arpa/inet.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

namespace {

constexpr const char* kPhone = "13800138000";

Json::Value ParseJson(const std::string& text) {
    Json::Value value;
    std::istringstream in(text);
    Json::parseFromStream(Json::CharReaderBuilder(), in, &value, nullptr);
    return value;
}

// A client of its own on a raw socket: sends bytes at once and reads the reply to the end later.
class RawClient {
public:
    RawClient(int port, const std::string& bytes) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address {AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        timeval limit {30, 0};  // a hung service fails the test instead of hanging it
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sent = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    ~RawClient() { close(fd_); }
    std::string ReadAll() {
        std::string reply;
        char buffer[4096];
        for (ssize_t got; (got = recv(fd_, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<std::size_t>(got));
        return reply;
    }
    bool sent = false;

private:
    int fd_;
};

// What a shell command prints (curl's status, grep's count).
std::string Shell(const std::string& command) { return RunProcess({"sh", "-c", command}).out; }

// Column 0 of each row sql gives, as text, from the service's database at path.
std::vector<std::string> Column(const std::string& path, const char* sql) {
    std::vector<std::string> values;
    sqlite3* db = nullptr;
    sqlite3_stmt* row = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &row, nullptr) == SQLITE_OK) {
        while (sqlite3_step(row) == SQLITE_ROW) values.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(row, 0)));
    }
    sqlite3_finalize(row);
    sqlite3_close(db);
    return values;
}

class ServiceNetTest : public ::testing::Test {
protected:
    void Begin(std::vector<std::string> args = {}) {
        service_ = std::make_unique<ServiceProcess>(std::move(args));
        ASSERT_TRUE(service_->Start()) << service_->Error();
    }
    httplib::Client Client() const {
        httplib::Client client("127.0.0.1", service_->Port());
        client.set_read_timeout(30, 0);
        return client;
    }
    // {"ret", "data"} of a reply in JSON; status must be as given.
    Json::Value Get(const std::string& path, int status = 200) { return Call("GET", path, "", status); }
    Json::Value Call(const std::string& method, const std::string& path, const std::string& body, int status = 200,
                     const httplib::Headers& headers = {}) {
        const auto res = method == "GET" ? Client().Get(path.c_str(), headers)
                                         : Client().Post(path.c_str(), headers, body, "application/json;charset=UTF-8");
        EXPECT_TRUE(res) << path;
        if (!res) return {};
        EXPECT_EQ(res->status, status) << path << " " << body.substr(0, 60) << " " << res->body;
        EXPECT_EQ(res->get_header_value("Content-Type"), "application/json; charset=utf-8") << path;
        return ParseJson(res->body);
    }

    std::unique_ptr<ServiceProcess> service_;
};

// Every kind of bad input gets its JSON error and leaves the service serving; the account
// endpoints' HTTP statuses (the replies themselves: the account's own tests and AccountNetTest).
TEST_F(ServiceNetTest, InputTable) {
    Begin({"--trusted-proxy-header", "X-Forwarded-For"});
    const std::string code = std::string("/v1/smsnotify/register/") + kPhone;
    const std::tuple<const char*, const char*, std::string, int, int> cases[] = {  // method, path, body, status, ret
        {"POST", "/v1/feedback", "", 400, 100400},
        {"POST", "/v1/feedback", "{\"contact\":\"a\",", 400, 100400},
        {"POST", "/v1/feedback", "[\"a\"]", 400, 100400},
        {"POST", "/v1/feedback", std::string(5000, '['), 400, 100400},  // deeper than the reader goes
        {"POST", "/v1/feedback", "{\"contact\":\"a\",\"content\":\"b\"} x", 400, 100400},
        {"POST", "/v1/feedback", "{\"contact\":\"a\",\"content\":\"\"}", 400, 100400},
        {"POST", "/v1/feedback", "{\"contact\":\"a\",\"content\":\"\xff\"}", 400, 100400},
        {"POST", "/v1/feedback", "{\"contact\":\"a\",\"content\":\"" + std::string(70 * 1024, 'x') + "\"}", 413, 100413},
        {"POST", "/v1/upgrade_check", "{\"app_name\":1}", 400, 100400},
        {"POST", "/v1/upgrade_check", "{\"app_name\":\"TamsuAudioRecorder\"}", 200, 200001},  // nothing published
        {"POST", "/v1/login", "{\"mobilephone\":\"138\",\"password\":\"x\"}", 400, 100400},
        {"POST", "/v1/login", "{\"mobilephone\":\"13800138000\",\"password\":\"" + std::string(33, 'x') + "\"}", 400, 100400},
        {"POST", "/v1/login", "{\"mobilephone\":\"13800138000\",\"password\":\"x\"}", 200, 400003},
        {"POST", "/v1/register", "{\"mobilephone\":\"13800138000\",\"password\":\"x\"}", 400, 100400},
        {"POST", "/v1/register", "{\"code\":\"1\",\"mobilephone\":\"１３８００１３８０００\",\"password\":\"x\"}", 400, 100400},
        {"POST", "/v1/forgot", "{\"code\":\"1\",\"mobilephone\":\"13800138000\",\"password\":\"" + std::string(33, 'x') + "\"}", 400, 100400},
        {"POST", "/v1/nothing", "{}", 404, 100404},
        {"GET", "/v1/login", "", 405, 100404},
        {"GET", "/v1/smsnotify/register/1380013800x", "", 400, 100400},
        {"GET", code.c_str(), "", 200, 0},
        {"GET", code.c_str(), "", 429, 100429},
        {"GET", "/v1/smsnotify/forgot/13900139000", "", 200, 400002},
    };
    for (const auto& [method, path, body, status, ret] : cases) EXPECT_EQ(Call(method, path, body, status)["ret"].asInt(), ret) << path;
    // The same limits through curl's own framing (the rest of them: the frame's own table), a path
    // that tries to write a log line of its own, and the help pages.
    const std::string url = " " + service_->BaseUrl();
    const std::string big = service_->DataDir() + "/big";
    // Over the limit, but within what the lingering close drains: the service's FIN then follows
    // the whole upload, and curl always reads the answer (a larger body ends in a reset that may
    // reach curl before it has read the 413).
    std::ofstream(big) << std::string(512 * 1024, 'x');
    const std::string json = " application/json; charset=utf-8";
    const std::pair<std::string, std::string> curled[] = {
        {"-H 'Transfer-Encoding: chunked' --data-binary @" + big + url + "/v1/feedback", "413" + json},
        {"--data-binary @" + big + url + "/v1/feedback", "413" + json},
        {"-d '{\"contact\":\"a\",/**/\"content\":\"b\"}'" + url + "/v1/feedback", "400" + json},
        {"-X DELETE" + url + "/v1/feedback", "405" + json},
        {"-X PUT" + url + "/download/x.deb", "405" + json},
        {url + "/nothing%0a2026-01-01T00:00:00.000Z%20127.0.0.1%20GET%20/forged%20200%200", "404" + json},
        {url + "/help", "200 text/html; charset=utf-8"},
        {url + "/help/audio", "200 text/html; charset=utf-8"},
    };
    for (const auto& [args, reply] : curled) {
        EXPECT_EQ(Shell("curl -s -o /dev/null -m 20 -w '%{http_code} %{content_type}' " + args), reply) << args.substr(0, 80);
    }
    std::ifstream log(service_->DataDir() + "/logs/service.log");
    for (std::string line; std::getline(log, line);) EXPECT_NE(line.rfind("2026-01-01T", 0), 0u) << line;
    EXPECT_EQ(service_->OutboxLines().size(), 1u) << "one code sent";
    // The client's address from the trusted proxy's header when it holds one (in one spelling), else
    // the peer's; and the service still serving after all of the above.
    const std::pair<const char*, const char*> proxied[] = {{"203.0.113.7, 10.0.0.1", "203.0.113.7"},
        {" ::ffff:198.51.100.2", "198.51.100.2"}, {"2001:DB8:0::1", "2001:db8::1"}, {"garbage", "127.0.0.1"}};
    for (const auto& [header, address] : proxied)
        EXPECT_EQ(Call("GET", "/get_user_ip", "", 200, {{"X-Forwarded-For", header}})["data"].asString(), address) << header;
    ServiceProcess second({"--listen", "127.0.0.1:" + std::to_string(service_->Port())});
    EXPECT_FALSE(second.Start());
    EXPECT_NE(second.Error().find("cannot listen"), std::string::npos) << second.Error();
}

// A published release: its address follows the Host the client used (when it is a plain
// host[:port]), its file is served in ranges and nothing else of the folder is. (The offer and a
// whole verified download: InstallerDownloadNetTest.)
TEST_F(ServiceNetTest, ReleaseAddressAndRanges) {
    Begin();
    std::string installer(2048, '\0');
    for (std::size_t i = 0; i < installer.size(); ++i) installer[i] = static_cast<char>(i * 7);
    service_->WriteReleaseManifest("1.5.0", "tamsu 1.5.0.deb", installer, true);
    const std::string check = "{\"app_name\":\"TamsuAudioRecorder\"}";
    const std::string path = "/download/tamsu%201.5.0.deb";
    EXPECT_EQ(Call("POST", "/v1/upgrade_check", "{\"app_name\":\"Other\"}")["ret"].asInt(), 200001);
    const std::pair<std::string, std::string> hosts[] = {
        {"127.0.0.1:" + std::to_string(service_->Port()), service_->BaseUrl()},
        {"downloads.example.org:8080", "http://downloads.example.org:8080"},
        {"[2001:db8::1]:80", "http://[2001:db8::1]:80"},
        {"evil.example\"><script>", service_->BaseUrl()},
        {"a.example:80:80", service_->BaseUrl()},
        {"a.example:", service_->BaseUrl()},
    };
    for (const auto& [host, base] : hosts) {
        const Json::Value data = Call("POST", "/v1/upgrade_check", check, 200, {{"Host", host}})["data"];
        EXPECT_EQ(data["download_url"].asString(), base + path) << host;
        EXPECT_FALSE(data.isMember("signature")) << "signed without --release-key";
    }
    const std::tuple<const char*, httplib::Ranges, int, std::string> ranged[] = {  // path, ranges, status, body ("": a JSON error)
        {path.c_str(), {{1024, 2047}}, 206, installer.substr(1024)},
        {path.c_str(), {{-1, 10}}, 206, installer.substr(2038)},
        {path.c_str(), {{0, 2048}}, 206, installer},  // an end past the file: up to its end
        {path.c_str(), {{2000, 99999999999}}, 206, installer.substr(2000)},
        {path.c_str(), {{-1, 5000}}, 206, installer},
        {path.c_str(), {{0, 1}, {4, 5}}, 200, installer},  // several ranges: the whole file
        {path.c_str(), {{2048, 3000}}, 416, ""},
        {"/get_user_ip", {{0, 5}}, 200, "{\"data\":\"127.0.0.1\",\"ret\":0}"},  // never a cut envelope
        {"/download/missing.deb", {{0, 5}}, 404, ""},
        {"/download/manifest.json", {}, 404, ""},
        {"/download/..%2Fmanifest.json", {}, 404, ""},
    };
    auto client = Client();
    for (const auto& [at, ranges, status, body] : ranged) {
        const auto res = ranges.empty() ? client.Get(at) : client.Get(at, {httplib::make_range_header(ranges)});
        ASSERT_TRUE(res) << at;
        EXPECT_EQ(res->status, status) << at << " " << ranges.size();
        EXPECT_TRUE(body.empty() ? ParseJson(res->body).isMember("ret") : res->body == body) << at << res->body.substr(0, 40);
    }
}

TEST_F(ServiceNetTest, FeedbackIsStoredWithTimeAndSenderInPrivateFiles) {
    Begin();
    ASSERT_EQ(service_->Stop(), 0);
    // A data folder of looser modes and a umask that would keep them loose: the service tightens both.
    const std::string dir = service_->DataDir();
    for (const std::string& path : {dir, dir + "/logs", dir + "/releases"}) chmod(path.c_str(), 0755);
    for (const std::string& path : {dir + "/tamsu-service.db", dir + "/logs/service.log"}) chmod(path.c_str(), 0644);
    const mode_t umaskBefore = umask(022);
    ASSERT_TRUE(service_->Start()) << service_->Error();
    umask(umaskBefore);
    const Json::Value reply = Call("POST", "/v1/feedback", "{\n   \"contact\" : \"QQ 10001\",\n   \"content\" : \"录音很清楚，谢谢！\"\n}\n");
    ASSERT_EQ(reply["ret"].asInt(), 0);
    EXPECT_EQ(Get(std::string("/v1/smsnotify/register/") + kPhone)["ret"].asInt(), 0);
    const std::pair<std::string, mode_t> modes[] = {
        {"", 0700}, {"/logs", 0700}, {"/releases", 0700}, {"/tamsu-service.db", 0600},
        {"/tamsu-service.db-wal", 0600}, {"/logs/service.log", 0600}, {"/sms-outbox.log", 0600}};
    for (const auto& [path, mode] : modes) {
        struct stat st {};
        ASSERT_EQ(stat((dir + path).c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 0777, mode) << path;
    }
    ASSERT_EQ(service_->Stop(), 0) << "a clean stop";
    EXPECT_EQ(Column(dir + "/tamsu-service.db", "SELECT (abs(received_at - unixepoch()) < 120) || '|' || "
                                                "sender_address || '|' || contact || '|' || content FROM feedback"),
              std::vector<std::string>{"1|127.0.0.1|QQ 10001|录音很清楚，谢谢！"});
}

TEST_F(ServiceNetTest, CodesGoToTheWebhook) {
    httplib::Server hook;
    std::mutex mutex;
    std::vector<Json::Value> received;
    std::atomic<int> status = 200;
    hook.Post("/sms", [&](const httplib::Request& req, httplib::Response& res) {  // on the hook's threads
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(ParseJson(req.body));
        res.status = status;
    });
    const int port = hook.bind_to_any_port("127.0.0.1");
    std::thread hookThread([&] { hook.listen_after_bind(); });
    Begin({"--sms-webhook", "http://127.0.0.1:" + std::to_string(port) + "/sms"});

    EXPECT_EQ(Get(std::string("/v1/smsnotify/register/") + kPhone)["ret"].asInt(), 0);
    status = 500;
    EXPECT_EQ(Get("/v1/smsnotify/register/13900139000", 502)["ret"].asInt(), 100502);
    hook.stop();
    hookThread.join();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0]["phone"].asString(), kPhone);
    EXPECT_EQ(received[0]["code"].asString().size(), 6u);
    EXPECT_TRUE(service_->OutboxLines().empty());
}

// Slow clients take connection threads, not the handlers: a normal client is served while they
// trickle, they are cut at the request deadline, and a stop answers every request already sent.
TEST_F(ServiceNetTest, SlowClientsAndAStopWithRequestsInFlight) {
    Begin({"--threads", "2"});
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 16; ++i) {
        slow.push_back(std::make_unique<RawClient>(service_->Port(), "POST /v1/feedback HTTP/1.1\r\nContent-Length: 30\r\n\r\n{"));
        ASSERT_TRUE(slow.back()->sent);
    }
    EXPECT_EQ(Get("/get_user_ip")["ret"].asInt(), 0) << "served while the handlers' share of slow clients waits";

    std::vector<std::unique_ptr<RawClient>> logins;
    const std::string login = "{\"mobilephone\":\"13800138000\",\"password\":\"x\"}";
    for (int i = 0; i < 12; ++i) {
        logins.push_back(std::make_unique<RawClient>(service_->Port(), "POST /v1/login HTTP/1.1\r\nConnection: close\r\n"
                                                     "Content-Length: " + std::to_string(login.size()) + "\r\n\r\n" + login));
        ASSERT_TRUE(logins.back()->sent);
    }
    ASSERT_EQ(kill(service_->Pid(), SIGTERM), 0);
    for (auto& client : logins) {
        const std::string reply = client->ReadAll();
        EXPECT_TRUE(reply.rfind("HTTP/1.1 200", 0) == 0 || reply.rfind("HTTP/1.1 429", 0) == 0) << reply;
    }
    for (auto& client : slow) EXPECT_EQ(client->ReadAll().substr(0, 12), "HTTP/1.1 408");
    EXPECT_EQ(service_->Stop(), 0);
}

// A full disk: what was acknowledged is stored, under its own id; the rest gets a JSON 500.
TEST_F(ServiceNetTest, FullDiskNeverAcknowledgesALostWrite) {
    TestEnv env;
    const std::string disk = env.MakeFolder("disk").toStdString();
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
    }
    const std::string data = disk + "/data";
    Begin({"--data", data});
    const std::string body = "{\"contact\":\"c\",\"content\":\"" + std::string(8000, 'x') + "\"}";
    std::set<std::int64_t> ids;
    int failures = 0;
    for (int i = 0; i < 2000 && failures < 3; ++i) {
        const auto res = Client().Post("/v1/feedback", body, "application/json");
        ASSERT_TRUE(res);
        const Json::Value reply = ParseJson(res->body);
        if (res->status == 200) {
            EXPECT_TRUE(ids.insert(reply["data"]["id"].asInt64()).second) << "id given twice";
        } else {
            EXPECT_EQ(res->status, 500);
            EXPECT_EQ(reply["ret"].asInt(), 100500);
            ++failures;
        }
    }
    EXPECT_EQ(failures, 3) << "the disk filled";
    EXPECT_GT(ids.size(), 50u) << "stored until it filled";
    service_->Stop();
    std::set<std::int64_t> stored;
    for (const auto& id : Column(data + "/tamsu-service.db", "SELECT id FROM feedback")) stored.insert(std::stoll(id));
    EXPECT_EQ(stored, ids);
    umount2(disk.c_str(), MNT_DETACH);
}

}  // namespace
