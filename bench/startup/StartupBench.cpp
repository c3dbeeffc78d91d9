// startup_bench: time from process start to the main window shown, tamsu-recorder against a bare
// Qt window program (startup_bare_window) started the same way, in the same run.
//
//   startup_bench [runs]        (default 10; the platform is QT_QPA_PLATFORM, default offscreen)
//
// Each program prints "main window shown <CLOCK_MONOTONIC ns>" after its window's first paint;
// the time is taken from just before the spawn. Every run gets fresh data, home and runtime
// folders, so the single-instance lock and old logs play no part. Programs alternate, after one
// warm-up run each.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Timing {
    bool ok = false;
    double shownMs = 0; // spawn -> window painted
    double exitMs = 0;  // spawn -> process ended
};

int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

Timing RunOnce(const std::string& program)
{
    Timing timing;
    char pattern[] = "/tmp/tamsu-startup-XXXXXX";
    if (!mkdtemp(pattern))
        return timing;
    const std::string root = pattern;
    for (const char* sub : {"/data", "/home/Documents", "/run"})
        std::filesystem::create_directories(root + sub);
    std::filesystem::permissions(root + "/run", std::filesystem::perms::owner_all);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_DATA_HOME=", 0) != 0 && entry.rfind("XDG_RUNTIME_DIR=", 0) != 0 &&
            entry.rfind("HOME=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back("XDG_DATA_HOME=" + root + "/data");
    env.push_back("XDG_RUNTIME_DIR=" + root + "/run");
    env.push_back("HOME=" + root + "/home");
    if (!std::getenv("QT_QPA_PLATFORM"))
        env.push_back("QT_QPA_PLATFORM=offscreen");
    if (!std::getenv("TAMSU_SKIN_DIR"))
        env.push_back(std::string("TAMSU_SKIN_DIR=") + TAMSU_BENCH_SKIN_DIR);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        return timing;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::string arg0 = program;
    std::string arg1 = "--quit-after-show";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};

    const int64_t start = NowNs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return timing;
    }
    std::string output;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0)
            output.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const int64_t end = NowNs();
    std::filesystem::remove_all(root);

    const std::string marker = "main window shown ";
    const auto at = output.find(marker);
    if (at == std::string::npos || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return timing;
    const long long shown = std::atoll(output.c_str() + at + marker.size());
    timing.ok = true;
    timing.shownMs = static_cast<double>(shown - start) / 1e6;
    timing.exitMs = static_cast<double>(end - start) / 1e6;
    return timing;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct Series {
    const char* name;
    std::string program;
    std::vector<double> shown;
    std::vector<double> exit;
    int failures = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    Series series[] = {{"bare Qt window (reference)", TAMSU_BENCH_BARE_WINDOW, {}, {}, 0},
                       {"tamsu-recorder", TAMSU_BENCH_RECORDER, {}, {}, 0}};
    for (auto& s : series)
        RunOnce(s.program); // warm-up: libraries and fonts into the page cache
    for (int i = 0; i < runs; ++i) {
        for (auto& s : series) {
            const Timing t = RunOnce(s.program);
            if (!t.ok) {
                ++s.failures;
                continue;
            }
            s.shown.push_back(t.shownMs);
            s.exit.push_back(t.exitMs);
        }
    }

    std::printf("start-up, %d runs each, platform %s\n", runs,
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen");
    std::printf("%-28s %12s %10s %10s %14s %8s\n", "program", "shown median", "min", "max", "ended median",
                "failed");
    for (const auto& s : series) {
        const double lo = s.shown.empty() ? 0 : *std::min_element(s.shown.begin(), s.shown.end());
        const double hi = s.shown.empty() ? 0 : *std::max_element(s.shown.begin(), s.shown.end());
        std::printf("%-28s %9.1f ms %7.1f ms %7.1f ms %11.1f ms %8d\n", s.name, Median(s.shown), lo, hi,
                    Median(s.exit), s.failures);
    }
    const double reference = Median(series[0].shown);
    if (reference > 0)
        std::printf("ratio tamsu-recorder / reference (shown): %.2f\n", Median(series[1].shown) / reference);
    return series[0].failures || series[1].failures ? 1 : 0;
}
