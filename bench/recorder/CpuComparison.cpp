#include "CpuComparison.h"

#include "AudioAnalysis.h"
#include "ClickOnsets.h"
#include "MeasuredProcess.h"

#include <algorithm>
#include <cstdio>

namespace {

// The last non-empty line of text.
std::string LastLine(const std::string& text)
{
    const size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return {};
    const size_t newline = text.find_last_of('\n', end);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(begin, end - begin + 1);
}

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

bool CpuComparison::Measure(const std::vector<std::string>& argv, const std::string& fileOrEmpty, Sample& out)
{
    const MeasuredProcess process(argv);
    const ProcessCost cost = process.Run();
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
