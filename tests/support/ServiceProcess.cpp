#include "ServiceProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

// How long a start may take on a loaded 2-core machine (opening the database, binding).
constexpr int kStartTimeoutMs = 20000;
// How long a clean stop may take (requests in progress finish first), and how often it is checked.
constexpr int kStopTimeoutMs = 20000;
constexpr int kStopPollMs = 10;

}  // namespace

std::string ServiceProcess::BinaryPath() { return TAMSU_SERVICE_BINARY; }

ServiceProcess::ServiceProcess(std::vector<std::string> extraArgs, std::string binary)
    : extraArgs_(std::move(extraArgs)), binary_(std::move(binary)) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/tamsu-service-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) dataDir_ = pattern;
}

ServiceProcess::~ServiceProcess() {
    Stop();
    if (!dataDir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dataDir_, ec);
    }
}

bool ServiceProcess::Start() {
    if (pid_ > 0) return true;
    if (dataDir_.empty()) {
        error_ = "no temporary folder";
        return false;
    }
    std::vector<std::string> args = {binary_, "--listen", "127.0.0.1:0", "--data", dataDir_};
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string stderrPath = dataDir_ + "/stderr.log";

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    const int errFd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        if (errFd >= 0) dup2(errFd, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (errFd >= 0) close(errFd);
    if (pid_ < 0) {
        close(out[0]);
        error_ = "fork failed";
        return false;
    }
    // The service prints one line, "tamsu-service listening on <base URL>", once it is bound.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd pfd{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[256];
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0) break;
        line.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    const std::string marker = "listening on ";
    const auto at = line.find(marker);
    const auto end = line.find('\n');
    if (at == std::string::npos || end == std::string::npos) {
        Stop();
        std::ifstream err(stderrPath);
        std::stringstream text;
        text << err.rdbuf();
        error_ = "tamsu-service did not start: " + text.str();
        return false;
    }
    baseUrl_ = line.substr(at + marker.size(), end - at - marker.size());
    port_ = std::atoi(baseUrl_.substr(baseUrl_.rfind(':') + 1).c_str());
    return true;
}

int ServiceProcess::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
    pid_t done = 0;
    // A service that does not end on SIGTERM is a failure of the test, not a hang of the suite.
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopPollMs));
    }
    if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status = -1;
    }
    pid_ = -1;
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ServiceProcess::WriteReleaseManifest(const std::string& version, const std::string& fileName,
                                          const std::string& fileBytes, bool forceUpgrade) const {
    const std::string dir = dataDir_ + "/releases";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/" + fileName, std::ios::binary | std::ios::trunc) << fileBytes;
    std::ofstream(dir + "/manifest.json", std::ios::trunc)
        << "{\"app_version\":\"" << version << "\",\"file\":\"" << fileName
        << "\",\"force_upgrade\":" << (forceUpgrade ? "true" : "false") << "}\n";
}

std::vector<std::string> ServiceProcess::OutboxLines() const {
    std::vector<std::string> lines;
    std::ifstream in(dataDir_ + "/sms-outbox.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string ServiceProcess::LatestCode(const std::string& phone) const {
    std::string code;
    for (const auto& line : OutboxLines()) {
        if (line.rfind(phone + " ", 0) == 0) code = line.substr(phone.size() + 1);
    }
    return code;
}
