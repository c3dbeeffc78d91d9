#pragma once
// ServiceProcess: runs the built tamsu-service for a test, on 127.0.0.1 with a free port and a
// temporary data folder of its own (removed at destruction; a restart by Stop and Start keeps it,
// on a new port). Start returns once the service has bound its port. The service's own log is
// DataDir() + "/logs/service.log"; its standard error goes to DataDir() + "/stderr.log".
// Link tamsu_servicesupport; it builds tamsu-service first. One test thread drives it.

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

class Process;

class ServiceProcess {
public:
    // binary: another program with the same start-up line and options (a benchmark's reference).
    explicit ServiceProcess(std::vector<std::string> extraArgs = {}, std::string binary = BinaryPath());
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts the service (again, after Stop) and waits until it listens; false with Error() set.
    bool Start();
    // SIGTERM and wait (SIGKILL after 20 s); the exit status (0 = clean), -1 when not running, killed
    // by a signal or hung.
    int Stop();
    bool Running() const { return process_ != nullptr; }
    pid_t Pid() const;

    const std::string& BaseUrl() const { return baseUrl_; }
    int Port() const { return port_; }
    const std::string& DataDir() const { return dataDir_; }
    const std::string& Error() const { return error_; }

    // Publishes a release: fileBytes as releases/<fileName> and a manifest naming it.
    void WriteReleaseManifest(const std::string& version, const std::string& fileName, const std::string& fileBytes,
                              bool forceUpgrade = false) const;
    // Lines of <data>/sms-outbox.log ("phone code"), oldest first.
    std::vector<std::string> OutboxLines() const;
    // The last code sent to phone, empty when none.
    std::string LatestCode(const std::string& phone) const;

    // Path of the tamsu-service binary.
    static std::string BinaryPath();

private:
    std::vector<std::string> extraArgs_;
    std::string binary_;
    std::string dataDir_;
    std::string baseUrl_;
    std::string error_;
    int port_ = 0;
    std::unique_ptr<Process> process_;
};
