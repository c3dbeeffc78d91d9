// Offset between microphone and system sound in a mixed recording, with tools nobody here wrote.
//
// The virtual microphone is a remap of the speaker's monitor with its channels swapped, so it hears
// exactly what the speaker plays at the same instant. `paplay` plays a file of 10 ms 1 kHz bursts,
// one a second, in the LEFT channel only (made by `sox`) into the speaker; `tamsu-record --source
// both --format wav` records, with a pause in the middle or without. In the file the system sound
// path puts the bursts into the left channel and the microphone path into the right one: the
// distance between the two is the offset of the two paths, click by click. Each kind of take is
// made on an idle machine and with every core kept busy by a busy-loop process; one long take
// shows whether anything walks.

#include "AudioAnalysis.h"
#include "BenchSections.h"
#include "BenchTable.h"
#include "ClickOnsets.h"
#include "MeasuredProcess.h"
#include "SoundServer.h"

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

// Bursts one a second (offsets within +-500 ms are told apart), 10 ms of 1 kHz at 0.8.
constexpr double kClickInterval = 1.0;
constexpr double kOnsetThreshold = 0.1;
constexpr double kMaxPairDistance = kClickInterval / 2;
// Time for the player's signal to reach the sink before a take starts.
constexpr auto kSignalSettle = std::chrono::milliseconds(500);
// The take with a pause: pause after this many seconds, resume one second later.
constexpr int kPauseAt = 4;

// Goals of the issue: on PipeWire every click within 3 ms (median within 1); on PulseAudio every
// click within 3 ms of the take's first click and of the other takes.
constexpr double kGoalWorstMs = 3;
constexpr double kGoalMedianMs = 1;

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
        && SoundServer::Pactl({"set-default-sink", "speaker"}) == 0
        && SoundServer::Pactl({"set-default-source", "mic"}) == 0;
}

// A child process that runs until it is destroyed (the player).
class Child {
public:
    explicit Child(std::vector<std::string> argv)
    {
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0)
            pid_ = -1;
    }
    ~Child()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool Ok() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

struct Take {
    std::string error;             // empty when it could be measured
    std::vector<ClickPair> pairs;  // right (microphone) - left (system sound), seconds
    double seconds = 0;
};

// One take of tamsu-record, its clicks paired.
Take RecordTake(const BenchContext& ctx, int seconds, bool paused)
{
    Take take;
    std::vector<std::string> argv = {ctx.recordTool, "--source", "both", "--format", "wav", "--seconds",
                                     std::to_string(seconds), "--output", ctx.folder};
    if (paused)
        argv.insert(argv.end(), {"--pause-at", std::to_string(kPauseAt), "--resume-at", std::to_string(kPauseAt + 1)});
    const ProcessCost cost = MeasuredProcess(argv).Run();
    std::string path = cost.output;
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    path = path.substr(path.rfind('\n') == std::string::npos ? 0 : path.rfind('\n') + 1);
    if (cost.exitCode != 0 || path.empty()) {
        take.error = "tamsu-record failed: " + cost.errors;
        return take;
    }
    DecodedAudio audio;
    if (!DecodeAudioFile(path, audio, &take.error))
        return take;
    if (!ctx.keepRecordings)
        std::remove(path.c_str());
    const auto left = FindClickOnsets(audio.left, audio.sampleRate, kOnsetThreshold, kClickInterval / 2);
    const auto right = FindClickOnsets(audio.right, audio.sampleRate, kOnsetThreshold, kClickInterval / 2);
    take.pairs = PairOnsets(left, right, kMaxPairDistance);
    take.seconds = audio.Seconds();
    if (take.pairs.empty())
        take.error = "no click found in both channels";
    return take;
}

std::string Ms(double seconds)
{
    return BenchTable::Format("%+.2f", seconds * 1000);
}

} // namespace

