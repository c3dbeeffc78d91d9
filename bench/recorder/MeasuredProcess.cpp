#include "MeasuredProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

extern char** environ;

namespace {

// Standard error kept for a failure message: its last part is what explains a failure.
constexpr size_t kErrorTail = 4000;

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Owns one file descriptor.
struct UniqueFd {
    int fd = -1;
    UniqueFd() = default;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }
    void Reset()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

// A pipe as two owned ends; false when it could not be made.
bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd.fd = fds[0];
    writeEnd.fd = fds[1];
    return true;
}

bool NeedsQuotes(const std::string& s)
{
    if (s.empty())
        return true;
    for (char c : s)
        if (!(isalnum(static_cast<unsigned char>(c)) || std::string("-_./=:,+%@").find(c) != std::string::npos))
            return true;
    return false;
}

} // namespace

std::string MeasuredProcess::CommandLine() const
{
    std::string line;
    for (const auto& a : argv_) {
        if (!line.empty())
            line += ' ';
        line += NeedsQuotes(a) ? "'" + a + "'" : a;
    }
    return line;
}

ProcessCost MeasuredProcess::Run(const ProcessWatch& watch) const
{
    using Clock = std::chrono::steady_clock;
    ProcessCost cost;
    UniqueFd outRead, outWrite, errRead, errWrite;
    if (argv_.empty() || !MakePipe(outRead, outWrite) || !MakePipe(errRead, errWrite))
        return cost;
    std::vector<char*> argv;
    for (const auto& a : argv_)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.fd, STDERR_FILENO);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return cost;
    cost.started = true;
    outWrite.Reset();
    errWrite.Reset();

    // Both pipes are read until the child closes them, so neither can fill up and stall it.
    pollfd fds[3] = {{outRead.fd, POLLIN, 0}, {errRead.fd, POLLIN, 0}, {watch.fd, POLLIN, 0}};
    std::string* sinks[2] = {&cost.output, &cost.errors};
    const auto tick = std::chrono::milliseconds(watch.tickMs);
    auto nextTick = start + tick;
    int open = 2;
    char buf[8192];
    while (open > 0) {
        int timeout = -1;
        if (watch.tickMs > 0 && watch.onTick) {
            const auto now = Clock::now();
            if (now >= nextTick) {
                watch.onTick(pid, cost.output);
                nextTick = std::max(nextTick + tick, now);
            }
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now()).count());
            timeout = std::max(timeout, 0);
        }
        if (poll(fds, 3, timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[2].fd >= 0 && (fds[2].revents & POLLIN) && watch.onReadable)
            watch.onReadable();
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (cost.errors.size() > kErrorTail)
        cost.errors.erase(0, cost.errors.size() - kErrorTail);

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return cost;
    }
    cost.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    pollfd last = {watch.fd, POLLIN, 0};
    if (watch.fd >= 0 && watch.onReadable && poll(&last, 1, 0) > 0 && (last.revents & POLLIN))
        watch.onReadable();
    cost.userSeconds = Seconds(usage.ru_utime);
    cost.systemSeconds = Seconds(usage.ru_stime);
    cost.cpuSeconds = cost.userSeconds + cost.systemSeconds;
    cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return cost;
}

std::string LastLine(const std::string& text)
{
    const size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return {};
    const size_t newline = text.find_last_of('\n', end);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(begin, end - begin + 1);
}
