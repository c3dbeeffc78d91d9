#pragma once
// Process: one program a test runs (pactl, tamsu-record, tamsu-service, ffmpeg, a shell), found
// through PATH when its name has no slash. Its standard output is read through a pipe, its
// standard error too unless errFile names a file to append it to. A program still running when
// the object goes is killed. Used from one thread.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class Process {
public:
    struct Result {
        bool exited = false; // ended by exit(), not by a signal or the time limit
        int code = -1;       // its exit status when exited
        std::string out;
        std::string err;
    };

    explicit Process(std::vector<std::string> argv, const std::string& errFile = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t Pid() const { return pid_; }
    // What it has printed on standard output so far.
    const std::string& Out() const { return result_.out; }
    void Signal(int signal) const;
    // Reads until standard output holds text (true), or it ends or limit passes (false).
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
    // Reads everything and reaps the program, killing it once limit has passed.
    Result Finish(std::chrono::milliseconds limit);

private:
    // Takes what the pipes and the program have to give until stop() holds or deadline passes.
    template <typename Stop> void Pump(Stop stop, std::chrono::steady_clock::time_point deadline);
    void Reap(bool wait);

    pid_t pid_ = -1;
    int pidFd_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    Result result_;
};

// Long enough for any run on a loaded machine; only a hung program reaches it.
inline constexpr std::chrono::milliseconds kProcessLimit{60000};

Process::Result RunProcess(std::vector<std::string> argv, std::chrono::milliseconds limit = kProcessLimit);

// Runs args on a tmpfs of bytes mounted on disk, in a mount namespace of their own (a user
// namespace too unless root); what they wrote there (folders too) is copied into kept. Exit 125:
// no tmpfs could be mounted; else the exit status of args.
Process::Result RunOnTmpfs(int bytes, const std::string& disk, const std::string& kept,
                           const std::vector<std::string>& args);
