// Silent recorder ("audio-mute-check"): what recording silence costs in CPU against ffmpeg encoding
// the same silence.

#include "BenchSections.h"
#include "BenchTable.h"
#include "CpuComparison.h"

namespace {

// ffmpeg encodes silence so fast that the cost of 8 seconds drowns in the noise of its start; its
// cost per second without start and end is taken from a run this many times longer.
constexpr int kReferenceMarginalFactor = 10;

} // namespace

void RunSilentBench(const BenchContext& ctx)
{
    const std::vector<std::string> ffmpegBase = {ctx.ffmpeg, "-hide_banner", "-nostats", "-loglevel", "error",
                                                 "-nostdin", "-y"};
    BenchTable cpu("Silent recorder: CPU per recorded second against ffmpeg -f lavfi -i anullsrc",
                   CpuComparison::Columns());
    struct Case {
        const char* name;
        std::string format;
        std::vector<std::string> encodeArgs;
    };
    for (const Case& c : {Case{"silent MP3 320k", "mp3", {"-b:a", "320k"}}, Case{"silent WAV", "wav", {}}}) {
        CpuComparison comparison(c.name, [&](int seconds) {
            CpuComparison::Commands commands;
            commands.referenceFile = ctx.folder + "/ffmpeg-silent." + c.format;
            commands.reference = ffmpegBase;
            for (const char* a : {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t"})
                commands.reference.push_back(a);
            commands.reference.push_back(std::to_string(seconds));
            commands.reference.insert(commands.reference.end(), c.encodeArgs.begin(), c.encodeArgs.end());
            commands.reference.push_back(commands.referenceFile);
            commands.ours = {ctx.recordTool, "--silent", "--format", c.format, "--bitrate", "320000",
                             "--seconds", std::to_string(seconds), "--output", ctx.folder};
            return commands;
        });
        comparison.RunInto(cpu, ctx.repeats, ctx.seconds, ctx.shortSeconds, ctx.seconds * kReferenceMarginalFactor);
    }
    cpu.AddNote(BenchTable::Format(
        "CPU = user + system time of the whole child process (wait4), divided by the decoded length of its file; "
        "ffmpeg encodes faster than real time, so only CPU per recorded second compares. \"Without start/end\": "
        "(CPU of the %d s run - CPU of the %d s run) / (difference of their decoded lengths), medians of %d runs each; "
        "for ffmpeg the long run is %d s.",
        ctx.seconds, ctx.shortSeconds, ctx.repeats, ctx.seconds * kReferenceMarginalFactor));
    cpu.Print(ctx.report);
}
