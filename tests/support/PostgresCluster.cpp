#include "PostgresCluster.h"

#include "Process.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace {

// Debian's server programs; the newest installed version.
std::string ServerBinaries() {
    std::string best;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/pg_ctl") && bin > best) best = bin;
    }
    return best;
}

// The port only names the socket file (the server listens on no TCP port).
constexpr int kSocketPort = 5432;
// The superuser initdb makes; the service connects as it.
constexpr const char* kUser = "tamsu";

}  // namespace

PostgresCluster::~PostgresCluster() {
    if (started_) RunAsOwner({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-m", "immediate", "-w", "stop"});
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

bool PostgresCluster::RunAsOwner(std::vector<std::string> argv) {
    if (geteuid() == 0) {
        argv.insert(argv.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    }
    const Process::Result result = RunProcess(argv);
    if (result.exited && result.code == 0) return true;
    error_ = argv[argv[0] == "setpriv" ? 5 : 0] + " failed: " + result.err + result.out;
    return false;
}

bool PostgresCluster::Start() {
    bin_ = ServerBinaries();
    if (bin_.empty()) {
        error_ = "PostgreSQL's server is not installed (scripts/setup.sh installs it)";
        return false;
    }
    char pattern[] = "/tmp/tamsu-pg-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        error_ = "cannot make a temporary folder";
        return false;
    }
    dir_ = pattern;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr || chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            error_ = "cannot give " + dir_ + " to nobody";
            return false;
        }
    }
    // No fsync: the cluster lives for one test; a crash of the service, not of the machine, is what
    // the tests make.
    if (!RunAsOwner({bin_ + "/initdb", "-D", dir_ + "/data", "-U", kUser, "-A", "trust", "-E", "UTF8",
                     "--no-sync", "--no-instructions"})) {
        return false;
    }
    const std::string options = "-k " + dir_ + " -p " + std::to_string(kSocketPort) +
                                " -c listen_addresses= -c fsync=off -c full_page_writes=off -c max_connections=200";
    if (!RunAsOwner({bin_ + "/pg_ctl", "-D", dir_ + "/data", "-l", dir_ + "/server.log", "-o", options, "-w",
                     "-t", "120", "start"})) {
        return false;
    }
    started_ = true;
    return true;
}

std::string PostgresCluster::Url(const std::string& database) const {
    return "postgresql://" + std::string(kUser) + "@/" + database + "?host=" + dir_ + "&port=" +
           std::to_string(kSocketPort);
}

std::string PostgresCluster::NewDatabase() {
    const std::string name = "t" + std::to_string(++databases_);
    const Process::Result result = RunProcess({"psql", "-X", "-q", "-d", Url("postgres"), "-c", "CREATE DATABASE " + name});
    if (!result.exited || result.code != 0) {
        error_ = "CREATE DATABASE failed: " + result.err;
        return {};
    }
    return Url(name);
}

std::string PostgresCluster::Query(const std::string& url, const std::string& sql) const {
    return RunProcess({"psql", "-X", "-At", "-d", url, "-c", sql}).out;
}
