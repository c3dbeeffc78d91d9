#include "CpuComparison.h"

#include "AudioAnalysis.h"
#include "ClickOnsets.h"
#include "MeasuredProcess.h"
#include "ProcessStats.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// The threads of a run are looked at this often; the first look a second after the start, when
// the command has set itself up (the steady state begins).
constexpr int kThreadTickMs = 250;
constexpr double kSteadyAfterSeconds = 1.0;
// Threads below both are left out of the per-thread notes (they wait for something that does not
// happen while recording: a signal, the end).
constexpr double kIdleWakeups = 0.5;
constexpr double kIdleCpu = 0.00001;
// The key of the whole process among the threads.
constexpr const char* kAllThreads = "all threads";

// The threads of one run from the first look in its steady state to the last look before it ended.
// A thread keeps the label it had when first seen: "main" for the process's first thread, else its
// name and its number among the threads of that name ("tamsu-record/2").
struct ThreadWindow {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double firstAt = -1;
    double lastAt = -1;
    std::map<int, ThreadStats> first, last;
    std::map<int, std::string> labels;
    std::map<std::string, int> namesSeen;

    void Look(int pid)
    {
        const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (at < kSteadyAfterSeconds)
            return;
        const std::vector<ThreadStats> threads = ReadThreads(pid);
        if (threads.empty())
            return;
        for (const ThreadStats& t : threads) {
            if (!labels.count(t.tid))
                labels[t.tid] = t.tid == pid ? "main" : t.name + "/" + std::to_string(++namesSeen[t.name]);
            if (firstAt < 0)
                first[t.tid] = t;
            last[t.tid] = t;
        }
        if (firstAt < 0)
            firstAt = at;
        lastAt = at;
    }

    // Per second between the first and the last look; a thread that started later counts from 0.
    std::map<std::string, CpuComparison::ThreadRate> Rates() const
    {
        std::map<std::string, CpuComparison::ThreadRate> rates;
        const double seconds = lastAt - firstAt;
        if (seconds <= 0)
            return rates;
        for (const auto& [tid, end] : last) {
            const auto begin = first.find(tid);
            const ThreadStats from = begin != first.end() ? begin->second : ThreadStats{};
            CpuComparison::ThreadRate& r = rates[labels.at(tid)];
            r.wakeups += static_cast<double>(end.wakeups - from.wakeups) / seconds;
            r.cpu += (end.cpuSeconds - from.cpuSeconds) / seconds;
        }
        return rates;
    }
};

} // namespace

double CpuComparison::Series::Median(double Sample::*field) const
{
    std::vector<double> v;
    for (const auto& s : samples)
        v.push_back(s.*field);
    return ::Median(v);
}

double CpuComparison::Series::MedianPerSecond() const
{
    std::vector<double> v;
    for (const auto& s : samples)
        v.push_back(s.cpu / s.recorded);
    return ::Median(v);
}

double CpuComparison::Series::Min() const
{
    double m = 1e9;
    for (const auto& s : samples)
        m = std::min(m, s.cpu / s.recorded);
    return m;
}

double CpuComparison::Series::Max() const
{
    double m = 0;
    for (const auto& s : samples)
        m = std::max(m, s.cpu / s.recorded);
    return m;
}

double CpuComparison::Series::MedianServerPerSecond() const
{
    std::vector<double> v;
    for (const auto& s : samples)
        v.push_back(s.serverCpu / s.recorded);
    return ::Median(v);
}

std::map<std::string, CpuComparison::ThreadRate> CpuComparison::Series::MedianThreads() const
{
    std::map<std::string, std::vector<ThreadRate>> all;
    for (const auto& s : samples) {
        ThreadRate sum;
        for (const auto& [label, rate] : s.threads) {
            all[label].push_back(rate);
            sum.wakeups += rate.wakeups;
            sum.cpu += rate.cpu;
        }
        all[kAllThreads].push_back(sum);
    }
    std::map<std::string, ThreadRate> medians;
    for (const auto& [label, rates] : all) {
        std::vector<double> wakeups, cpu;
        for (const ThreadRate& r : rates) {
            wakeups.push_back(r.wakeups);
            cpu.push_back(r.cpu);
        }
        medians[label] = {::Median(wakeups), ::Median(cpu)};
    }
    return medians;
}

