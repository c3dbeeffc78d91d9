#include "PostgresCluster.h"

#include "Process.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace {

// Debian 12's server programs.
constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";

}  // namespace

PostgresCluster::~PostgresCluster() {
    if (started_) Run({std::string(kBin) + "pg_ctl", "-D", dir_ + "/data", "-m", "immediate", "stop"}, true);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

bool PostgresCluster::Run(std::vector<std::string> argv, bool asOwner) {
    if (asOwner && geteuid() == 0) argv.insert(argv.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    const Process::Result result = RunProcess(argv);
    if (!result.exited || result.code != 0) error_ = argv.back() + " failed: " + result.err + result.out;
    return result.exited && result.code == 0;
}

bool PostgresCluster::Start() {
    char pattern[] = "/tmp/tamsu-pg-XXXXXX";
    if (!std::filesystem::exists(std::string(kBin) + "pg_ctl") || mkdtemp(pattern) == nullptr) {
        error_ = std::string("no ") + kBin + "pg_ctl (scripts/setup.sh installs it) or no temporary folder";
        return false;
    }
    dir_ = pattern;
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && (nobody == nullptr || chown(pattern, nobody->pw_uid, nobody->pw_gid) != 0)) {
        error_ = "cannot give " + dir_ + " to nobody";
        return false;
    }
    // No fsync: the cluster lives for one test, which crashes services, not the machine.
    started_ = Run({std::string(kBin) + "initdb", "-D", dir_ + "/data", "-U", "tamsu", "-A", "trust", "--no-sync"}, true) &&
               Run({std::string(kBin) + "pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w", "-t", "120",
                    "-o", "-k " + dir_ + " -c listen_addresses= -c fsync=off -c max_connections=200", "start"}, true);
    return started_;
}

std::string PostgresCluster::NewDatabase() {
    const std::string name = "t" + std::to_string(++databases_);
    const std::string server = "postgresql://tamsu@/postgres?host=" + dir_;
    return Run({"psql", "-X", "-q", "-d", server, "-c", "CREATE DATABASE " + name}, false)
               ? "postgresql://tamsu@/" + name + "?host=" + dir_ : "";
}

std::string PostgresCluster::Query(const std::string& url, const std::string& sql) const {
    return RunProcess({"psql", "-X", "-At", "-d", url, "-c", sql}).out;
}
