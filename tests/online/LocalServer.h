#pragma once
// An HTTP server on 127.0.0.1 at a free port, on its own thread, for replies the reference
// service never gives (statuses, missing lengths, early ends).
//
//   LocalHttpServer server;
//   server.Http().Get("/x", [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
//   server.Start();
//   ServiceGet(server.Url("/x"), reply);

#include <httplib.h>

#include <string>
#include <thread>

class LocalHttpServer {
public:
    ~LocalHttpServer()
    {
        server_.stop();
        if (thread_.joinable())
            thread_.join();
    }

    httplib::Server& Http() { return server_; }
    void Start()
    {
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // The port accepts from bind on; stop() needs a running loop, so wait for it to begin.
        while (!server_.is_running())
            std::this_thread::yield();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    // An address on 127.0.0.1 that nothing listens on: this server's, once it has stopped.
    std::string StoppedUrl(const std::string& path)
    {
        server_.stop();
        thread_.join();
        return Url(path);
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};
