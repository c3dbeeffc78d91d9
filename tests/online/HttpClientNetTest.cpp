// ServiceGet and ServicePostJson against local servers: what counts as success, what a failed
// call leaves, the transport rules (schemes, reply cap), and TLS through the public address that
// tamsu-service answers. (The headers and body a post sends: the feedback dialog's test.)

#include "ConfigStore.h"
#include "HttpClient.h"
#include "LocalServer.h"
#include "LogCapture.h"
#include "PublicAddress.h"
#include "ServiceProcess.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Handler = httplib::Server::Handler;

Handler Reply(int status, std::string body)
{
    return [status, body](const httplib::Request&, httplib::Response& r) {
        r.status = status;
        r.set_content(body, "application/json");
    };
}

class HttpClientTest : public testing::Test {
protected:
    void SetUp() override { EnsureCurlGlobalInit(); }
};

} // namespace

TEST_F(HttpClientTest, SuccessNeedsNoErrorA2xxStatusAndABody)
{
    const struct {
        int status;
        std::string body;
        int result;
    } cases[] = {
        {200, R"({"ret":0})", 0}, {204, "", -1}, {200, "", -1}, {404, R"({"ret":0})", -1},
        {500, R"({"ret":0})", -1}, {302, R"({"ret":0})", -1},
    };
    for (const auto& c : cases) {
        LocalHttpServer server;
        server.Http().Get("/r", Reply(c.status, c.body));
        server.Http().Post("/r", Reply(c.status, c.body));
        server.Start();
        std::string got, posted;
        EXPECT_EQ(ServiceGet(server.Url("/r"), got), c.result) << c.status;
        EXPECT_EQ(ServicePostJson("{}", server.Url("/r"), posted), c.result) << c.status;
        // A failed call keeps the body it received; callers must not read it as an answer.
        EXPECT_EQ(got, c.status == 204 ? "" : c.body);
        EXPECT_EQ(posted, got);
    }
}

TEST_F(HttpClientTest, FailuresOfTransport)
{
    std::string reply;
    LogCapture log; // the outcome goes to the log, not to standard output
    testing::internal::CaptureStdout();
    LocalHttpServer gone;
    gone.Start();
    EXPECT_EQ(ServicePostJson("{}", gone.StoppedUrl("/v1/feedback"), reply), -1);
    EXPECT_EQ(ServicePostJson("{}", "file:///etc/passwd", reply), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(log.HasLine({"curl code:7,strerror:Couldn't connect to server"})) << log.Text();
    EXPECT_TRUE(log.HasLine({"curl code:1,"})) << log.Text(); // unsupported protocol
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(ServiceGet("ftp://127.0.0.1/x", reply), -1);

    LocalHttpServer server;
    server.Http().Get("/big", Reply(200, std::string(kMaxReplyBytes + 1, 'x')));
    server.Start();
    EXPECT_EQ(ServiceGet(server.Url("/big"), reply), -1);
    EXPECT_LE(reply.size(), kMaxReplyBytes);
}

// The public address through HTTPS, from tamsu-service with a private certificate: stored beside
// the other keys once the certificate's authority is known (TAMSU_CA_FILE), never from an unknown one.
TEST_F(HttpClientTest, PublicAddressIsStoredOnlyFromATrustedService)
{
    TestEnv env;
    const std::string cert = env.MakeFolder("tls").toStdString() + "/cert.pem";
    const std::string key = env.Root().toStdString() + "/tls/key.pem";
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -addext "
                           "subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert + " >/dev/null 2>&1").c_str()), 0);
    ServiceProcess service({"--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(service.Start()) << service.Error();
    setenv("TAMSU_SERVICE_URL", service.BaseUrl().c_str(), 1);
    for (const bool trusted : {false, true}) {
        trusted ? setenv("TAMSU_CA_FILE", cert.c_str(), 1) : unsetenv("TAMSU_CA_FILE");
        PublicAddressThread();
        QString address; // (that the other keys stay: the configuration store's tests)
        ReadConfigString(config::kSection, config::kUserRealIp, QString(), address, config::kUserRealIpCapacity);
        EXPECT_EQ(address, trusted ? "127.0.0.1" : "") << trusted;
    }
    std::string reply;
    EXPECT_EQ(ServicePostJson("{}", service.BaseUrl() + "/get_user_ip", reply), -1); // 405 over TLS, still checked
    unsetenv("TAMSU_CA_FILE");
    unsetenv("TAMSU_SERVICE_URL");
}
