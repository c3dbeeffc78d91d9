#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace {

void Close(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

Process::Process(std::vector<std::string> argv, const std::string& errFile)
{
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || (errFile.empty() && ::pipe2(err, O_CLOEXEC) != 0)) {
        Close(out[0]), Close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (errFile.empty())
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    Close(out[1]), Close(err[1]);
    outFd_ = out[0], errFd_ = err[0];
    if (pid_ > 0)
        pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
}

Process::~Process()
{
    if (pid_ > 0 && !reaped_) {
        Signal(SIGKILL);
        Reap(true);
    }
    Close(outFd_), Close(errFd_), Close(pidFd_);
}

void Process::Signal(int signal) const
{
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, signal);
}

void Process::Reap(bool wait)
{
    pid_t done;
    while ((done = ::waitpid(pid_, &status_, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    reaped_ = done == pid_ || done < 0;
    if (reaped_)
        Close(pidFd_);
}

template <typename Stop> void Process::Pump(Stop stop, std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    while (!stop() && (outFd_ >= 0 || errFd_ >= 0 || !reaped_)) {
        if (!reaped_ && outFd_ < 0 && errFd_ < 0 && pidFd_ < 0)
            return Reap(true); // no pidfd: the closed pipes are all there is to wait on
        // Once the program has ended, only what its pipes already hold is taken: a child it left
        // behind may keep them open.
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 && !reaped_)
            return;
        pollfd fds[] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {pidFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 3, reaped_ ? 0 : static_cast<int>(std::max<long long>(left, 1)));
        if (ready == 0 && reaped_)
            return;
        if (ready < 0 && errno != EINTR)
            return;
        for (auto [fd, text] : {std::pair{&outFd_, &result_.out}, std::pair{&errFd_, &result_.err}}) {
            if (*fd < 0 || !(fds[fd == &outFd_ ? 0 : 1].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            const ssize_t got = ::read(*fd, buffer, sizeof buffer);
            if (got > 0)
                text->append(buffer, static_cast<size_t>(got));
            else if (got == 0 || errno != EINTR)
                Close(*fd);
        }
        if (pidFd_ >= 0 && (fds[2].revents & POLLIN))
            Reap(false);
    }
}

bool Process::WaitForOutput(const std::string& text, std::chrono::milliseconds limit)
{
    Pump([&] { return result_.out.find(text) != std::string::npos; }, std::chrono::steady_clock::now() + limit);
    return result_.out.find(text) != std::string::npos;
}

Process::Result Process::Finish(std::chrono::milliseconds limit)
{
    if (pid_ <= 0)
        return result_;
    Pump([] { return false; }, std::chrono::steady_clock::now() + limit);
    const bool late = !reaped_;
    if (late) {
        Signal(SIGKILL);
        Reap(true);
    }
    result_.exited = !late && WIFEXITED(status_);
    result_.code = result_.exited ? WEXITSTATUS(status_) : -1;
    Close(outFd_), Close(errFd_);
    return result_;
}

Process::Result RunProcess(std::vector<std::string> argv, std::chrono::milliseconds limit)
{
    return Process(std::move(argv)).Finish(limit);
}

Process::Result RunOnTmpfs(int bytes, const std::string& disk, const std::string& kept,
                           const std::vector<std::string>& args)
{
    // The mount goes with the namespace: the script copies what was written before it ends.
    static constexpr const char* kOnTmpfs = R"(mount -t tmpfs -o size="$1" tmpfs "$2" || exit 125
disk=$2 kept=$3
shift 3
"$@"
status=$?
cp -r "$disk"/* "$kept"/ 2>/dev/null
exit $status)";
    std::vector<std::string> command{"unshare", "--mount", "sh", "-c", kOnTmpfs, "sh", std::to_string(bytes), disk, kept};
    if (::geteuid() != 0)
        command.insert(command.begin() + 1, {"--user", "--map-root-user"});
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command);
}
