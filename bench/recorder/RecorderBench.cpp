// recorder_bench: benchmarks of the recording engine against the ffmpeg command line (see
// bench/run.sh, which starts the private sound server around it). Prints one table per
// measurement with the exact commands behind the figures.
//
//   recorder_bench [--sections silent,capture,offset,latency,drift,echo,programs] [--seconds N] [--short-seconds N]
//                  [--repeats N] [--latency-runs N] [--offset-seconds N] [--offset-repeats N]
//                  [--record-tool PATH] [--ffmpeg PATH] [--keep]

#include "BenchSections.h"
#include "LogSetup.h"
#include "ProcessStats.h"
#include "SoundServer.h"
#include "TestEnv.h"

#include <sys/utsname.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#ifndef TAMSU_RECORD_TOOL
#define TAMSU_RECORD_TOOL "tamsu-record"
#endif

namespace {

const char* const kUsage =
    "usage: recorder_bench [--sections silent,capture,offset,latency,drift,echo,programs] [--seconds N] [--short-seconds N]\n"
    "                      [--repeats N] [--latency-runs N] [--offset-seconds N] [--offset-repeats N]\n"
    "                      [--record-tool PATH] [--ffmpeg PATH] [--keep]\n"
    "Runs against the sound server PULSE_SERVER names (bench/run.sh starts a private one).\n";

// The sections in the order they run, and whether each needs the sound server.
struct Section {
    const char* name;
    void (*run)(const BenchContext&);
    bool needsServer;
};
const Section kSections[] = {
    {"silent", RunSilentBench, false},
    {"capture", RunCaptureCpuBench, true},
    {"offset", RunOffsetBench, true},
    {"latency", RunLatencyBench, true},
    {"drift", RunDriftBench, false},
    {"echo", RunEchoBench, true},
    {"programs", RunProgramBench, true},
};

// Options that take a positive whole number, and the setting each one sets.
struct CountOption {
    const char* name;
    int BenchContext::*field;
};
const CountOption kCountOptions[] = {
    {"--seconds", &BenchContext::seconds},
    {"--short-seconds", &BenchContext::shortSeconds},
    {"--repeats", &BenchContext::repeats},
    {"--latency-runs", &BenchContext::latencyRuns},
    {"--offset-seconds", &BenchContext::offsetSeconds},
    {"--offset-repeats", &BenchContext::offsetRepeats},
};

std::string FirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string CommandOutput(const std::string& command)
{
    std::string text;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            text += buf;
        pclose(p);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    BenchContext ctx;
    ctx.recordTool = TAMSU_RECORD_TOOL;
    std::set<std::string> sections;
    for (const Section& s : kSections)
        sections.insert(s.name);
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "recorder_bench: %s needs a value\n%s", a.c_str(), kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&]() {
            const std::string v = value();
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < 1 || n > 100000) {
                std::fprintf(stderr, "recorder_bench: %s wants a whole number from 1, not \"%s\"\n", a.c_str(), v.c_str());
                std::exit(2);
            }
            return n;
        };
        if (a == "--sections") {
            sections.clear();
            std::istringstream list(value());
            for (std::string s; std::getline(list, s, ',');)
                sections.insert(s);
        } else if (const auto option = std::find_if(std::begin(kCountOptions), std::end(kCountOptions),
                                                    [&](const CountOption& o) { return a == o.name; });
                   option != std::end(kCountOptions)) {
            ctx.*(option->field) = static_cast<int>(number());
        } else if (a == "--record-tool") {
            ctx.recordTool = value();
        } else if (a == "--ffmpeg") {
            ctx.ffmpeg = value();
        } else if (a == "--keep") {
            keep = true;
            ctx.keepRecordings = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "recorder_bench: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    bool needsServer = false;
    for (const auto& s : sections) {
        const auto known = std::find_if(std::begin(kSections), std::end(kSections),
                                        [&](const Section& k) { return s == k.name; });
        if (known == std::end(kSections)) {
            std::fprintf(stderr, "recorder_bench: unknown section %s\n%s", s.c_str(), kUsage);
            return 2;
        }
        needsServer = needsServer || known->needsServer;
    }
    if (ctx.shortSeconds >= ctx.seconds) {
        std::fprintf(stderr, "recorder_bench: --short-seconds must be less than --seconds\n");
        return 2;
    }
    if (needsServer && !SoundServer::Available()) {
        std::fprintf(stderr, "recorder_bench: no sound server answers (PULSE_SERVER); run bench/run.sh\n");
        return 1;
    }

    // A temporary home: configuration, logs and recordings never touch the user's own files.
    TestEnv env;
    ctx.folder = env.MakeFolder("out").toStdString();
    const QString logFolder = env.DataHome() + "/TamsuAudioRecorder/Log";
    QDir().mkpath(logFolder);
    InitLogging(logFolder);
    av_log_set_level(AV_LOG_ERROR);

    // The engine prints its trace lines on standard output: they go to a file, the tables to the
    // original standard output.
    const int reportFd = dup(STDOUT_FILENO);
    FILE* report = reportFd >= 0 ? fdopen(reportFd, "w") : nullptr;
    const std::string tracePath = env.Root().toStdString() + "/engine-output.txt";
    const int traceFd = open(tracePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!report || traceFd < 0) {
        std::fprintf(stderr, "recorder_bench: cannot set up the output\n");
        return 1;
    }
    std::fflush(stdout);
    dup2(traceFd, STDOUT_FILENO);
    close(traceFd);
    ctx.report = report;

    utsname host{};
    uname(&host);
    std::string load = FirstLine("/proc/loadavg");
    std::fprintf(report, "# Recorder benchmark\n\n");
    std::fprintf(report, "machine: %s %s, %ld CPUs, load average at start: %s\n", host.sysname, host.release,
                 sysconf(_SC_NPROCESSORS_ONLN), load.c_str());
    std::fprintf(report, "ffmpeg: %s\n", CommandOutput(ctx.ffmpeg + " -hide_banner -version 2>/dev/null | head -n 1").c_str());
    std::fprintf(report, "record tool: %s\n", ctx.recordTool.c_str());
    std::string info;
    if (needsServer && SoundServer::Pactl({"info"}, &info) == 0) {
        const std::string key = "Server Name: ";
        const size_t at = info.find(key);
        const size_t from = at == std::string::npos ? 0 : at + key.size();
        std::string processes;
        for (const int pid : SoundServerPids()) {
            std::string command = FirstLine("/proc/" + std::to_string(pid) + "/cmdline");
            std::replace(command.begin(), command.end(), '\0', ' ');
            processes += " " + std::to_string(pid) + " (" + command + ")";
        }
        std::fprintf(report, "sound server: %s; processes:%s\n",
                     at == std::string::npos ? "?" : info.substr(from, info.find('\n', from) - from).c_str(),
                     processes.c_str());
    }
    std::fprintf(report, "options: --seconds %d --short-seconds %d --repeats %d --latency-runs %d --offset-seconds %d "
                 "--offset-repeats %d\n",
                 ctx.seconds, ctx.shortSeconds, ctx.repeats, ctx.latencyRuns, ctx.offsetSeconds, ctx.offsetRepeats);
    std::fflush(report);

    for (const Section& section : kSections)
        if (sections.count(section.name)) {
            std::fprintf(report, "\nload average before %s: %s\n", section.name, FirstLine("/proc/loadavg").c_str());
            section.run(ctx);
        }

    std::fprintf(report, "\nload average at end: %s\n", FirstLine("/proc/loadavg").c_str());
    if (keep) {
        // The destructor of TestEnv removes its folder; a copy is kept for a closer look.
        const std::string kept = "/tmp/recorder-bench-kept";
        std::string cmd = "rm -rf " + kept + " && cp -a '" + env.Root().toStdString() + "' " + kept;
        if (std::system(cmd.c_str()) == 0)
            std::fprintf(report, "work folder kept in %s\n", kept.c_str());
    }
    std::fclose(report);
    return 0;
}
