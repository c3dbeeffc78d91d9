#include "ClientConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// How long and how much a lingering close reads before it closes anyway.
constexpr auto kLingerTime = std::chrono::seconds(2);
constexpr std::size_t kLingerBytes = 1024 * 1024;

void AddressOf(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

}  // namespace

ClientConnection::ClientConnection(int fd, SSL_CTX* tls, std::chrono::milliseconds writeTimeout)
    : fd_(fd), writeTimeout_(writeTimeout) {
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    // Replies are small and written in pieces (headers, body): Nagle's delay would hold them back.
    int yes = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressOf(address, peer_, peerPort_);
    if (tls != nullptr) {
        ssl_ = SSL_new(tls);
        if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) broken_ = true;
    }
}

ClientConnection::~ClientConnection() {
    if (ssl_ != nullptr) {
        if (!broken_) SSL_shutdown(ssl_);  // close_notify, best effort (non-blocking)
        SSL_free(ssl_);
    }
    close(fd_);
}

bool ClientConnection::Wait(short events, Clock::time_point deadline) const {
    for (;;) {
        // Rounded up: a wait that gives up has reached its deadline (a caller tells a time-out by it).
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p {fd_, events, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, 60'000)));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

template <class Call>
int ClientConnection::RetryTls(Call call, Clock::time_point deadline) {
    for (;;) {
        ERR_clear_error();
        const int result = call();
        if (result > 0) return result;
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (Wait(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) continue;
            return -1;  // the deadline passed; the connection itself is still good for a reply
        }
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        broken_ = true;
        return -1;
    }
}

bool ClientConnection::Handshake(Clock::time_point deadline) {
    if (broken_) return false;
    if (ssl_ == nullptr) return true;
    return RetryTls([this] { return SSL_accept(ssl_); }, deadline) > 0;
}

ssize_t ClientConnection::Receive(char* data, std::size_t size, Clock::time_point deadline) {
    if (broken_) return -1;
    if (ssl_ != nullptr) {
        const int got = RetryTls([&] { return SSL_read(ssl_, data, static_cast<int>(size)); }, deadline);
        return got;
    }
    for (;;) {
        const ssize_t got = recv(fd_, data, size, 0);
        if (got >= 0) return got;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (Wait(POLLIN, deadline)) continue;
            return -1;  // the deadline passed; the connection itself is still good for a reply
        }
        if (errno == EINTR) continue;
        broken_ = true;
        return -1;
    }
}

bool ClientConnection::Send(const char* text, std::size_t total, Clock::time_point deadline) {
    std::size_t at = 0;
    while (at < total && !broken_) {
        const std::size_t size = total - at;
        if (ssl_ != nullptr) {
            const int put = RetryTls([&] { return SSL_write(ssl_, text + at, static_cast<int>(size)); }, deadline);
            if (put <= 0) return false;
            at += static_cast<std::size_t>(put);
            continue;
        }
        const ssize_t put = ::send(fd_, text + at, size, MSG_NOSIGNAL);
        if (put >= 0) {
            at += static_cast<std::size_t>(put);
        } else if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && Wait(POLLOUT, deadline))) {
            continue;
        } else {  // an error, or a client that reads nothing until the deadline
            broken_ = true;
        }
    }
    return !broken_;
}

bool ClientConnection::WaitReadable(Clock::time_point deadline) {
    if (ssl_ != nullptr && SSL_pending(ssl_) > 0) return true;
    return !broken_ && Wait(POLLIN, deadline);
}

void ClientConnection::Replay(std::string request) {
    replay_ = std::move(request);
    replayAt_ = 0;
}

void ClientConnection::LingeringClose() {
    if (ssl_ != nullptr) {
        SSL_shutdown(ssl_);
        broken_ = true;  // no second close_notify at destruction
    }
    shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + kLingerTime;
    char sink[16 * 1024];
    std::size_t dropped = 0;
    while (dropped < kLingerBytes && Wait(POLLIN, deadline)) {
        const ssize_t got = recv(fd_, sink, sizeof sink, 0);
        if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR))) break;
        if (got > 0) dropped += static_cast<std::size_t>(got);
    }
}

bool ClientConnection::is_readable() const { return replayAt_ < replay_.size(); }

bool ClientConnection::is_writable() const { return !broken_; }

ssize_t ClientConnection::read(char* ptr, size_t size) {
    const std::size_t take = std::min(size, replay_.size() - replayAt_);
    std::copy_n(replay_.data() + replayAt_, take, ptr);
    replayAt_ += take;
    return static_cast<ssize_t>(take);
}

ssize_t ClientConnection::write(const char* ptr, size_t size) {
    if (!Send(ptr, size, Clock::now() + writeTimeout_)) return -1;
    return static_cast<ssize_t>(size);
}

void ClientConnection::get_remote_ip_and_port(std::string& ip, int& port) const {
    ip = peer_;
    port = peerPort_;
}

void ClientConnection::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressOf(address, ip, port);
}
