// tamsu-service: the web service of TAMSU电脑录音软件. See ServiceServer.h and --help.

#include "ReleaseSigner.h"
#include "ServiceOptions.h"
#include "ServiceServer.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    ServiceOptions options;
    std::string error;
    if (!ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tamsu-service: %s\n%s", error.c_str(), ServiceUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ServiceUsage().c_str(), stdout);
        return 0;
    }
    if (options.keygen) {
        std::string publicKey;
        if (!ReleaseSigner::WriteKeyPair(options.keyPrefix, publicKey, error)) {
            std::fprintf(stderr, "tamsu-service keygen: %s\n", error.c_str());
            return 1;
        }
        std::printf("secret key: %s.key (keep it private; pass it to --release-key)\npublic key: %s.pub\n"
                    "build the program with -DTAMSU_RELEASE_PUBLIC_KEY=%s\n",
                    options.keyPrefix.c_str(), options.keyPrefix.c_str(), publicKey.c_str());
        return 0;
    }
    // SIGTERM and SIGINT are taken by the signal thread only (blocked here, before any other
    // thread exists, so every thread inherits the mask); a peer that closes early must not kill us.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Whatever the service writes (database, logs, codes) is its user's alone.
    umask(077);
    // A connection is a descriptor: take all the system allows (the soft limit is often 1024).
    rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    ServiceServer server(options);
    if (!server.Start(error)) {
        std::fprintf(stderr, "tamsu-service: %s\n", error.c_str());
        return 1;
    }
    std::printf("tamsu-service listening on %s\n", server.BaseUrl().c_str());
    std::fflush(stdout);

    std::atomic<bool> finished{false};
    // Signal thread: waits for SIGTERM/SIGINT and stops the server; owns nothing; shares the
    // server (Stop is thread-safe) and `finished`, set by main when the server ended by itself.
    std::thread signalThread([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        if (!finished) server.Stop();
    });
    const bool ok = server.Run();
    finished = true;
    pthread_kill(signalThread.native_handle(), SIGTERM);  // wakes sigwait if no signal came
    signalThread.join();
    return ok ? 0 : 1;
}
