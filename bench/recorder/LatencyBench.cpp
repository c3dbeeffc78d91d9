// Latency of the command-line recorder, seen from outside: from the start of capture to the first
// audio in the file, from SIGTERM to the complete file and to the end of the process, and how far
// the file's length is from the span between the start and SIGTERM.
//
// The output folder is watched with inotify while tamsu-record runs: the file's first modification
// is its header, which Open writes (and pushes to the disk) right before Run, the start of capture;
// the first modification that makes the file longer brings the first audio; SIGTERM goes when the
// header is ctx.latencyRecordSeconds old; the file is complete when it is closed after writing.

#include "AudioAnalysis.h"
#include "BenchSections.h"
#include "BenchTable.h"
#include "ClickOnsets.h"
#include "MeasuredProcess.h"
#include "SoundPlayer.h"

#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

// How often the run looks whether SIGTERM is due (the moment of the signal itself is taken exactly).
constexpr int kTickMs = 5;
// A run whose file has no header by then is given up (SIGTERM) and counts as failed.
constexpr auto kHeaderWait = std::chrono::seconds(5);
// Goals of the issue (ms): first audio after the start of capture, complete file after the stop
// (plus the source's latency, a few ms on the test server), file length against the span.
constexpr double kGoalFirstMs = 100;
constexpr double kGoalCompleteMs = 100;
constexpr double kGoalSpanMs = 50;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// An inotify descriptor.
struct Inotify {
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    Inotify() = default;
    Inotify(const Inotify&) = delete;
    Inotify& operator=(const Inotify&) = delete;
    ~Inotify()
    {
        if (fd >= 0)
            close(fd);
    }
};

// What one run saw of its file (time_point{} where it did not happen).
struct FileTimes {
    std::string path;
    off_t headerSize = -1;
    Clock::time_point header, firstAudio, term, closed, exited;
};

struct LatencyResult {
    std::vector<double> firstMs, completeMs, exitMs, spanErrorMs;
    int failures = 0;
};

// One run of argv (tamsu-record writing into ctx.folder); false when it failed.
bool MeasureOnce(const BenchContext& ctx, const std::vector<std::string>& argv, FileTimes& t)
{
    Inotify watcher;
    if (watcher.fd < 0 || inotify_add_watch(watcher.fd, ctx.folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0)
        return false;
    ProcessWatch watch;
    watch.fd = watcher.fd;
    watch.onReadable = [&] {
        alignas(inotify_event) char buf[4096];
        ssize_t n;
        while ((n = read(watcher.fd, buf, sizeof buf)) > 0) {
            const Clock::time_point now = Clock::now();
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                if (e->len == 0)
                    continue;
                const std::string path = ctx.folder + "/" + e->name;
                if (t.path.empty())
                    t.path = path;
                if (path != t.path)
                    continue;
                struct stat st {};
                if ((e->mask & IN_MODIFY) && stat(path.c_str(), &st) == 0) {
                    if (t.headerSize < 0) {
                        t.headerSize = st.st_size;
                        t.header = now;
                    } else if (t.firstAudio == Clock::time_point{} && st.st_size > t.headerSize) {
                        t.firstAudio = now;
                    }
                }
                if (e->mask & IN_CLOSE_WRITE)
                    t.closed = now;
            }
        }
    };
    const Clock::time_point start = Clock::now();
    const auto recordFor = std::chrono::duration<double>(ctx.latencyRecordSeconds);
    watch.tickMs = kTickMs;
    watch.onTick = [&](int pid, const std::string&) {
        const Clock::time_point now = Clock::now();
        const bool due = t.headerSize >= 0 ? now - t.header >= recordFor : now - start >= kHeaderWait;
        if (t.term == Clock::time_point{} && due) {
            t.term = Clock::now();
            kill(pid, SIGTERM);
        }
    };
    const MeasuredProcess process(argv);
    const ProcessCost cost = process.Run(watch);
    t.exited = Clock::now();
    if (!cost.started || cost.exitCode != 0 || t.headerSize < 0) {
        std::fprintf(stderr, "bench: latency run failed (exit %d): %s\n%s\n", cost.exitCode,
                     process.CommandLine().c_str(), cost.errors.c_str());
        return false;
    }
    return t.firstAudio != Clock::time_point{} && t.closed > t.term;
}