bool CpuComparison::Measure(const std::vector<std::string>& argv, const std::string& fileOrEmpty, Sample& out)
{
    const MeasuredProcess process(argv);
    const std::vector<int> server = SoundServerPids();
    const double serverBefore = ProcessCpuSeconds(server);
    ThreadWindow window;
    ProcessWatch watch;
    watch.tickMs = kThreadTickMs;
    watch.onTick = [&window](int pid, const std::string&) { window.Look(pid); };
    const ProcessCost cost = process.Run(watch);
    out.serverCpu = ProcessCpuSeconds(server) - serverBefore;
    out.threads = window.Rates();
    if (!cost.started || cost.exitCode != 0) {
        std::fprintf(stderr, "bench: failed (exit %d): %s\n%s\n", cost.exitCode, process.CommandLine().c_str(),
                     cost.errors.c_str());
        return false;
    }
    const std::string file = fileOrEmpty.empty() ? LastLine(cost.output) : fileOrEmpty;
    DecodedAudio audio;
    std::string error;
    if (!DecodeAudioFile(file, audio, &error) || audio.Seconds() <= 0) {
        std::fprintf(stderr, "bench: cannot decode %s: %s\n", file.c_str(), error.c_str());
        return false;
    }
    std::remove(file.c_str());
    out.recorded = audio.Seconds();
    out.cpu = cost.cpuSeconds;
    out.wall = cost.wallSeconds;
    return true;
}

double CpuComparison::Marginal(const Series& longRuns, const Series& shortRuns)
{
    const double seconds = longRuns.Median(&Sample::recorded) - shortRuns.Median(&Sample::recorded);
    return seconds > 0 ? (longRuns.Median(&Sample::cpu) - shortRuns.Median(&Sample::cpu)) / seconds : 0.0;
}

bool CpuComparison::Run(int repeats, int longSeconds, int shortSeconds, int referenceMarginalSeconds)
{
    longSeconds_ = longSeconds;
    const Commands longCommands = commands_(longSeconds);
    const Commands shortCommands = commands_(shortSeconds);
    const Commands marginalCommands = commands_(referenceMarginalSeconds > 0 ? referenceMarginalSeconds : longSeconds);
    for (int i = 0; i < repeats; ++i) {
        Sample a, b, c, d, e;
        if (!Measure(longCommands.ours, {}, a) || !Measure(longCommands.reference, longCommands.referenceFile, b) ||
            !Measure(shortCommands.ours, {}, c) || !Measure(shortCommands.reference, shortCommands.referenceFile, d))
            return false;
        if (referenceMarginalSeconds > 0 && !Measure(marginalCommands.reference, marginalCommands.referenceFile, e))
            return false;
        oursLong_.samples.push_back(a);
        referenceLong_.samples.push_back(b);
        oursShort_.samples.push_back(c);
        referenceShort_.samples.push_back(d);
        referenceMarginal_.samples.push_back(referenceMarginalSeconds > 0 ? e : b);
    }
    return true;
}

void CpuComparison::RunInto(BenchTable& table, int repeats, int longSeconds, int shortSeconds,
                            int referenceMarginalSeconds)
{
    if (!Run(repeats, longSeconds, shortSeconds, referenceMarginalSeconds)) {
        table.AddRow({name_, "failed (see standard error)"});
        return;
    }
    table.AddRow(Row());
    for (auto& note : Notes())
        table.AddNote(note);
}

std::vector<std::string> CpuComparison::Columns()
{
    return {"case", "ours ms CPU/s (median, min-max)", "ffmpeg ms CPU/s (median, min-max)", "ratio",
            "without start/end: ours / ffmpeg ms CPU/s", "ratio", "recorded s ours / ffmpeg",
            "wall s ours / ffmpeg"};
}

