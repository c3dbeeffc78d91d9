#pragma once
// ServiceServer: tamsu-service's HTTP(S) server: the data folder, the database, the release
// manifest, the accounts and every endpoint, on cpp-httplib behind the service's own reading of
// requests (GuardedHttpServer: deadlines, body and header limits, handler slots).
//
//   ServiceServer server(options);
//   if (!server.Start(error)) ...;   // folders, database, TLS, routes, bound socket (port known)
//   server.Run();                    // serves until Stop (from another thread or a signal thread)
//
// Replies are the envelope {"ret": <int>, "data": ...} (ServiceCodes.h), JSON in UTF-8, also for
// errors (400 malformed body, 404, 413 body over 64 KiB, 429, 500). Each request is logged in one
// line. Start and Run on one thread; Stop on any.

#include "AccountService.h"
#include "ServiceOptions.h"

#include <memory>
#include <string>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib
namespace Json {
class Value;
}
class Database;
class GuardedHttpServer;
class PasswordHasher;
class ReleaseManifest;
class ReleaseSigner;
class RequestLog;
class SmsSender;

class ServiceServer {
public:
    // clock: seconds since the epoch; the system clock when empty.
    explicit ServiceServer(ServiceOptions options, ServiceClock clock = {});
    ~ServiceServer();
    ServiceServer(const ServiceServer&) = delete;
    ServiceServer& operator=(const ServiceServer&) = delete;

    bool Start(std::string& error);
    // Blocks until Stop; false when the server could not run.
    bool Run();
    void Stop();

    int Port() const { return port_; }
    // "http://127.0.0.1:8417" as bound.
    std::string BaseUrl() const;

private:
    using JsonHandler = ServiceOutcome (ServiceServer::*)(const Json::Value& body, const httplib::Request& req);
    void Routes();
    void PostJson(const char* path, JsonHandler handler);
    // 405 with Allow for the methods a known path does not take.
    void WrongMethods(const char* path, const char* allow);
    void Reply(httplib::Response& res, const ServiceOutcome& outcome) const;
    std::string ClientAddress(const httplib::Request& req) const;
    std::string PublicBase(const httplib::Request& req) const;

    ServiceOutcome UpgradeCheck(const Json::Value& body, const httplib::Request& req);
    ServiceOutcome Feedback(const Json::Value& body, const httplib::Request& req);
    ServiceOutcome Login(const Json::Value& body, const httplib::Request& req);
    ServiceOutcome Register(const Json::Value& body, const httplib::Request& req);
    ServiceOutcome Forgot(const Json::Value& body, const httplib::Request& req);
    void Download(const httplib::Request& req, httplib::Response& res);

    ServiceOptions options_;
    ServiceClock clock_;
    int port_ = 0;
    std::unique_ptr<RequestLog> log_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<ReleaseManifest> releases_;
    std::unique_ptr<ReleaseSigner> signer_;  // null: answers carry no signature
    std::unique_ptr<PasswordHasher> hasher_;
    std::unique_ptr<SmsSender> sms_;
    std::unique_ptr<AccountService> accounts_;
    std::unique_ptr<GuardedHttpServer> http_;
};
