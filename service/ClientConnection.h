#pragma once
// ClientConnection: one accepted client socket, plain or TLS, owned (closed at destruction), read
// and written with deadlines; and the httplib::Stream through which the HTTP library reads one
// request already taken off the wire (Replay) and writes its reply to the client.
//
//   ClientConnection conn(fd, tlsContext);        // tlsContext null: plain
//   if (!conn.Handshake(deadline)) return;         // TLS only; a no-op for plain
//   n = conn.Receive(buffer, size, deadline);      // > 0 bytes, 0 end of stream, -1 error or deadline
//   conn.Replay(frame.Normalized());               // what the library's read() returns next
//   server.process_request(conn, ...);             // writes go to the client, each within the write time-out
//
// The socket is non-blocking; every wait is a poll with what is left of the deadline. Not
// thread-safe: one connection thread owns it.

#include <httplib.h>

#include <chrono>
#include <string>

class ClientConnection : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;

    ClientConnection(int fd, SSL_CTX* tls, std::chrono::milliseconds writeTimeout);
    ~ClientConnection() override;
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    bool Handshake(Clock::time_point deadline);
    ssize_t Receive(char* data, std::size_t size, Clock::time_point deadline);
    // Writes all of data by the deadline.
    bool Send(const char* data, std::size_t size, Clock::time_point deadline);
    // Whether bytes arrive before the deadline (for an idle kept-alive connection).
    bool WaitReadable(Clock::time_point deadline);
    void Replay(std::string request);
    // After an early answer: stop sending, then read and drop what the client still sends, for a
    // short while, so that closing does not reset the connection before it has read the answer.
    void LingeringClose();
    const std::string& PeerAddress() const { return peer_; }

    // httplib::Stream
    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    // The library only compares this with FD_SETSIZE (a limit of select(), which nothing uses on
    // this connection: it waits with poll) and answers 500 above it; a busy service has more.
    socket_t socket() const override { return fd_ < FD_SETSIZE ? fd_ : 0; }

private:
    // Waits for the socket to be readable (events POLLIN) or writable (POLLOUT).
    bool Wait(short events, Clock::time_point deadline) const;
    // Retries an SSL call by the deadline; its result, or <= 0 on failure.
    template <class Call>
    int RetryTls(Call call, Clock::time_point deadline);

    int fd_;
    SSL* ssl_ = nullptr;
    std::chrono::milliseconds writeTimeout_;
    std::string peer_;
    int peerPort_ = 0;
    std::string replay_;
    std::size_t replayAt_ = 0;
    bool broken_ = false;
};
