#include "ProcessStats.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// User + system time from a stat file of /proc (fields 14 and 15, counted after the name, which
// may hold spaces and parentheses).
double StatCpuSeconds(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        else if (i == 15)
            stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The pid of the process listening on the unix socket at path; 0 when none answers.
int SocketOwner(const std::string& path)
{
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return 0;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    ucred peer{};
    socklen_t size = sizeof peer;
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                    getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    close(fd);
    return ok ? peer.pid : 0;
}

} // namespace

std::vector<ThreadStats> ReadThreads(int pid)
{
    std::vector<ThreadStats> threads;
    const std::string task = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(task.c_str());
    if (!dir)
        return threads;
    while (const dirent* entry = readdir(dir)) {
        const int tid = std::atoi(entry->d_name);
        if (tid <= 0)
            continue;
        const std::string base = task + "/" + entry->d_name;
        ThreadStats t;
        t.tid = tid;
        std::ifstream comm(base + "/comm");
        std::getline(comm, t.name);
        std::ifstream status(base + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                t.wakeups = std::atoll(line.c_str() + std::strlen("voluntary_ctxt_switches:"));
        t.cpuSeconds = StatCpuSeconds(base + "/stat");
        threads.push_back(t);
    }
    closedir(dir);
    std::sort(threads.begin(), threads.end(), [](const ThreadStats& a, const ThreadStats& b) { return a.tid < b.tid; });
    return threads;
}

double ProcessCpuSeconds(const std::vector<int>& pids)
{
    double sum = 0;
    for (const int pid : pids)
        sum += StatCpuSeconds("/proc/" + std::to_string(pid) + "/stat");
    return sum;
}

std::vector<int> SoundServerPids()
{
    std::vector<std::string> sockets;
    const char* pulse = std::getenv("PULSE_SERVER");
    if (pulse && std::strncmp(pulse, "unix:", 5) == 0)
        sockets.push_back(pulse + 5);
    if (const char* pipewire = std::getenv("PIPEWIRE_RUNTIME_DIR"))
        sockets.push_back(std::string(pipewire) + "/pipewire-0");
    std::vector<int> pids;
    for (const std::string& path : sockets)
        if (const int pid = SocketOwner(path); pid > 0 && std::find(pids.begin(), pids.end(), pid) == pids.end())
            pids.push_back(pid);
    return pids;
}
