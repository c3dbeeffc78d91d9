// Offset between microphone and system sound in a mixed recording.
//
// The virtual microphone is made a remap of the speaker's monitor with its channels swapped, so it
// hears exactly what the speaker plays at the same instant. Clicks are played into the speaker's
// LEFT channel only (through a mono remap sink on "speaker"'s front-left). In a mixed recording the
// system sound path puts them into the left channel and the microphone path into the right one;
// the distance between the two is the offset of the two paths.

#include "AudioAnalysis.h"
#include "AudioRecorder.h"
#include "BenchSections.h"
#include "BenchTable.h"
#include "ClickOnsets.h"
#include "MeasuredProcess.h"
#include "SoundPlayer.h"
#include "SoundServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

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

// Records both sources with our recorder; with a pause of kPause after kBeforePause seconds when
// paused is set.
OffsetRun RecordOurs(const BenchContext& ctx, const std::string& format, int index, bool paused)
{
    auto sleepFor = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
    std::string path;
    {
        AudioRecorder recorder(nullptr);
        RecordParams params;
        params.folder = ctx.folder;
        params.format = format;
        params.fileName = "offset-" + std::string(paused ? "paused-" : "") + std::to_string(index) + "." + format;
        params.bitRate = 320000;
        params.micPresent = true;
        params.sourceOverride = kBoth;
        params.silentOverride = 0;
        if (recorder.Open(params) < 0) {
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
    if (!ctx.keepRecordings)
        std::remove(path.c_str());
    return run;
}

OffsetRun RecordFfmpeg(const BenchContext& ctx, const std::vector<std::string>& argv, const std::string& out)
{
    const MeasuredProcess process(argv);
    const ProcessCost cost = process.Run();
    if (!cost.started || cost.exitCode != 0) {
        OffsetRun failed;
        failed.error = "ffmpeg failed: " + cost.errors;
        return failed;
    }
    OffsetRun run = Analyse(out);
    if (!ctx.keepRecordings)
        std::remove(out.c_str());
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
            BenchTable::Format("%+.2f", r.pairs.back().offset * 1000)};
}

} // namespace

void RunOffsetBench(const BenchContext& ctx)
{
    BenchTable table("Offset of microphone against system sound in a mixed recording (positive: microphone later)",
                     {"recorder", "run", "length s", "clicks L / R / paired", "offset ms (median)",
                      "offset ms (min / max)", "last click ms"});
    if (!LoadMirrorLayout()) {
        table.AddRow({"sound server", "-", "layout could not be loaded"});
        table.Print(ctx.report);
        SoundServer::Reset();
        return;
    }
    auto ffmpegArgv = [&](const std::string& out) {
        return std::vector<std::string>{ctx.ffmpeg, "-hide_banner", "-nostats", "-loglevel", "error", "-nostdin", "-y",
                                        "-f", "pulse", "-i", "speaker.monitor", "-f", "pulse", "-i", "mic",
                                        "-filter_complex", "amix=inputs=2", "-t", std::to_string(ctx.offsetSeconds),
                                        out};
    };
    {
        SoundPlayer clicks("speaker-left", 44100, 1);
        if (!clicks.PlayClicks(kClickInterval, kClickAmplitude)) {
            table.AddRow({"player", "-", "could not play into speaker-left"});
        } else {
            std::this_thread::sleep_for(kSignalSettle);
            struct Kind {
                std::string name;
                std::string format;
                bool paused;
                bool ffmpeg;
            };
            const Kind kinds[] = {{"ours, both, WAV", "wav", false, false},
                                  {"ours, both, MP3 320k", "mp3", false, false},
                                  {"ours, both, WAV, paused", "wav", true, false},
                                  {"ffmpeg amix, WAV", "wav", false, true}};
            for (const Kind& kind : kinds) {
                std::vector<double> medians;
                std::vector<double> all; // every click of every run
                for (int i = 0; i < ctx.offsetRepeats; ++i) {
                    const std::string out = ctx.folder + "/ffmpeg-offset-" + std::to_string(i) + ".wav";
                    const OffsetRun r = kind.ffmpeg ? RecordFfmpeg(ctx, ffmpegArgv(out), out)
                                                    : RecordOurs(ctx, kind.format, i, kind.paused);
                    table.AddRow(Row(kind.name, i + 1, r, kind.paused));
                    if (r.ok)
                        medians.push_back(r.MedianOffset());
                    for (const auto& p : r.pairs)
                        all.push_back(p.offset);
                }
                const auto [lo, hi] = std::minmax_element(all.begin(), all.end());
                table.AddRow({kind.name + ", all runs", "-", "", "",
                              BenchTable::Format("%+.2f (median of the runs' medians)", Median(medians) * 1000),
                              all.empty() ? "-" : BenchTable::Format("%+.2f / %+.2f", *lo * 1000, *hi * 1000),
                              kind.ffmpeg ? "" : "goal: every |offset| < 10 ms"});
            }
            table.AddNote(BenchTable::Format(
                "Ours: AudioRecorder in process, source kBoth, %d s per recording (paused: %.0f s, Pause for %.0f s, "
                "Run, %.0f s more). Clicks of 1 ms, amplitude %.1f, every %.0f ms into the left channel of \"speaker\" "
                "(module-remap-sink sink_name=speaker-left master=speaker channels=1 channel_map=mono "
                "master_channel_map=front-left remix=no); \"mic\" = module-remap-source master=speaker.monitor "
                "channel_map=front-right,front-left master_channel_map=front-left,front-right remix=no. Left channel "
                "of the file = system sound path, right channel = microphone path.",
                ctx.offsetSeconds, kBeforePause, kPause, ctx.offsetSeconds - kBeforePause, kClickAmplitude,
                kClickInterval * 1000));
            table.AddNote("ffmpeg: " + MeasuredProcess(ffmpegArgv(ctx.folder + "/ffmpeg-offset.wav")).CommandLine());
        }
    }
    SoundServer::Reset();
    table.Print(ctx.report);
}
