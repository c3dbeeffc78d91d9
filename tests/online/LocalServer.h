#pragma once
// Servers on 127.0.0.1 for the online tests, for replies the reference service never gives.
//
//   LocalHttpServer server;                      // or LocalHttpServer(certFile, keyFile) for HTTPS
//   server.Http().Get("/x", [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
//   server.Start();
//   ServiceGet(server.Url("/x"), reply);
//
//   CannedServer early("HTTP/1.1 200 OK\r\nContent-Length: 2048\r\n\r\n" + std::string(1000, 'x'));
//   // answers every connection with these bytes (HEAD gets the head part only) and hangs up

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

class LocalHttpServer {
public:
    LocalHttpServer() : server_(std::make_unique<httplib::Server>()) {}
    LocalHttpServer(const std::string& certFile, const std::string& keyFile)
        : server_(std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str()))
        , scheme_("https")
    {
    }
    ~LocalHttpServer()
    {
        server_->stop();
        if (thread_.joinable())
            thread_.join();
    }

    httplib::Server& Http() { return *server_; }
    void Start()
    {
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // The port accepts from bind on; stop() needs a running loop, so wait for it to begin.
        while (!server_->is_running())
            std::this_thread::yield();
    }
    std::string Url(const std::string& path) const
    {
        return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    std::string scheme_ = "http";
    int port_ = 0;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class CannedServer {
public:
    explicit CannedServer(std::string response) : response_(std::move(response))
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~CannedServer()
    {
        stopping_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void Serve()
    {
        while (!stopping_) {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0)
                return;
            std::string request;
            char buffer[1024];
            ssize_t n = 0;
            while (request.find("\r\n\r\n") == std::string::npos && (n = ::recv(client, buffer, sizeof buffer, 0)) > 0)
                request.append(buffer, static_cast<size_t>(n));
            const bool head = request.rfind("HEAD", 0) == 0;
            const std::string reply = head ? response_.substr(0, response_.find("\r\n\r\n") + 4) : response_;
            ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }

    std::string response_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
