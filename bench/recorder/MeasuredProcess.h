#pragma once
// MeasuredProcess: runs one command to its end and measures what it cost: the CPU time its process
// and everything it waited for used (user + system, from wait4), and the wall time. The benchmark
// compares our recorder with the ffmpeg command line this way, both as child processes.
//
// Used from one thread; Run blocks until the command has ended. The callbacks of a ProcessWatch run
// on that thread, inside Run.

#include <functional>
#include <string>
#include <vector>

// The last line of what a command printed that is not empty (the recorder prints its file there).
std::string LastLine(const std::string& text);

struct ProcessCost {
    bool started = false;
    int exitCode = -1;       // -1 when it did not exit normally
    double cpuSeconds = 0.0; // user + system
    double userSeconds = 0.0;
    double systemSeconds = 0.0;
    double wallSeconds = 0.0;
    std::string output;      // what it printed on standard output
    std::string errors;      // what it printed on standard error (last part)
};

// What a run does besides waiting: a tick every tickMs while the command runs (with its pid and
// what it printed so far: to look at it in /proc or send it a signal), and another descriptor
// watched with the command's output (onReadable runs whenever it is readable, and once more after
// the command ended if it still is).
struct ProcessWatch {
    int tickMs = 0; // 0: no ticks
    std::function<void(int pid, const std::string& output)> onTick;
    int fd = -1;
    std::function<void()> onReadable;
};

class MeasuredProcess {
public:
    explicit MeasuredProcess(std::vector<std::string> argv) : argv_(std::move(argv)) {}

    ProcessCost Run(const ProcessWatch& watch = {}) const;
    // The command as a shell would take it (arguments quoted where needed).
    std::string CommandLine() const;

private:
    std::vector<std::string> argv_;
};