std::vector<std::string> CpuComparison::Row() const
{
    auto perSecond = [](const Series& s) {
        return BenchTable::Format("%.2f (%.2f-%.2f)", s.MedianPerSecond() * 1000, s.Min() * 1000, s.Max() * 1000);
    };
    auto ratio = [](double a, double b) { return b > 0 ? BenchTable::Format("%.2f", a / b) : std::string("-"); };
    const double oursMarginal = Marginal(oursLong_, oursShort_);
    const double referenceMarginal = Marginal(referenceMarginal_, referenceShort_);
    return {name_,
            perSecond(oursLong_),
            perSecond(referenceLong_),
            ratio(oursLong_.MedianPerSecond(), referenceLong_.MedianPerSecond()),
            BenchTable::Format("%.2f / %.2f", oursMarginal * 1000, referenceMarginal * 1000),
            ratio(oursMarginal, referenceMarginal),
            BenchTable::Format("%.2f / %.2f", oursLong_.Median(&Sample::recorded),
                               referenceLong_.Median(&Sample::recorded)),
            BenchTable::Format("%.2f / %.2f", oursLong_.Median(&Sample::wall), referenceLong_.Median(&Sample::wall))};
}

std::vector<std::string> CpuComparison::Notes() const
{
    const Commands c = commands_(longSeconds_);
    return {name_ + ", ours:   " + MeasuredProcess(c.ours).CommandLine(),
            name_ + ", ffmpeg: " + MeasuredProcess(c.reference).CommandLine()};
}

std::vector<std::string> CpuComparison::LoadColumns()
{
    return {"case", "wake-ups/s ours (whole process)", "ours per source: capture thread / whole process",
            "wake-ups/s ffmpeg (whole process)", "sound server ms CPU/s ours / ffmpeg", "ratio"};
}

std::vector<std::string> CpuComparison::LoadRow(int sources, const std::string& captureThread) const
{
    const auto ours = oursLong_.MedianThreads();
    const auto reference = referenceLong_.MedianThreads();
    // The wake-ups of the threads labelled label, or named label ("name/number").
    auto wakeups = [](const std::map<std::string, ThreadRate>& threads, const std::string& label) {
        double sum = 0;
        for (const auto& [l, rate] : threads)
            if (l == label || l.rfind(label + "/", 0) == 0)
                sum += rate.wakeups;
        return sum;
    };
    const double oursServer = oursLong_.MedianServerPerSecond();
    const double referenceServer = referenceLong_.MedianServerPerSecond();
    return {name_,
            BenchTable::Format("%.1f", wakeups(ours, kAllThreads)),
            BenchTable::Format("%.1f / %.1f", wakeups(ours, captureThread) / sources,
                               wakeups(ours, kAllThreads) / sources),
            BenchTable::Format("%.1f", wakeups(reference, kAllThreads)),
            BenchTable::Format("%.2f / %.2f", oursServer * 1000, referenceServer * 1000),
            referenceServer > 0 ? BenchTable::Format("%.2f", oursServer / referenceServer) : std::string("-")};
}

std::vector<std::string> CpuComparison::LoadNotes() const
{
    auto describe = [](const Series& series) {
        std::string text;
        for (const auto& [label, rate] : series.MedianThreads()) {
            if (label == kAllThreads || (rate.wakeups < kIdleWakeups && rate.cpu < kIdleCpu))
                continue;
            text += BenchTable::Format("%s%s %.1f/s %.2f ms/s", text.empty() ? "" : "; ", label.c_str(), rate.wakeups,
                                       rate.cpu * 1000);
        }
        return text;
    };
    return {name_ + ", ours per busy thread (wake-ups, CPU): " + describe(oursLong_),
            name_ + ", ffmpeg per busy thread (wake-ups, CPU): " + describe(referenceLong_)};
}
