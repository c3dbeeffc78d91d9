#include "ServiceProcess.h"

#include "Process.h"

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// How long a start may take on a loaded 2-core machine (opening the database, binding).
constexpr std::chrono::seconds kStartLimit{20};
// How long a clean stop may take (requests in progress finish first).
constexpr std::chrono::seconds kStopLimit{20};

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

pid_t ServiceProcess::Pid() const { return process_ ? process_->Pid() : -1; }

bool ServiceProcess::Start() {
    if (Running()) return true;
    if (dataDir_.empty()) {
        error_ = "no temporary folder";
        return false;
    }
    std::vector<std::string> args = {binary_, "--listen", "127.0.0.1:0", "--data", dataDir_};
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    const std::string stderrPath = dataDir_ + "/stderr.log";
    process_ = std::make_unique<Process>(std::move(args), stderrPath);
    // The service prints one line, "tamsu-service listening on <base URL>", once it is bound.
    const std::string marker = "listening on ";
    if (process_->WaitForOutput("\n", kStartLimit)) {
        const std::string& line = process_->Out();
        if (const auto at = line.find(marker); at != std::string::npos) {
            baseUrl_ = line.substr(at + marker.size(), line.find('\n') - at - marker.size());
            port_ = std::atoi(baseUrl_.substr(baseUrl_.rfind(':') + 1).c_str());
            return true;
        }
    }
    Stop();
    std::stringstream text;
    text << std::ifstream(stderrPath).rdbuf();
    error_ = "tamsu-service did not start: " + text.str();
    return false;
}

int ServiceProcess::Stop() {
    if (!process_) return -1;
    process_->Signal(SIGTERM);
    const Process::Result result = process_->Finish(kStopLimit);  // SIGKILL once the limit passes
    process_.reset();
    return result.exited ? result.code : -1;
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
