#include "GuardedHttpServer.h"

#include "ClientConnection.h"
#include "ConnectionPool.h"
#include "RequestFrame.h"
#include "RequestLog.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Bytes read from the socket at a time.
constexpr std::size_t kReadChunk = 16 * 1024;

const char* StatusText(int status) {
    switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
    }
}

// Holds one handler slot for its lifetime.
class HandlerSlot {
public:
    HandlerSlot(std::counting_semaphore<>& slots, bool needed) : slots_(needed ? &slots : nullptr) {
        if (slots_ != nullptr) slots_->acquire();
    }
    ~HandlerSlot() {
        if (slots_ != nullptr) slots_->release();
    }
    HandlerSlot(const HandlerSlot&) = delete;
    HandlerSlot& operator=(const HandlerSlot&) = delete;

private:
    std::counting_semaphore<>* slots_;
};

}  // namespace

GuardedHttpServer::GuardedHttpServer(int handlers, bool behindProxy, RequestLog& log, ErrorBody errorBody)
    : behindProxy_(behindProxy),
      log_(log),
      errorBody_(std::move(errorBody)),
      tls_(nullptr, SSL_CTX_free),
      handlerSlots_(handlers),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

GuardedHttpServer::~GuardedHttpServer() {
    if (wake_ >= 0) close(wake_);
}

void GuardedHttpServer::Shutdown() {
    stopping_ = true;
    const std::uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        // the counter is already set: Serve wakes anyway
    }
}

bool GuardedHttpServer::Serve() {
    const socket_t listener = svr_sock_;
    if (listener == INVALID_SOCKET || wake_ < 0) return false;
    ::listen(listener, kListenBacklog);  // listen() again on a listening socket changes its backlog
    fcntl(listener, F_SETFL, fcntl(listener, F_GETFL) | O_NONBLOCK);
    ConnectionPool connections(kConnectionThreads);
    bool ok = true;
    for (;;) {
        pollfd waits[2] = {{listener, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (!stopping_ && poll(waits, 2, -1) < 0 && errno != EINTR) {
            ok = false;
            break;
        }
        // Take every completed connection; once stopping, the last ones before the socket closes.
        for (;;) {
            const int sock = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (sock < 0) {
                if (errno == EMFILE || errno == ENFILE) poll(nullptr, 0, 10);  // out of descriptors: let some close
                break;
            }
            connections.Run([this, sock] { process_and_close_socket(sock); });
        }
        if (stopping_) break;
    }
    svr_sock_ = INVALID_SOCKET;
    close(listener);
    connections.Shutdown();  // runs what was queued to its end
    return ok;
}

bool GuardedHttpServer::UseTls(const std::string& certPath, const std::string& keyPath, std::string& error) {
    tls_.reset(SSL_CTX_new(TLS_server_method()));
    if (!tls_ || SSL_CTX_set_min_proto_version(tls_.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate_chain_file(tls_.get(), certPath.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_.get(), keyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(tls_.get()) != 1) {
        error = "cannot load the certificate " + certPath + " or the key " + keyPath;
        tls_.reset();
        return false;
    }
    SSL_CTX_set_options(tls_.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    return true;
}

bool GuardedHttpServer::EnterPeer(const std::string& peer) {
    std::lock_guard<std::mutex> lock(peersMutex_);
    int& count = peers_[peer];
    if (!behindProxy_ && count >= kMaxConnectionsPerPeer) {
        if (count == 0) peers_.erase(peer);
        return false;
    }
    ++count;
    return true;
}

void GuardedHttpServer::LeavePeer(const std::string& peer) {
    std::lock_guard<std::mutex> lock(peersMutex_);
    if (--peers_[peer] <= 0) peers_.erase(peer);
}

void GuardedHttpServer::Refuse(ClientConnection& conn, int status, const std::string& reason,
                               const std::string& method, const std::string& target) {
    const std::string body = errorBody_(status, reason);
    const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
                              "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    log_.Write(conn.PeerAddress() + " " + (method.empty() ? "-" : method) + " " + (target.empty() ? "-" : target) +
               " " + std::to_string(status) + " refused: " + reason);
    if (conn.Send(reply.data(), reply.size(), ClientConnection::Clock::now() + kWriteTimeout)) conn.LingeringClose();
}

// Connection thread body (one of kConnectionThreads): owns the accepted socket through conn; reads
// requests within their deadlines and hands each, read whole, to the library's request processing
// under a handler slot. Shares the handler slots and the per-peer counts (both locked).
bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
    using Clock = ClientConnection::Clock;
    ClientConnection conn(sock, tls_.get(), kWriteTimeout);
    auto deadline = Clock::now() + kRequestDeadline;
    if (!EnterPeer(conn.PeerAddress())) {
        if (conn.Handshake(deadline)) Refuse(conn, 503, "too many connections from this address", "", "");
        return false;
    }
    const std::string peer = conn.PeerAddress();
    struct PeerExit {
        GuardedHttpServer* server;
        const std::string& peer;
        ~PeerExit() { server->LeavePeer(peer); }
    } peerExit{this, peer};
    if (!conn.Handshake(deadline)) return false;

    std::string pending;
    char buffer[kReadChunk];
    for (int n = 0; n < kMaxRequestsPerConnection; ++n) {
        if (n > 0) {
            if (Stopping()) return true;
            if (pending.empty() && !conn.WaitReadable(Clock::now() + kKeepAliveIdle)) return true;
            deadline = Clock::now() + kRequestDeadline;
        }
        RequestFrame frame;
        auto state = frame.Feed(pending.data(), pending.size());
        bool started = !pending.empty();
        pending.clear();
        while (state == RequestFrame::State::kNeedMore) {
            if (frame.WantsContinue()) {
                static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
                if (!conn.Send(kContinue.data(), kContinue.size(), deadline)) return false;
            }
            const ssize_t got = conn.Receive(buffer, sizeof buffer, deadline);
            if (got <= 0) {
                if (started && Clock::now() >= deadline) {
                    Refuse(conn, 408, "request not complete within its time", frame.Method(), frame.Target());
                }
                return false;
            }
            started = true;
            state = frame.Feed(buffer, static_cast<std::size_t>(got));
        }
        if (state == RequestFrame::State::kRejected) {
            Refuse(conn, frame.Status(), frame.Reason(), frame.Method(), frame.Target());
            return true;
        }
        pending = frame.TakeLeftover();
        conn.Replay(frame.Normalized());
        const bool last = n + 1 == kMaxRequestsPerConnection || Stopping();
        bool closed = false;
        {
            HandlerSlot slot(handlerSlots_, frame.Target().rfind("/download/", 0) != 0);
            process_request(conn, last, closed, nullptr);
        }
        if (last || closed || !conn.is_writable()) return true;
    }
    return true;
}
