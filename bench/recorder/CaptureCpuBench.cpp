// CPU per recorded second of recordings from the private sound server: system sound alone, and
// both sources mixed with and without voice processing, each against the ffmpeg command line that
// does the same job on the same server; from the same runs, the wake-ups of each command and the
// CPU the sound server spends while it records.

#include "BenchSections.h"
#include "BenchTable.h"
#include "ConfigStore.h"
#include "CpuComparison.h"
#include "ProcessStats.h"
#include "SoundPlayer.h"
#include "SoundServer.h"

#include <chrono>
#include <thread>

namespace {

// Time for the players' signals to reach the sinks before a measurement starts.
constexpr auto kSignalSettle = std::chrono::milliseconds(300);
// The thread of our process that runs the capture streams (the shared connection's main loop).
constexpr const char* kCaptureThread = "pulse-context";

// CPU seconds the sound server spends in seconds of wall time while nothing records.
double ServerIdleCpu(int seconds)
{
    const std::vector<int> pids = SoundServerPids();
    const double before = ProcessCpuSeconds(pids);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return (ProcessCpuSeconds(pids) - before) / seconds;
}

void SetVoiceProcessing(bool on)
{
    WriteConfigString(config::kSection, config::kNoiseCheck, on ? "1" : "0");
    WriteConfigString(config::kSection, config::kAgcCheck, on ? "1" : "0");
}

} // namespace

bool StartStandardSignals(const BenchContext& ctx, BenchTable& table, SoundPlayer& speaker, SoundPlayer& mic)
{
    if (!SoundServer::Reset()) {
        table.AddRow({"sound server", "not available (start scripts/sound-server.sh)"});
        table.Print(ctx.report);
        return false;
    }
    if (!speaker.PlayTone(440, 0.5) || !mic.PlayTone(1000, 0.3)) {
        table.AddRow({"players", "could not play into speaker / mic-feed"});
        table.Print(ctx.report);
        return false;
    }
    std::this_thread::sleep_for(kSignalSettle);
    return true;
}

void RunCaptureCpuBench(const BenchContext& ctx)
{
    BenchTable table("Recording from the sound server: CPU per recorded second, MP3 320 kbit/s",
                     CpuComparison::Columns());
    SoundPlayer speaker("speaker");
    SoundPlayer mic("mic-feed");
    if (!StartStandardSignals(ctx, table, speaker, mic))
        return;

    const std::vector<std::string> ffmpegBase = {ctx.ffmpeg, "-hide_banner", "-nostats", "-loglevel", "error",
                                                 "-nostdin", "-y"};
    const std::vector<std::string> systemInput = {"-f", "pulse", "-i", "speaker.monitor"};
    const std::vector<std::string> bothInputs = {"-f", "pulse", "-i", "speaker.monitor", "-f", "pulse", "-i", "mic",
                                                 "-filter_complex", "amix=inputs=2"};
    struct Case {
        std::string name;
        std::string source;
        int sources;
        std::vector<std::string> inputs;
        bool voiceProcessing;
        bool splitTracks = false; // the mix, and each source in a file of its own
    };
    const Case cases[] = {
        {"system sound", "system", 1, systemInput, false},
        {"both, no voice processing", "both", 2, bothInputs, false},
        {"both, noise-check=1 agc-check=1", "both", 2, bothInputs, true},
        {"both, --split-tracks", "both", 2, bothInputs, false, true},
    };
    BenchTable load("Recording from the sound server: wake-ups and the sound server's CPU (same runs)",
                    CpuComparison::LoadColumns());
    const double serverIdle = ServerIdleCpu(ctx.seconds);
    for (const Case& c : cases) {
        SetVoiceProcessing(c.voiceProcessing);
        CpuComparison comparison(c.name, [&](int seconds) {
            CpuComparison::Commands commands;
            commands.referenceFile = ctx.folder + "/ffmpeg-" + c.source + ".mp3";
            commands.reference = ffmpegBase;
            commands.reference.insert(commands.reference.end(), c.inputs.begin(), c.inputs.end());
            for (const std::string& a : {std::string("-t"), std::to_string(seconds), std::string("-b:a"),
                                         std::string("320k"), commands.referenceFile})
                commands.reference.push_back(a);
            commands.ours = {ctx.recordTool, "--source", c.source, "--format", "mp3", "--bitrate", "320000",
                             "--seconds", std::to_string(seconds), "--output", ctx.folder};
            if (c.splitTracks)
                commands.ours.push_back("--split-tracks");
            return commands;
        });
        comparison.RunInto(table, ctx.repeats, ctx.seconds, ctx.shortSeconds);
        load.AddRow(comparison.LoadRow(c.sources, kCaptureThread));
        for (auto& note : comparison.LoadNotes())
            load.AddNote(note);
    }
    SetVoiceProcessing(false);
    speaker.Close();
    mic.Close();
    table.AddNote("Signals: the standard ones (440 Hz into \"speaker\", 1 kHz into \"mic-feed\", heard by \"mic\"), "
                  "played by this program, whose own CPU is not counted. Voice processing is switched in the "
                  "configuration of the benchmark's temporary XDG_DATA_HOME. The sound server's CPU is not counted "
                  "for either side. Columns as in the silent table. Goal (both sources): ratio at most 0.5. "
                  "--split-tracks also encodes and writes each source apart (three MP3 encoders instead of one); "
                  "ffmpeg writes the mix only.");
    table.Print(ctx.report);
    load.AddNote(BenchTable::Format(
        "Wake-ups: voluntary context switches of the command's threads (/proc/<pid>/task/*/status) from 1 s after "
        "its start to its end, per second, medians of the %d s runs; threads: \"main\", else name/number in order "
        "of creation (%s runs both capture streams; the busy tamsu-record/N is the encode thread). "
        "Per source: divided by the sources recorded. Goal: at most 25 capture wake-ups per second per source. "
        "PulseAudio sends a record stream every block its source posts, whatever the fragment size asked: a monitor "
        "posts each block its sink renders, and the sink renders in blocks of about a quarter of the lowest latency "
        "its playback streams ask for (the players here ask for 50 ms). A PipeWire server sends one packet per graph "
        "cycle.",
        ctx.seconds, kCaptureThread));
    load.AddNote(BenchTable::Format(
        "Sound server: user + system time of its processes (the owners of the PULSE_SERVER socket and of "
        "$PIPEWIRE_RUNTIME_DIR/pipewire-0: pulseaudio, or pipewire-pulse and pipewire) during each run, per recorded "
        "second; the players alone cost it %.2f ms/s. Goal on PipeWire: ratio at most 1.2.",
        serverIdle * 1000));
    load.Print(ctx.report);
}
