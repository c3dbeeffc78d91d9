#pragma once
// ServiceProcess: runs the built tamsu-service for a test, on 127.0.0.1 with a free port and a
// temporary data folder of its own (removed at destruction).
//
//   ServiceProcess service;                       // or ServiceProcess service({"--tls-cert", c, "--tls-key", k});
//   ASSERT_TRUE(service.Start()) << service.Error();
//   setenv("TAMSU_SERVICE_URL", service.BaseUrl().c_str(), 1);   // "http://127.0.0.1:<port>"
//   service.WriteReleaseManifest("1.5.0", "tamsu-recorder_1.5.0_amd64.deb", std::string(2048, 'x'));
//   ... the program asks for a code ...
//   const std::string code = service.LatestCode("13800138000");  // from <data>/sms-outbox.log
//   service.Stop(); service.Start();               // a restart keeps the data folder (new port)
//
// Link tamsu_servicesupport; it builds tamsu-service first. Start returns once the service has
// bound its port (it accepts connections from then on). The service's own log is
// DataDir() + "/logs/service.log"; its standard error goes to DataDir() + "/stderr.log".
//
// What the service answers (envelope {"ret": <int>, "data": ...}, UTF-8 JSON):
//   POST /v1/upgrade_check {"app_name":"TamsuAudioRecorder"}
//        -> data {"app_version","download_url","force_upgrade" (0/1),"sha256" (hex),"size"}; ret 200001 when
//           nothing is published. The download address serves GET/HEAD with Content-Length and Range.
//   POST /v1/feedback {"contact","content"} -> ret 0, data {"id"}; stored with time and sender address.
//   GET  /get_user_ip -> data "127.0.0.1".
//   GET  /v1/smsnotify/register/<phone>, /v1/smsnotify/forgot/<phone> -> ret 0 and a line "phone code" in the
//        outbox; ret 400001 (register, known phone) / 400002 (forgot, unknown phone) without a code;
//        HTTP 429 within 60 s of the previous code for that phone.
//   POST /v1/register, /v1/forgot {"code","mobilephone","password"} -> 0, 400001, 400002, 600001 wrong code,
//        600002 no code or expired, 600003 used or 5 wrong tries.
//   POST /v1/login {"mobilephone","password"} -> data {"id","mobilephone","last_login_ip","last_login_time",
//        "register_time"}; ret 400003 wrong phone or password.
//   Malformed JSON or invalid members: HTTP 400, ret 100400; bodies over 64 KiB: HTTP 413; unknown path 404.
// Not thread-safe: one test thread drives it.

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
