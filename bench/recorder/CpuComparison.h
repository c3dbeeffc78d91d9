#pragma once
// CpuComparison: CPU seconds per recorded second of our command-line recorder against an ffmpeg
// command line doing the same job, both run as child processes in turn (ours, ffmpeg, ours, ...)
// so that both see the same load of the machine. The recorded length is the decoded length of
// each file, so a command that encodes faster than real time is compared fairly.
//
// Each run also counts the wake-ups (voluntary context switches) and CPU of each of the command's
// threads in its steady state (from a second after its start to its end), and the CPU the sound
// server's processes spent meanwhile.
//
// Each command also runs with a short length: the difference between the long and the short run
// is the cost of recording itself per second, without the start and end of the process (which
// weigh heavily on a 10-second run: loading the libraries, opening devices, writing the file).
//
// Used from one thread.

#include "BenchTable.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

class CpuComparison {
public:
    // The command lines for a recording of the given length in seconds. Ours is tamsu-record (its
    // last output line is the file it wrote); the reference is ffmpeg, writing its output file.
    struct Commands {
        std::vector<std::string> ours;
        std::vector<std::string> reference;
        std::string referenceFile;
    };
    using CommandsFor = std::function<Commands(int seconds)>;

    CpuComparison(std::string name, CommandsFor commands) : name_(std::move(name)), commands_(std::move(commands)) {}

    // Runs both commands repeats times at longSeconds and at shortSeconds; false (with the reason
    // printed) when a run failed. A reference that runs faster than real time can take its cost
    // without start and end from a longer run of referenceMarginalSeconds (0: longSeconds), which
    // lifts it above the noise of the process start.
    bool Run(int repeats, int longSeconds, int shortSeconds, int referenceMarginalSeconds = 0);

    // Run, then its row (or the failure) and the commands of the long runs as notes into table.
    void RunInto(BenchTable& table, int repeats, int longSeconds, int shortSeconds, int referenceMarginalSeconds = 0);

    static std::vector<std::string> Columns();
    std::vector<std::string> Row() const;
    // "name, ours: <command>" and "name, ffmpeg: <command>" of the long runs.
    std::vector<std::string> Notes() const;

    // Wake-ups and the sound server's CPU of the long runs (medians): per second of the run, and
    // per source of a recording of sources sources whose capture runs on the thread named
    // captureThread.
    static std::vector<std::string> LoadColumns();
    std::vector<std::string> LoadRow(int sources, const std::string& captureThread) const;
    // Each thread's wake-ups and CPU per second, ours and ffmpeg's.
    std::vector<std::string> LoadNotes() const;

    // A thread's steady state: wake-ups and CPU seconds per second of the run.
    struct ThreadRate {
        double wakeups = 0;
        double cpu = 0;
    };

private:
    struct Sample {
        double cpu = 0;      // CPU seconds, user + system
        double recorded = 0; // decoded seconds
        double wall = 0;
        double serverCpu = 0; // CPU seconds of the sound server during the run
        std::map<std::string, ThreadRate> threads; // by thread: "main", or its name and number
    };
    // Samples of one command at one length.
    struct Series {
        std::vector<Sample> samples;
        double Median(double Sample::*field) const;
        double MedianPerSecond() const; // median of cpu / recorded
        double Min() const;
        double Max() const;
        double MedianServerPerSecond() const; // median of serverCpu / recorded
        // Median of each thread's rates; "all" sums the threads of each run.
        std::map<std::string, ThreadRate> MedianThreads() const;
    };
    static bool Measure(const std::vector<std::string>& argv, const std::string& fileOrEmpty, Sample& out);
    // CPU per second between the short and the long series (seconds of CPU per recorded second).
    static double Marginal(const Series& longRuns, const Series& shortRuns);

    std::string name_;
    CommandsFor commands_;
    int longSeconds_ = 0;
    Series oursLong_, oursShort_, referenceLong_, referenceShort_, referenceMarginal_;
};