void RunOffsetBench(const BenchContext& ctx)
{
    BenchTable table("Offset of microphone against system sound in a mixed recording (positive: microphone later)",
                     {"machine, take", "take", "length s", "clicks", "first click ms", "median ms",
                      "min / max ms", "max - min ms"});
    const std::string clicks = ctx.folder + "/clicks.wav";
    const std::string sox = "sox -q -n -r 44100 -c 2 " + clicks + " synth 0.01 sine 1000 vol 0.8 remix 1 0 pad 0 " +
                            BenchTable::Format("%.2f", kClickInterval - 0.01) + " repeat 400";
    if (!LoadMirrorLayout() || std::system(sox.c_str()) != 0) {
        table.AddRow({"sound server or sox", "-", "layout or click file could not be made"});
        table.Print(ctx.report);
        SoundServer::Reset();
        return;
    }
    {
        Child player({"paplay", "--device=speaker", clicks});
        std::this_thread::sleep_for(kSignalSettle);
        struct Kind {
            std::string name;
            bool busy;
            bool paused;
            int seconds;
            int takes;
        };
        const Kind kinds[] = {{"idle, pause", false, true, 9, ctx.offsetRepeats},
                              {"busy, pause", true, true, 9, ctx.offsetRepeats},
                              {"idle, long take", false, false, ctx.offsetSeconds, 1}};
        std::vector<double> all; // every click of every take, ms
        std::vector<double> firsts;
        for (const Kind& kind : kinds) {
            std::unique_ptr<BusyLoops> busy = kind.busy ? std::make_unique<BusyLoops>() : nullptr;
            for (int i = 0; i < kind.takes; ++i) {
                const Take t = RecordTake(ctx, kind.seconds, kind.paused);
                if (!t.error.empty()) {
                    table.AddRow({kind.name, std::to_string(i + 1), "failed: " + t.error});
                    continue;
                }
                std::vector<double> ms;
                for (const ClickPair& p : t.pairs)
                    ms.push_back(p.offset * 1000), all.push_back(p.offset * 1000);
                firsts.push_back(ms.front());
                const auto [lo, hi] = std::minmax_element(ms.begin(), ms.end());
                table.AddRow({kind.name, std::to_string(i + 1), BenchTable::Format("%.2f", t.seconds),
                              std::to_string(t.pairs.size()), Ms(t.pairs.front().offset), Ms(Median(ms) / 1000),
                              Ms(*lo / 1000) + " / " + Ms(*hi / 1000), BenchTable::Format("%.2f", *hi - *lo)});
            }
            if (kind.busy)
                table.AddRow({kind.name, "-", "load " + LoadAverage()});
        }
        if (!all.empty()) {
            const auto [lo, hi] = std::minmax_element(all.begin(), all.end());
            double worst = 0;
            for (const double v : all)
                worst = std::max(worst, std::fabs(v));
            const double median = Median(all);
            table.AddRow({"all takes", "-", "", std::to_string(all.size()),
                          BenchTable::Format("%+.2f … %+.2f", *std::min_element(firsts.begin(), firsts.end()),
                                             *std::max_element(firsts.begin(), firsts.end())),
                          BenchTable::Format("%+.2f", median), Ms(*lo / 1000) + " / " + Ms(*hi / 1000),
                          BenchTable::Format("%.2f", *hi - *lo)});
            table.AddNote(BenchTable::Format(
                "Goals: PipeWire every |offset| < %.0f ms (here %.2f) and median < %.0f ms (here %+.2f); PulseAudio "
                "max - min over all takes < %.0f ms (here %.2f).",
                kGoalWorstMs, worst, kGoalMedianMs, median, kGoalWorstMs, *hi - *lo));
        }
        table.AddNote(BenchTable::Format(
            "`paplay --device=speaker` of a sox file: 10 ms of 1 kHz at 0.8 every %.0f s in the left channel; \"mic\" "
            "= module-remap-source master=speaker.monitor channel_map=front-right,front-left "
            "master_channel_map=front-left,front-right remix=no. `tamsu-record --source both --format wav`: 9 s "
            "takes with --pause-at %d --resume-at %d, and one take of %d s without a pause. Left channel of the file "
            "= system sound path, right = microphone path. Busy: one `sh -c 'while :; do :; done'` per core.",
            kClickInterval, kPauseAt, kPauseAt + 1, ctx.offsetSeconds));
    }
    SoundServer::Reset();
    table.Print(ctx.report);
}
