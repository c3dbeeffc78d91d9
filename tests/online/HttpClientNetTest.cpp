// ServiceGet and ServicePostJson against local servers: what counts as success, what a failed
// call leaves, the transport rules (schemes, reply cap), and TLS through the public address that
// tamsu-service answers, with the service's own TLS floor. (The headers and body a post sends: the
// feedback dialog's test.)

#include "ConfigStore.h"
#include "HttpClient.h"
#include "LocalServer.h"
#include "Process.h"
#include "PublicAddress.h"
#include "ServiceProcess.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <tuple>

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
    const std::tuple<int, std::string, int> cases[] = {  // status, body, result
        {200, R"({"ret":0})", 0}, {204, "", -1}, {200, "", -1}, {404, R"({"ret":0})", -1},
        {500, R"({"ret":0})", -1}, {302, R"({"ret":0})", -1},
    };
    for (const auto& [status, body, result] : cases) {
        LocalHttpServer server;
        server.Http().Get("/r", Reply(status, body));
        server.Http().Post("/r", Reply(status, body));
        server.Start();
        std::string got, posted;
        EXPECT_EQ(ServiceGet(server.Url("/r"), got), result) << status;
        EXPECT_EQ(ServicePostJson("{}", server.Url("/r"), posted), result) << status;
        // A failed call keeps the body it received; callers must not read it as an answer.
        EXPECT_EQ(got, status == 204 ? "" : body);
        EXPECT_EQ(posted, got);
    }
}

TEST_F(HttpClientTest, FailuresOfTransport)
{
    std::string reply;
    LocalHttpServer gone;
    gone.Start();
    EXPECT_EQ(ServicePostJson("{}", gone.StoppedUrl("/v1/feedback"), reply), -1);
    EXPECT_EQ(ServicePostJson("{}", "file:///etc/passwd", reply), -1);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(ServiceGet("ftp://127.0.0.1/x", reply), -1);

    LocalHttpServer server;
    server.Http().Get("/big", Reply(200, std::string(kMaxReplyBytes + 1, 'x')));
    server.Start();
    EXPECT_EQ(ServiceGet(server.Url("/big"), reply), -1);
    EXPECT_LE(reply.size(), kMaxReplyBytes);
}

// tamsu-service over HTTPS with a private certificate: the public address is stored beside the
// other keys once the certificate's authority is known (TAMSU_CA_FILE), never from an unknown one;
// the service takes TLS 1.2 or later only, even under an OpenSSL policy that would allow 1.0 and 1.1.
TEST_F(HttpClientTest, PublicAddressIsStoredOnlyFromATrustedService)
{
    TestEnv env;
    const std::string dir = env.MakeFolder("tls").toStdString();
    const std::string cert = dir + "/cert.pem";
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=127.0.0.1 "
                           "-addext subjectAltName=IP:127.0.0.1 -keyout " + dir + "/key.pem -out " + cert + " >/dev/null 2>&1").c_str()), 0);
    std::ofstream(dir + "/weak.cnf") << "openssl_conf = c\n[c]\nssl_conf = s\n[s]\nsystem_default = d\n[d]\n"
                                        "MinProtocol = TLSv1\nCipherString = DEFAULT@SECLEVEL=0\n";
    env.Set("OPENSSL_CONF", dir + "/weak.cnf"); // for the programs started here (this one read its policy at set-up)
    ServiceProcess service({"--tls-cert", cert, "--tls-key", dir + "/key.pem"});
    ASSERT_TRUE(service.Start()) << service.Error();
    // Sessions made ("New, TLSv1.x, Cipher is ..."; a refused one still names the protocol it asked for).
    for (const auto& [version, count] : {std::pair{"tls1_1", "0\n"}, {"tls1_2", "1\n"}}) {
        EXPECT_EQ(RunProcess({"sh", "-c", "echo | openssl s_client -connect 127.0.0.1:" + std::to_string(service.Port()) + " -" + version +
                                              " -cipher DEFAULT@SECLEVEL=0 2>&1 | grep -c '^New, TLS'"}).out, count) << version;
    }
    env.Set("TAMSU_SERVICE_URL", service.BaseUrl());
    for (const bool trusted : {false, true}) {
        env.Set("TAMSU_CA_FILE", trusted ? cert : ""); // empty: none
        PublicAddressThread();
        QString address; // (that the other keys stay: the configuration store's tests)
        ReadConfigString(config::kSection, config::kUserRealIp, QString(), address, config::kUserRealIpCapacity);
        EXPECT_EQ(address, trusted ? "127.0.0.1" : "") << trusted;
    }
    std::string reply;
    EXPECT_EQ(ServicePostJson("{}", service.BaseUrl() + "/get_user_ip", reply), -1); // 405 over TLS, still checked
}
