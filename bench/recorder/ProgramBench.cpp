// One program's sound, from outside through tamsu-record: how far another program's tone stays
// below the chosen one's, how much of the chosen program is missing when it restarts mid-take, and
// the CPU of a recording that monitors ten (and fifty) playback streams against the plain system sound.

#include "AudioAnalysis.h"
#include "BenchSections.h"
#include "BenchTable.h"
#include "MeasuredProcess.h"
#include "Process.h"
#include "SoundServer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

namespace {

// Ten monitored streams, as a browser with several tabs and calls might play.
constexpr int kManyStreams = 10;
// The stress case: fifty at once.
constexpr int kStressStreams = 50;
// A 20 ms piece of the chosen tone this far under its level counts as missing.
constexpr double kMissingDb = 20;
constexpr double kPieceSeconds = 0.02;
constexpr double kAmplitude = 0.3;

// The command that plays a sine of freq Hz into "speaker" as the program name (pacat).
std::vector<std::string> PlayCommand(const std::string& name, int freq)
{
    return {"bash", "-c",
            R"(exec pacat -v --client-name="$1" --raw --device=speaker --format=float32le --rate=44100 --channels=2 )"
            R"(--latency-msec=50 < <(exec sox -q -D -n -r 44100 -c 2 -b 32 -e floating-point -t raw - synth 86400 )"
            R"(sine "$2" vol "$3") 2> >(grep -m1 -o --line-buffered "Stream started"; exec cat >/dev/null))",
            "bash", name, std::to_string(freq), std::to_string(kAmplitude)};
}

std::unique_ptr<Process> Play(const std::string& name, int freq)
{
    auto p = std::make_unique<Process>(PlayCommand(name, freq));
    return p->WaitForOutput("Stream started", kProcessLimit) ? std::move(p) : nullptr;
}

double ToneDb(const DecodedAudio& a, double freq, double from, double to)
{
    return 10 * std::log10(TonePower(a.left, a.sampleRate, freq, a.IndexAt(from), a.IndexAt(to)) + 1e-20);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

void RunProgramBench(const BenchContext& ctx)
{
    BenchTable table("One program's sound (tamsu-record --source app:NAME), WAV", {"measurement", "result"});
    if (!SoundServer::Reset()) {
        table.AddRow({"sound server", "not available"});
        table.Print(ctx.report);
        return;
    }
    const std::vector<std::string> record = {ctx.recordTool, "--format", "wav", "--output", ctx.folder};
    auto recordCommand = [&](const std::string& source, int seconds) {
        std::vector<std::string> argv = record;
        for (const std::string& a : {std::string("--source"), source, std::string("--seconds"), std::to_string(seconds)})
            argv.push_back(a);
        return argv;
    };
    std::unique_ptr<Process> chosen = Play("bench-chosen", 440);
    const std::unique_ptr<Process> other = Play("bench-other", 1000);
    if (!chosen || !other) {
        table.AddRow({"players", "could not play into speaker"});
        table.Print(ctx.report);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // The other program's tone against the chosen one's, over a whole take.
    DecodedAudio a;
    const ProcessCost plain = MeasuredProcess(recordCommand("app:bench-chosen", 5)).Run();
    if (DecodeAudioFile(LastLine(plain.output), a))
        table.AddRow({"1 kHz (other program) under 440 Hz (chosen)",
                      BenchTable::Format("%.1f dB (goal: at least 40)", ToneDb(a, 440, 0.3, a.Seconds() - 0.1) -
                                                                             ToneDb(a, 1000, 0.3, a.Seconds() - 0.1))});
    table.AddNote("separation: " + MeasuredProcess(recordCommand("app:bench-chosen", 5)).CommandLine() +
                  " while pacat --client-name=bench-chosen plays 440 Hz and --client-name=bench-other 1 kHz "
                  "(peak 0.3) into \"speaker\"; Goertzel power over the take less its first 0.3 s");

    // The chosen program restarted: its pacat killed and started again after 2 s of recording.
    for (int run = 0; run < ctx.repeats; ++run) {
        Process tool(recordCommand("app:bench-chosen", 5));
        tool.WaitForOutput("00:00:02\n", kProcessLimit);
        chosen.reset();
        chosen = Play("bench-chosen", 440);
        const Process::Result result = tool.Finish(kProcessLimit);
        if (!DecodeAudioFile(LastLine(result.out), a) || !chosen)
            continue;
        const double level = RmsDb(a.left, a.IndexAt(0.3), a.IndexAt(a.Seconds() - 0.1));
        int missing = 0;
        for (double t = 0.3; t + kPieceSeconds < a.Seconds() - 0.1; t += kPieceSeconds)
            missing += RmsDb(a.left, a.IndexAt(t), a.IndexAt(t + kPieceSeconds)) < level - kMissingDb;
        table.AddRow({BenchTable::Format("chosen program restarted (run %d)", run + 1),
                      BenchTable::Format("%.2f s missing (goal: at most 0.5)", missing * kPieceSeconds)});
    }
    table.AddNote("restart: the same command; after \"00:00:02\" the chosen pacat is killed and started again "
                  "(it is playing again when pacat prints \"Stream started\"); missing = 20 ms pieces of the take "
                  "more than 20 dB under its RMS level");

    // CPU: ten streams of one program monitored, then fifty (the stress case), against the system
    // sound (the same players).
    std::vector<std::unique_ptr<Process>> many;
    for (const auto& [streams, goal] : {std::pair{kManyStreams, 1.5}, std::pair{kStressStreams, 2.0}}) {
        while (static_cast<int>(many.size()) < streams)
            if (auto p = Play("bench-many", 500 + 100 * static_cast<int>(many.size() % 10)))
                many.push_back(std::move(p));
            else
                break;
        std::vector<double> system, programs;
        for (int run = 0; run < ctx.repeats; ++run) {
            system.push_back(MeasuredProcess(recordCommand("system", ctx.seconds)).Run().cpuSeconds);
            programs.push_back(MeasuredProcess(recordCommand("app:bench-many", ctx.seconds)).Run().cpuSeconds);
        }
        table.AddRow({BenchTable::Format("CPU, %zu streams of one program / system sound", many.size()),
                      BenchTable::Format("%.2f (%.3f s / %.3f s per %d s take, medians of %d; goal: under %.1f)",
                                         Median(programs) / Median(system), Median(programs), Median(system),
                                         ctx.seconds, ctx.repeats, goal)});
    }
    table.AddNote("CPU: user + system time (wait4) of " +
                  MeasuredProcess(recordCommand("app:bench-many", ctx.seconds)).CommandLine() + " against " +
                  MeasuredProcess(recordCommand("system", ctx.seconds)).CommandLine() +
                  ", interleaved, while ten (then fifty) pacat --client-name=bench-many (500..1400 Hz) and the two "
                  "above play");
    table.Print(ctx.report);
}
