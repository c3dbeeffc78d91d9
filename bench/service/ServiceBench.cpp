// Requests per second of tamsu-service (feedback posts, upgrade checks, logins) and its peak
// memory, each as a ratio against a reference measured in the same run: a trivial cpp-httplib
// server (same threads, same client) for the HTTP rows and its memory, Argon2id verifications at the
// service's cost on as many threads as the service hashes at once for the login row. --postgres
// adds feedback posts and upgrade checks on PostgreSQL: one instance against SQLite, two instances
// on one database against one.

#include "PasswordHasher.h"
#include "PostgresCluster.h"
#include "ServiceProcess.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct BenchOptions {
    double seconds = 3.0;
    int clients = 4;
    std::string service = ServiceProcess::BinaryPath();  // another build's tamsu-service to compare
    long walPosts = 0;                                    // > 0: the log size after that many feedback posts
    bool postgres = false;                                // the rows of one and two instances on PostgreSQL
};

// Runs work on `threads` threads for `seconds`; returns completed calls per second. A call that
// fails is not counted and ends its thread (the figure then shows it).
double PerSecond(int threads, double seconds, const std::function<std::function<bool()>()>& makeWorker) {
    std::atomic<long> done{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> pool;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t) {
        // Client thread: owns its connection (made by makeWorker); shares only the counters.
        pool.emplace_back([&, work = makeWorker()] {
            while (!stop.load(std::memory_order_relaxed)) {
                if (!work()) return;
                done.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));  // the measuring window
    stop = true;
    for (auto& thread : pool) thread.join();
    return static_cast<double>(done.load()) / std::chrono::duration<double>(Clock::now() - start).count();
}

// Client threads made by the result post body to path, each keeping one connection to one of
// servers, taken in turn.
std::function<std::function<bool()>()> Spread(std::vector<const ServiceProcess*> servers, std::string path,
                                              std::string body) {
    auto next = std::make_shared<std::size_t>(0);
    return [servers, next, path, body] {
        const int port = servers[(*next)++ % servers.size()]->Port();
        auto client = std::make_shared<httplib::Client>("127.0.0.1", port);
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
        client->set_read_timeout(30, 0);
        return std::function<bool()>([client, path, body] {
            const auto res = client->Post(path.c_str(), body, "application/json;charset=UTF-8");
            return res && res->status == 200 && res->body.find("\"ret\":0") != std::string::npos;
        });
    };
}

std::function<std::function<bool()>()> Poster(const ServiceProcess& server, std::string path, std::string body) {
    return Spread({&server}, std::move(path), std::move(body));
}

long PeakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Milliseconds of the slowest of `requests` upgrade checks on fresh connections (as the program
// makes them), while `slow` clients hold connections with a request they never finish. Each check
// gives up after 15 s (then counted as 15000).
double SlowestBeside(const ServiceProcess& service, int slow, int requests) {
    std::vector<int> holders;
    const std::string partial = "POST /v1/feedback HTTP/1.1\r\nHost: x\r\nContent-Length: 30\r\n\r\n{";
    for (int i = 0; i < slow; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(service.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            send(fd, partial.data(), partial.size(), MSG_NOSIGNAL);
        }
        holders.push_back(fd);
    }
    double worst = 0;
    for (int i = 0; i < requests; ++i) {
        httplib::Client client("127.0.0.1", service.Port());
        client.set_read_timeout(15, 0);
        client.set_connection_timeout(15, 0);
        const auto start = Clock::now();
        const auto res = client.Post("/v1/upgrade_check", "{\"app_name\":\"TamsuAudioRecorder\"}", "application/json");
        const double ms = res ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : 15000.0;
        worst = std::max(worst, ms);
    }
    for (int fd : holders) close(fd);
    return worst;
}

void Row(const char* what, double value, double reference) {
    std::printf("%-44s %10.1f %10.2f\n", what, value, reference > 0 ? value / reference : 0.0);
}

bool ParseArgs(int argc, char** argv, BenchOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            options.seconds = std::atof(argv[++i]);
        } else if (arg == "--clients" && i + 1 < argc) {
            options.clients = std::atoi(argv[++i]);
        } else if (arg == "--service" && i + 1 < argc) {
            options.service = argv[++i];
        } else if (arg == "--wal-posts" && i + 1 < argc) {
            options.walPosts = std::atol(argv[++i]);
        } else if (arg == "--postgres") {
            options.postgres = true;
        } else {
            std::fprintf(stderr, "usage: service_bench [--seconds N] [--clients N] [--service BINARY] [--wal-posts N] [--postgres]\n");
            return false;
        }
    }
    return options.seconds > 0 && options.clients > 0;
}

// Feedback posts and upgrade checks of one service on SQLite (the reference), one on PostgreSQL and
// two on the same PostgreSQL database (the clients spread over both), on a private server.
bool PostgresRows(const BenchOptions& options, const ServiceProcess& sqlite, const std::string& feedback) {
    PostgresCluster cluster;
    const std::string url = cluster.Start() ? cluster.NewDatabase() : "";
    if (url.empty()) {
        std::fprintf(stderr, "service_bench: %s\n", cluster.Error().c_str());
        return false;
    }
    ServiceProcess first({"--database", url}, options.service);
    ServiceProcess second({"--database", url}, options.service);
    if (!first.Start() || !second.Start()) {
        std::fprintf(stderr, "service_bench: %s%s\n", first.Error().c_str(), second.Error().c_str());
        return false;
    }
    for (const ServiceProcess* s : {&first, &second}) {
        s->WriteReleaseManifest("1.5.0", "tamsu-recorder_1.5.0_amd64.deb", std::string(1 << 20, 'x'));
    }
    std::printf("PostgreSQL 15 (private server, unix socket), same %d client threads\n", options.clients);
    std::printf("%-44s %10s %10s\n", "", "per second", "ratio");
    const struct {
        const char* name;
        const char* path;
        std::string body;
    } kinds[] = {{"feedback posts", "/v1/feedback", feedback},
                 {"upgrade checks", "/v1/upgrade_check?timestamp=1", "{\"app_name\":\"TamsuAudioRecorder\"}"}};
    for (const auto& kind : kinds) {
        const auto rate = [&](std::vector<const ServiceProcess*> servers) {
            return PerSecond(options.clients, options.seconds, Spread(std::move(servers), kind.path, kind.body));
        };
        const double onSqlite = rate({&sqlite});
        const double one = rate({&first});
        const double two = rate({&first, &second});
        Row((std::string(kind.name) + ", 1 instance on SQLite").c_str(), onSqlite, onSqlite);
        Row((std::string(kind.name) + ", 1 instance on PostgreSQL").c_str(), one, onSqlite);
        Row((std::string(kind.name) + ", 2 instances on PostgreSQL").c_str(), two, one);
    }
    std::printf("(ratios: PostgreSQL against SQLite for 1 instance, 2 instances against 1)\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions options;
    if (!ParseArgs(argc, argv, options) || sodium_init() < 0) return 2;
    ServiceProcess reference({}, TAMSU_BENCH_REFERENCE_SERVER);
    ServiceProcess service({}, options.service);
    if (!reference.Start() || !service.Start()) {
        std::fprintf(stderr, "service_bench: %s%s\n", reference.Error().c_str(), service.Error().c_str());
        return 1;
    }
    service.WriteReleaseManifest("1.5.0", "tamsu-recorder_1.5.0_amd64.deb", std::string(1 << 20, 'x'));

    // An account to log in to.
    const std::string phone = "13800138000";
    httplib::Client client("127.0.0.1", service.Port());
    client.Get(("/v1/smsnotify/register/" + phone).c_str());
    const std::string registration = "{\"code\":\"" + service.LatestCode(phone) + "\",\"mobilephone\":\"" + phone +
                                     "\",\"password\":\"bench-password\"}";
    const auto registered = client.Post("/v1/register", registration, "application/json");
    if (!registered || registered->body.find("\"ret\":0") == std::string::npos) {
        std::fprintf(stderr, "service_bench: registration failed\n");
        return 1;
    }

    const std::string feedback = "{\n   \"contact\" : \"QQ 10001\",\n   \"content\" : \"录音很清楚，谢谢！\"\n}\n";
    const double ping = PerSecond(options.clients, options.seconds, Poster(reference, "/v1/ping", feedback));
    const double posts = PerSecond(options.clients, options.seconds, Poster(service, "/v1/feedback", feedback));
    const double checks = PerSecond(options.clients, options.seconds,
                                    Poster(service, "/v1/upgrade_check?timestamp=1", "{\"app_name\":\"TamsuAudioRecorder\"}"));

    PasswordHasher hasher;
    const std::string stored = hasher.Hash("bench-password");
    const double verifies = PerSecond(PasswordHasher::kMaxConcurrentHashes, options.seconds, [&] {
        return std::function<bool()>([&] { return hasher.Verify(stored, "bench-password"); });
    });
    const double logins = PerSecond(options.clients, options.seconds,
                                    Poster(service, "/v1/login?timestamp=1",
                                           "{\"mobilephone\":\"" + phone + "\",\"password\":\"bench-password\"}"));

    const long serviceKiB = PeakKiB(service.Pid());
    const double alone = SlowestBeside(service, 0, 5);
    const double beside8 = SlowestBeside(service, 8, 5);
    const double beside64 = SlowestBeside(service, 64, 5);
    const long referenceKiB = PeakKiB(reference.Pid());
    std::printf("tamsu-service, %u cores, %d client threads (keep-alive), %.1f s per row\n",
                std::thread::hardware_concurrency(), options.clients, options.seconds);
    std::printf("%-44s %10s %10s\n", "", "per second", "ratio");
    Row("reference: trivial httplib endpoint", ping, ping);
    Row("feedback posts (parse, insert, log)", posts, ping);
    Row("upgrade checks (manifest, 1 MiB release)", checks, ping);
    Row("reference: Argon2id verify, in-process", verifies, verifies);
    Row("logins (Argon2id t=2, 19 MiB)", logins, verifies);
    std::printf("%-44s %10ld %10.2f\n", "peak memory VmHWM, KiB (reference: trivial)", serviceKiB,
                referenceKiB > 0 ? static_cast<double>(serviceKiB) / static_cast<double>(referenceKiB) : 0.0);
    std::printf("%-44s %10ld\n", "reference peak memory VmHWM, KiB", referenceKiB);
    std::printf("%-44s %10s %10s\n", "slowest of 5 upgrade checks, ms", "ms", "ratio");
    Row("  alone", alone, alone);
    Row("  beside 8 clients that never finish a request", beside8, alone);
    Row("  beside 64 clients that never finish a request", beside64, alone);
    if (options.walPosts > 0) {
        auto client = std::make_shared<httplib::Client>("127.0.0.1", service.Port());
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
        long stored = 0;
        for (long i = 0; i < options.walPosts; ++i) {
            const auto res = client->Post("/v1/feedback", feedback, "application/json");
            if (res && res->status == 200) ++stored;
        }
        std::error_code ec;
        const auto wal = std::filesystem::file_size(service.DataDir() + "/tamsu-service.db-wal", ec);
        const auto db = std::filesystem::file_size(service.DataDir() + "/tamsu-service.db", ec);
        std::printf("after %ld more feedback posts (%ld stored): database %ju KiB, write-ahead log %ju KiB\n",
                    options.walPosts, stored, static_cast<std::uintmax_t>(db / 1024),
                    static_cast<std::uintmax_t>(wal / 1024));
    }
    return options.postgres && !PostgresRows(options, service, feedback) ? 1 : 0;
}
