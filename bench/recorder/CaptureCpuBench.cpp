// CPU per recorded second of recordings from the private sound server: system sound alone, and
// both sources mixed with and without voice processing, each against the ffmpeg command line that
// does the same job on the same server.

#include "BenchSections.h"
#include "BenchTable.h"
#include "ConfigStore.h"
#include "CpuComparison.h"
#include "SoundPlayer.h"
#include "SoundServer.h"

#include <chrono>
#include <thread>

namespace {

// Time for the players' signals to reach the sinks before a measurement starts.
constexpr auto kSignalSettle = std::chrono::milliseconds(300);

void SetVoiceProcessing(bool on)
{
    WriteConfigString(config::kSection, config::kNoiseCheck, on ? "1" : "0");
    WriteConfigString(config::kSection, config::kAgcCheck, on ? "1" : "0");
}

} // namespace

void RunCaptureCpuBench(const BenchContext& ctx)
{
    BenchTable table("Recording from the sound server: CPU per recorded second, MP3 320 kbit/s",
                     CpuComparison::Columns());
    if (!SoundServer::Reset()) {
        table.AddRow({"sound server", "not available (start scripts/sound-server.sh)"});
        table.Print(ctx.report);
        return;
    }
    SoundPlayer speaker("speaker");
    SoundPlayer mic("mic-feed");
    if (!speaker.PlayTone(440, 0.5) || !mic.PlayTone(1000, 0.3)) {
        table.AddRow({"players", "could not play into speaker / mic-feed"});
        table.Print(ctx.report);
        return;
    }
    std::this_thread::sleep_for(kSignalSettle);

    const std::vector<std::string> ffmpegBase = {ctx.ffmpeg, "-hide_banner", "-nostats", "-loglevel", "error",
                                                 "-nostdin", "-y"};
    const std::vector<std::string> systemInput = {"-f", "pulse", "-i", "speaker.monitor"};
    const std::vector<std::string> bothInputs = {"-f", "pulse", "-i", "speaker.monitor", "-f", "pulse", "-i", "mic",
                                                 "-filter_complex", "amix=inputs=2"};
    struct Case {
        std::string name;
        std::string source;
        std::vector<std::string> inputs;
        bool voiceProcessing;
    };
    const Case cases[] = {
        {"system sound", "system", systemInput, false},
        {"both, no voice processing", "both", bothInputs, false},
        {"both, noise-check=1 agc-check=1", "both", bothInputs, true},
    };
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
            return commands;
        });
        comparison.RunInto(table, ctx.repeats, ctx.seconds, ctx.shortSeconds);
    }
    SetVoiceProcessing(false);
    speaker.Close();
    mic.Close();
    table.AddNote("Signals: 440 Hz (peak 0.5) into \"speaker\", 1 kHz (peak 0.3) into \"mic-feed\" (heard by \"mic\"), "
                  "played by this program, whose own CPU is not counted. Voice processing is switched in the "
                  "configuration of the benchmark's temporary XDG_DATA_HOME. The sound server's CPU is not counted "
                  "for either side. Columns as in the silent table. Goal: ratio below 1.0.");
    table.Print(ctx.report);
}
