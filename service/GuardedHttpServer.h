#pragma once
// GuardedHttpServer: cpp-httplib's server with the connection handling replaced by the service's
// own, which holds what the library (0.11.4, built as a shared library) cannot:
// - each request is read whole (head and body, and a TLS handshake) within kRequestDeadline, not
//   per read, by a RequestFrame: body limit for chunked bodies too, no compressed bodies, at most
//   RequestFrame::kMaxHeaders headers, "100 Continue" only for a body that will be accepted, an
//   oversize Content-Length refused at once;
// - reading happens on one of kConnectionThreads connection threads; only a request read whole
//   takes one of the `handlers` handler slots (downloads, which touch no database, take none), so
//   slow clients never hold the handlers; one peer address holds at most kMaxConnectionsPerPeer of
//   the connection threads (unless it is a trusted proxy);
// - idle kept-alive connections, plain or TLS, are dropped after kKeepAliveIdle;
// - TLS is 1.2 or later whatever OpenSSL's policy allows;
// - the listen backlog is kListenBacklog;
// - the accept loop is the service's own (Serve): on Shutdown, every connection the kernel has
//   accepted still gets the answer to the request it sent; kept-alive connections then close.
// Routing, handlers, replies and the logger stay the library's. Requests refused here are answered
// with errorBody (JSON) and logged as "<peer> <method> <target> <status> refused: <reason>".
//
// Thread-safety: as httplib::Server (configure, then listen on one thread; stop from any).

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>

class ClientConnection;
class RequestLog;

class GuardedHttpServer : public httplib::Server {
public:
    // Whole time to read one request (the program's own time-out is 10 s as well).
    static constexpr auto kRequestDeadline = std::chrono::seconds(10);
    // An idle kept-alive connection holds a connection thread: release it soon (a client that
    // reuses its connection does so at once; the program opens one per request).
    static constexpr auto kKeepAliveIdle = std::chrono::seconds(2);
    // Writing one piece of a reply (a download's 64 KiB) to a client that does not read.
    static constexpr auto kWriteTimeout = std::chrono::seconds(10);
    // Threads reading requests (made as needed, ConnectionPool): mostly asleep in poll, they cost
    // some stack each; a few hundred slow clients cannot take them all.
    static constexpr int kConnectionThreads = 256;
    static constexpr int kMaxConnectionsPerPeer = kConnectionThreads / 2;
    static constexpr int kMaxRequestsPerConnection = 100;
    // Connections the kernel completes before the accept loop takes them (the library's is 5).
    static constexpr int kListenBacklog = 1024;

    // The body of a refusal: status and reason to the reply's JSON text.
    using ErrorBody = std::function<std::string(int status, const std::string& reason)>;

    // handlers: requests handled at once. behindProxy: the peer is a proxy; no limit per peer.
    GuardedHttpServer(int handlers, bool behindProxy, RequestLog& log, ErrorBody errorBody);
    ~GuardedHttpServer() override;

    // Serves HTTPS with this certificate chain and key (PEM); false with error set.
    bool UseTls(const std::string& certPath, const std::string& keyPath, std::string& error);
    // After binding (bind_to_port, bind_to_any_port): accepts and serves until Shutdown, then
    // takes every connection the kernel has completed, answers what they sent and returns.
    // Replaces the library's listen_after_bind.
    bool Serve();
    // From any thread, also before Serve.
    void Shutdown();

private:
    bool process_and_close_socket(socket_t sock) override;
    // Answers a refused request and closes.
    void Refuse(ClientConnection& conn, int status, const std::string& reason, const std::string& method,
                const std::string& target);
    bool Stopping() const { return stopping_; }
    // Counts a connection of peer; false when the peer has too many.
    bool EnterPeer(const std::string& peer);
    void LeavePeer(const std::string& peer);

    bool behindProxy_;
    RequestLog& log_;
    ErrorBody errorBody_;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> tls_;
    std::counting_semaphore<> handlerSlots_;
    std::mutex peersMutex_;
    std::map<std::string, int> peers_;
    std::atomic<bool> stopping_{false};
    int wake_ = -1;  // eventfd: Shutdown wakes Serve's poll
};