LatencyResult Measure(const BenchContext& ctx, const std::vector<std::string>& argv)
{
    LatencyResult r;
    for (int i = 0; i < ctx.latencyRuns; ++i) {
        FileTimes t;
        DecodedAudio audio;
        const bool ok = MeasureOnce(ctx, argv, t) && DecodeAudioFile(t.path, audio);
        if (!t.path.empty() && !ctx.keepRecordings)
            std::remove(t.path.c_str());
        if (!ok) {
            ++r.failures;
            continue;
        }
        r.firstMs.push_back(Ms(t.firstAudio - t.header));
        r.completeMs.push_back(Ms(t.closed - t.term));
        r.exitMs.push_back(Ms(t.exited - t.term));
        r.spanErrorMs.push_back(audio.Seconds() * 1000 - Ms(t.term - t.header));
    }
    return r;
}

// "median / max", with the verdict on a goal for the max (none for goal 0).
std::string MedianMax(const std::vector<double>& v, double goal = 0)
{
    if (v.empty())
        return "-";
    const double worst = *std::max_element(v.begin(), v.end());
    const std::string text = BenchTable::Format("%.1f / %.1f", Median(v), worst);
    return goal > 0 ? text + BenchTable::Format(" (goal < %.0f: %s)", goal, worst < goal ? "met" : "missed") : text;
}

} // namespace

void RunLatencyBench(const BenchContext& ctx)
{
    BenchTable table("tamsu-record seen from outside: start of capture to first audio in the file, SIGTERM to "
                     "complete file",
                     {"recording", "runs", "start → first audio ms (median / max)",
                      "SIGTERM → file complete ms (median / max)", "SIGTERM → process ended ms (median / max)",
                      "length − span ms (median, min / max)", "failures"});
    SoundPlayer speaker("speaker");
    SoundPlayer mic("mic-feed");
    if (!StartStandardSignals(ctx, table, speaker, mic))
        return;
    struct Case {
        const char* name;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"both, WAV", {"--source", "both", "--format", "wav"}},
        {"both, MP3 320k", {"--source", "both", "--format", "mp3", "--bitrate", "320000"}},
        {"silent, MP3 320k", {"--silent", "--format", "mp3", "--bitrate", "320000"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {ctx.recordTool};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        for (const char* a : {"--seconds", "600", "--output"})
            argv.push_back(a);
        argv.push_back(ctx.folder);
        const LatencyResult r = Measure(ctx, argv);
        std::string span = "-";
        if (!r.spanErrorMs.empty()) {
            const auto [lo, hi] = std::minmax_element(r.spanErrorMs.begin(), r.spanErrorMs.end());
            const bool met = std::max(-*lo, *hi) <= kGoalSpanMs;
            span = BenchTable::Format("%+.1f, %+.1f / %+.1f (goal within %.0f: %s)", Median(r.spanErrorMs), *lo, *hi,
                                      kGoalSpanMs, met ? "met" : "missed");
        }
        table.AddRow({c.name, std::to_string(r.firstMs.size()), MedianMax(r.firstMs, kGoalFirstMs),
                      MedianMax(r.completeMs, kGoalCompleteMs), MedianMax(r.exitMs), span,
                      std::to_string(r.failures)});
        table.AddNote(std::string(c.name) + ": " + MeasuredProcess(argv).CommandLine() + ", SIGTERM after " +
                      BenchTable::Format("%.1f s", ctx.latencyRecordSeconds));
    }
    table.AddNote(
        "Times are when this program read the inotify events of the output folder: start = the file's first "
        "modification (its header, written by Open just before Run), first audio = the first modification that makes "
        "it longer, complete = its IN_CLOSE_WRITE after SIGTERM. The muxer writes in blocks of 4 KiB: for WAV one "
        "frame (23 ms of sound), for MP3 320k about four frames (0.1 s) after the encoder's delay, so the MP3 rows' "
        "first audio says more about that block than about capture. Length − span: the decoded length of the file "
        "less the time from its header to SIGTERM. Signals: the standard ones.");
    speaker.Close();
    mic.Close();
    table.Print(ctx.report);
}
