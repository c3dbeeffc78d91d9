// Silent recorder ("audio-mute-check"): how long the file takes to be complete after Stop, and
// what recording silence costs in CPU against ffmpeg encoding the same silence.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "BenchSections.h"
#include "BenchTable.h"
#include "ClickOnsets.h"
#include "CpuComparison.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// ffmpeg encodes silence so fast that the cost of 8 seconds drowns in the noise of its start; its
// cost per second without start and end is taken from a run this many times longer.
constexpr int kReferenceMarginalFactor = 10;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct LatencyResult {
    std::vector<double> stopReturnMs;   // Stop() itself
    std::vector<double> completeMs;     // Stop() called -> destructor returned (file complete)
    std::vector<double> decodedSeconds; // length of each finished file
    int failures = 0;
};

// Makes runs silent recordings of ctx.latencyRecordSeconds each; each is stopped and destroyed at
// once, and the time both take is kept.
LatencyResult MeasureStopLatency(const BenchContext& ctx, const std::string& format, int runs)
{
    LatencyResult result;
    for (int i = 0; i < runs; ++i) {
        RecordParams params;
        params.folder = ctx.folder;
        params.format = format;
        params.fileName = "latency-" + std::to_string(i) + "." + format;
        params.bitRate = 320000;
        params.sourceOverride = kSystemSound;
        params.silentOverride = 1;
        auto recorder = std::make_unique<AudioRecorder>(nullptr);
        if (recorder->Open(params) < 0) {
            ++result.failures;
            continue;
        }
        const std::string path = recorder->OutputPath();
        recorder->Run();
        std::this_thread::sleep_for(std::chrono::duration<double>(ctx.latencyRecordSeconds));
        const auto t0 = Clock::now();
        recorder->Stop();
        const auto t1 = Clock::now();
        recorder.reset();
        const auto t2 = Clock::now();
        result.stopReturnMs.push_back(Ms(t1 - t0));
        result.completeMs.push_back(Ms(t2 - t0));
        DecodedAudio audio;
        if (DecodeAudioFile(path, audio))
            result.decodedSeconds.push_back(audio.Seconds());
        else
            ++result.failures;
        std::remove(path.c_str());
    }
    return result;
}

} // namespace

void RunSilentBench(const BenchContext& ctx)
{
    BenchTable latency("Silent recorder: Stop() to complete file (destructor returned)",
                       {"format", "runs", "Stop() returns ms (median / max)",
                        "file complete ms (median / max)", "decoded length s (min-max)", "failures"});
    for (const char* format : {"mp3", "wav"}) {
        const LatencyResult r = MeasureStopLatency(ctx, format, ctx.latencyRuns);
        auto maxOf = [](const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); };
        auto minOf = [](const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); };
        latency.AddRow({format == std::string("mp3") ? "MP3 320 kbit/s" : "WAV",
                        std::to_string(r.completeMs.size()),
                        BenchTable::Format("%.3f / %.3f", Median(r.stopReturnMs), maxOf(r.stopReturnMs)),
                        BenchTable::Format("%.2f / %.2f", Median(r.completeMs), maxOf(r.completeMs)),
                        BenchTable::Format("%.3f-%.3f", minOf(r.decodedSeconds), maxOf(r.decodedSeconds)),
                        std::to_string(r.failures)});
    }
    latency.AddNote(BenchTable::Format(
        "In process: AudioRecorder with silentOverride=1, Open, Run, %.1f s of recording, then the time from "
        "Stop() to the end of the destructor (the file is complete then; each file is decoded afterwards).",
        ctx.latencyRecordSeconds));
    latency.Print(ctx.report);

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
