// Offset between microphone and system sound in a mixed recording.
//
// The virtual microphone is made a remap of the speaker's monitor with its channels swapped, so it
// hears exactly what the speaker plays at the same instant. Clicks are played into the speaker's
// LEFT channel only (through a mono remap sink on "speaker"'s front-left). In a mixed recording the
// system sound path puts them into the left channel and the microphone path into the right one;
// the distance between the two is the offset of the two paths. Each kind of recording is made on an
// idle machine and with every core kept busy by a busy-loop process, with and without a pause.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "BenchSections.h"
#include "BenchTable.h"
#include "ClickOnsets.h"
#include "SoundPlayer.h"
#include "SoundServer.h"
#include "StreamTimer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

extern char** environ;

namespace {

// Clicks: one every half second (offsets within +-250 ms are told apart), loud enough to stand
// far above the silence between them after amix halves each input.
constexpr double kClickInterval = 0.5;
constexpr double kClickAmplitude = 0.8;
constexpr double kOnsetThreshold = 0.1;
constexpr double kMaxPairDistance = kClickInterval / 2;
// Time for the players' signals to reach the sinks before a recording starts.
constexpr auto kSignalSettle = std::chrono::milliseconds(300);
// The recording with a pause: running, paused, running again (seconds).
constexpr double kBeforePause = 2.0;
constexpr double kPause = 1.0;

// Goals of the issue: median and worst |offset| over every click of every run of a kind.
constexpr double kGoalMedianMs = 2;
constexpr double kGoalWorstMs = 5;

// One busy-loop process (sh -c 'while :; do :; done') per online core while it exists.
class BusyLoops {
public:
    BusyLoops()
    {
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        char sh[] = "sh", c[] = "-c", loop[] = "while :; do :; done";
        char* argv[] = {sh, c, loop, nullptr};
        for (long i = 0; i < cores; ++i) {
            pid_t pid = 0;
            if (posix_spawnp(&pid, "sh", nullptr, nullptr, argv, environ) == 0)
                pids_.push_back(pid);
        }
    }
    ~BusyLoops()
    {
        for (const pid_t pid : pids_)
            kill(pid, SIGKILL);
        for (const pid_t pid : pids_)
            waitpid(pid, nullptr, 0);
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;
    size_t Count() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

// "median ..., worst ..." of offsets (ms) with the verdicts on the goals.
std::string Verdict(const std::vector<double>& ms)
{
    double worst = 0;
    for (const double v : ms)
        worst = std::max(worst, std::fabs(v));
    const double median = Median(ms);
    const bool medianMet = !ms.empty() && std::fabs(median) < kGoalMedianMs;
    return BenchTable::Format("median %+.2f (goal ±%.0f: %s), worst %.2f (goal %.0f: %s)", median, kGoalMedianMs,
                              medianMet ? "met" : "missed", worst, kGoalWorstMs,
                              !ms.empty() && worst < kGoalWorstMs ? "met" : "missed");
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

// The layout of this measurement; SoundServer::Reset() puts the standard one back.
bool LoadMirrorLayout()
{
    return SoundServer::RemoveAllDevices()
        && SoundServer::LoadModule("module-null-sink", {"sink_name=speaker", "rate=44100", "channels=2",
                                                        SoundServer::DescriptionArg("sink_properties", "Speaker")}) >= 0
        && SoundServer::LoadModule("module-remap-source",
                                   {"master=speaker.monitor", "source_name=mic",
                                    "channel_map=front-right,front-left", "master_channel_map=front-left,front-right",
                                    "remix=no",
                                    SoundServer::DescriptionArg("source_properties", "Virtual Microphone")}) >= 0
        && SoundServer::LoadModule("module-remap-sink",
                                   {"sink_name=speaker-left", "master=speaker", "channels=1", "channel_map=mono",
                                    "master_channel_map=front-left", "remix=no",
                                    SoundServer::DescriptionArg("sink_properties", "Speaker left")}) >= 0
        && SoundServer::Pactl({"set-default-sink", "speaker"}) == 0
        && SoundServer::Pactl({"set-default-source", "mic"}) == 0;
}

struct OffsetRun {
    bool ok = false;
    size_t leftClicks = 0;
    size_t rightClicks = 0;
    std::vector<ClickPair> pairs; // right (microphone) - left (system sound)
    double seconds = 0;
    double serverTiming = 0; // the same offset by the server's timing alone (StreamTimer), median
    std::string error;

    // Median offset of the clicks whose system onset lies in [from, to) seconds of the file.
    double MedianOffset(double from = 0, double to = 1e9) const
    {
        std::vector<double> v;
        for (const auto& p : pairs)
            if (p.at >= from && p.at < to)
                v.push_back(p.offset);
        return Median(v);
    }
};

OffsetRun Analyse(const std::string& path)
{
    OffsetRun run;
    DecodedAudio audio;
    if (!DecodeAudioFile(path, audio, &run.error))
        return run;
    if (audio.channels < 2) {
        run.error = "the recording is not stereo";
        return run;
    }
    const double minGap = kClickInterval / 2;
    const auto left = FindClickOnsets(audio.left, audio.sampleRate, kOnsetThreshold, minGap);
    const auto right = FindClickOnsets(audio.right, audio.sampleRate, kOnsetThreshold, minGap);
    run.leftClicks = left.size();
    run.rightClicks = right.size();
    run.pairs = PairOnsets(left, right, kMaxPairDistance);
    run.seconds = audio.Seconds();
    run.ok = !run.pairs.empty();
    if (!run.ok)
        run.error = "no click found in both channels";
    return run;
}

// Records both sources with our recorder into a WAV file; with a pause of kPause after kBeforePause
// seconds when paused is set.
OffsetRun RecordOurs(const BenchContext& ctx, int index, bool paused)
{
    auto sleepFor = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
    StreamTimer systemTiming("speaker.monitor", 0);
    StreamTimer micTiming("mic", 1);
    std::string path;
    {
        AudioRecorder recorder(nullptr);
        RecordParams params;
        params.folder = ctx.folder;
        params.format = "wav";
        params.fileName = "offset-" + std::string(paused ? "paused-" : "") + std::to_string(index) + ".wav";
        params.bitRate = 320000;
        params.micPresent = true;
        params.sourceOverride = kBoth;
        params.silentOverride = 0;
        if (!systemTiming.Ok() || !micTiming.Ok() || recorder.Open(params) < 0) {
            OffsetRun failed;
            failed.error = "Open failed";
            return failed;
        }
        path = recorder.OutputPath();
        recorder.Run();
        if (paused) {
            sleepFor(kBeforePause);
            recorder.Pause();
            sleepFor(kPause);
            recorder.Run();
            sleepFor(ctx.offsetSeconds - kBeforePause);
        } else {
            sleepFor(ctx.offsetSeconds);
        }
        recorder.Stop();
    }
    OffsetRun run = Analyse(path);
    std::vector<double> timing;
    for (const ClickPair& p : PairOnsets(systemTiming.Stop(kOnsetThreshold, kClickInterval / 2),
                                         micTiming.Stop(kOnsetThreshold, kClickInterval / 2), kMaxPairDistance))
        timing.push_back(p.offset);
    run.serverTiming = Median(timing);
    if (!ctx.keepRecordings)
        std::remove(path.c_str());
    return run;
}

std::vector<std::string> Row(const std::string& name, int index, const OffsetRun& r, bool paused = false)
{
    if (!r.ok)
        return {name, std::to_string(index), "failed: " + r.error};
    const auto [lo, hi] = std::minmax_element(r.pairs.begin(), r.pairs.end(),
                                              [](const ClickPair& a, const ClickPair& b) { return a.offset < b.offset; });
    const std::string median =
        paused ? BenchTable::Format("%+.2f before / %+.2f after the pause", r.MedianOffset(0, kBeforePause) * 1000,
                                    r.MedianOffset(kBeforePause) * 1000)
               : BenchTable::Format("%+.2f", r.MedianOffset() * 1000);
    return {name, std::to_string(index), BenchTable::Format("%.2f", r.seconds),
            BenchTable::Format("%zu / %zu / %zu", r.leftClicks, r.rightClicks, r.pairs.size()), median,
            BenchTable::Format("%+.2f / %+.2f", lo->offset * 1000, hi->offset * 1000),
            BenchTable::Format("%+.2f", r.serverTiming * 1000)};
}

} // namespace

void RunOffsetBench(const BenchContext& ctx)
{
    BenchTable table("Offset of microphone against system sound in a mixed recording (positive: microphone later)",
                     {"machine, recording", "run", "length s", "clicks L / R / paired", "offset ms (median)",
                      "offset ms (min / max)", "server timing ms"});
    if (!LoadMirrorLayout()) {
        table.AddRow({"sound server", "-", "layout could not be loaded"});
        table.Print(ctx.report);
        SoundServer::Reset();
        return;
    }
    {
        SoundPlayer clicks("speaker-left", 44100, 1);
        if (!clicks.PlayClicks(kClickInterval, kClickAmplitude)) {
            table.AddRow({"player", "-", "could not play into speaker-left"});
        } else {
            std::this_thread::sleep_for(kSignalSettle);
            struct Kind {
                std::string name;
                bool busy;
                bool paused;
            };
            const Kind kinds[] = {{"idle", false, false},
                                  {"busy", true, false},
                                  {"idle, pause/resume", false, true},
                                  {"busy, pause/resume", true, true}};
            for (const Kind& kind : kinds) {
                std::vector<double> all;     // every click of every run, ms
                std::vector<double> against; // the same less the run's server timing
                std::string load;
                {
                    std::unique_ptr<BusyLoops> busy = kind.busy ? std::make_unique<BusyLoops>() : nullptr;
                    for (int i = 0; i < ctx.offsetRepeats; ++i) {
                        const OffsetRun r = RecordOurs(ctx, i, kind.paused);
                        table.AddRow(Row(kind.name, i + 1, r, kind.paused));
                        for (const auto& p : r.pairs) {
                            all.push_back(p.offset * 1000);
                            against.push_back((p.offset - r.serverTiming) * 1000);
                        }
                    }
                    load = LoadAverage();
                }
                table.AddRow({kind.name + ": all clicks", "-", "load " + load, std::to_string(all.size()) + " paired",
                              Verdict(all), "", "less server timing: " + Verdict(against)});
            }
            table.AddNote(BenchTable::Format(
                "AudioRecorder in process, source kBoth, WAV, %d s per recording (pause/resume: %.0f s, Pause for %.0f "
                "s, Run, %.0f s more). Busy: one process `sh -c 'while :; do :; done'` per core during the runs of the "
                "kind; \"load\" is the load average (1 and 5 min) at the end of the kind's runs. Clicks of 1 ms, "
                "amplitude %.1f, every %.0f ms into the left channel of \"speaker\" (module-remap-sink "
                "sink_name=speaker-left master=speaker channels=1 channel_map=mono master_channel_map=front-left "
                "remix=no); \"mic\" = module-remap-source master=speaker.monitor channel_map=front-right,front-left "
                "master_channel_map=front-left,front-right remix=no. Left channel of the file = system sound path, "
                "right channel = microphone path. Server timing: the median offset of the same clicks placed by "
                "arrival times alone (StreamTimer: plain record streams on speaker.monitor and mic during the run, "
                "each placed by its earliest bound over the run); \"less server timing\" takes it out of each click "
                "of the run, leaving what the recorder adds to what the server's timing allows.",
                ctx.offsetSeconds, kBeforePause, kPause, ctx.offsetSeconds - kBeforePause, kClickAmplitude,
                kClickInterval * 1000));
        }
    }
    SoundServer::Reset();
    table.Print(ctx.report);
}
