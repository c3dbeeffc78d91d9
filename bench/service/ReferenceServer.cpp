// The benchmark's reference: cpp-httplib with the service's thread count and body limit, one
// endpoint that answers a fixed envelope without parsing, storing or logging anything.
// Takes the service's --listen/--data options (the data folder is ignored) and prints the same
// start-up line.

#include <httplib.h>

#include <cstdio>
#include <string>

namespace {

// The service's pool size and body limit, so only the work per request differs.
constexpr int kThreads = 8;
constexpr unsigned kMaxBodyBytes = 64 * 1024;

}  // namespace

int main(int argc, char** argv) {
    std::string listen = "127.0.0.1:0";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--listen") listen = argv[i + 1];
    }
    const auto colon = listen.rfind(':');
    const std::string host = listen.substr(0, colon);
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(kMaxBodyBytes);
    server.Post("/v1/ping", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"data\":null,\"ret\":0}", "application/json; charset=utf-8");
    });
    const int port = server.bind_to_any_port(host);
    if (port <= 0) return 1;
    std::printf("reference listening on http://%s:%d\n", host.c_str(), port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
