// Echo cancellation of the microphone on the loopback rig (EchoRig: what "speaker" plays comes back
// into the microphone 40 or 150 ms later, 6 dB weaker), for speech, band-limited and white noise as
// the far end: microphone-only recordings of tamsu-record
// with --echo-cancel on against off, of the far end alone, the near end alone and both at once,
// and one recording whose echo path changes in the middle. From the same runs: the CPU per
// recorded second with and without the canceller.

#include "AudioAnalysis.h"
#include "BenchSections.h"
#include "BenchTable.h"
#include "EchoRig.h"
#include "MeasuredProcess.h"
#include "Process.h"
#include "SoundPlayer.h"
#include "SoundServer.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

namespace {

// Length of each recording: two seconds of adaptation, then enough to measure.
constexpr int kTakeSeconds = 8;
// The path change: from 40 to 150 ms at this second of a longer take.
constexpr int kChangeTakeSeconds = 12;
constexpr double kChangeAtSeconds = 5;
// The far end: speech, noise in a telephone's band, or white noise (peak 0.3, -15 dBFS), the
// hardest case for a canceller (every band at once); the near end: a 5 kHz tone of peak 0.1
// (-23 dBFS), a voice the canceller must keep.
constexpr double kFarAmplitude = 0.3;
constexpr double kBandLowHz = 300, kBandHighHz = 3400;
constexpr double kSpeechPeak = 0.5;
constexpr const char* kSpeechText = "今天天气很好，下午可能会有小雨。我们明天早上九点在公司门口见面，然后一起去开会。"
                                    "请大家准备好自己的材料，会议大概需要一个小时。";
// The second voice, a near end that talks over the far end (peak 0.3, as loud as the echo).
constexpr double kVoicePeak = 0.3;
constexpr const char* kVoiceText = "Can you hear me now? I think the line is much better than yesterday, but there is "
                                   "still a little delay when you talk.";
constexpr double kNearFreq = 5000;
constexpr double kNearAmplitude = 0.1;
// The last moments of a take are the stop: measured up to this much before its end.
constexpr double kStopSeconds = 0.5;
// Measured from here on (the canceller adapts in the first seconds).
constexpr double kSettledSeconds = 2;
// Goals of the issue: echo at least this much weaker; converged (every 100 ms window this much
// below the echo without cancellation) within 2 s.
constexpr double kGoalErleDb = 25;
constexpr double kWindowSeconds = 0.1;
// Double talk: the near end joins the far end this far into a take (the canceller has converged
// on the far end by then, as in a call), and is measured from half a second later.
constexpr double kNearJoinsSeconds = 3;
// Time for the players' signals and the rig to settle before a recording starts.
constexpr auto kSettle = std::chrono::milliseconds(500);

struct Take {
    DecodedAudio audio;
    double cpuPerSecond = 0;
    bool ok = false;
};

Take Record(const BenchContext& ctx, bool echo, int seconds, const ProcessWatch& watch = {})
{
    Take take;
    MeasuredProcess process({ctx.recordTool, "--source", "mic", "--format", "mp3", "--seconds",
                             std::to_string(seconds), "--echo-cancel", echo ? "on" : "off", "--output", ctx.folder});
    const ProcessCost cost = process.Run(watch);
    std::string file = cost.output;
    while (!file.empty() && file.back() == '\n')
        file.pop_back();
    file = file.substr(file.find_last_of('\n') + 1);
    take.ok = cost.exitCode == 0 && DecodeAudioFile(file, take.audio);
    if (take.ok && take.audio.Seconds() > 0)
        take.cpuPerSecond = cost.cpuSeconds / take.audio.Seconds();
    if (!ctx.keepRecordings)
        std::remove(file.c_str());
    return take;
}

// Level (dB) of everything but the near end's tone over [from, to) seconds.
double EchoDb(const DecodedAudio& a, double from, double to)
{
    const size_t b = a.IndexAt(from), e = a.IndexAt(to);
    const double all = Rms(a.left, b, e);
    const double rest = all * all - TonePower(a.left, a.sampleRate, kNearFreq, b, e);
    return 10 * std::log10(std::max(rest, 1e-20));
}
double NearDb(const DecodedAudio& a, double from)
{
    return 10 * std::log10(TonePower(a.left, a.sampleRate, kNearFreq, a.IndexAt(from), a.left.size()) + 1e-20);
}

// Seconds after from at which the echo stays (every window up to to) kGoalErleDb below offDb;
// negative when it never does.
double ConvergedAfter(const DecodedAudio& on, double offDb, double from, double to)
{
    double converged = -1;
    for (double t = from; t + kWindowSeconds <= to; t += kWindowSeconds) {
        if (EchoDb(on, t, t + kWindowSeconds) > offDb - kGoalErleDb)
            converged = -1;
        else if (converged < 0)
            converged = t - from;
    }
    return converged;
}

// Watches a take and runs action once, seconds after the watch is made (as the take starts), until
// it succeeds; done tells whether it has.
ProcessWatch OnceAfter(double seconds, bool& done, std::function<bool()> action)
{
    ProcessWatch watch;
    watch.tickMs = 50;
    const auto started = std::chrono::steady_clock::now();
    watch.onTick = [=, &done](int, const std::string&) {
        if (!done && std::chrono::steady_clock::now() - started >= std::chrono::duration<double>(seconds))
            done = action();
    };
    return watch;
}

std::string Db(double v) { return BenchTable::Format("%+.1f dB", v); }
std::string Seconds(double v) { return v < 0 ? "not converged" : BenchTable::Format("%.1f s", v); }

} // namespace

void RunEchoBench(const BenchContext& ctx)
{
    BenchTable table("Echo cancellation, microphone only, MP3: --echo-cancel on against off",
                     {"far end", "echo path", "ERLE after 2 s", "converged", "near end alone",
                      "near end in double talk", "second voice in double talk", "CPU on / off"});
    SoundPlayer far("speaker");
    SoundPlayer near("mic-feed");
    EchoRig rig;
    if (!SoundServer::Reset() || !far.Open() || !near.Open()) {
        table.AddRow({"sound server", "not available (start scripts/sound-server.sh)"});
        table.Print(ctx.report);
        return;
    }
    // The far ends: a voice when espeak-ng is there, noise in a telephone's band, white noise.
    const std::string speech = ctx.folder + "/far-speech.wav", voice = ctx.folder + "/near-voice.wav";
    const bool spoken = RunProcess({"espeak-ng", "-v", "cmn", "-w", speech, kSpeechText}).code == 0 &&
                        RunProcess({"espeak-ng", "-v", "en-us", "-w", voice, kVoiceText}).code == 0;
    struct FarEnd {
        const char* name;
        std::function<bool()> play;
    };
    std::vector<FarEnd> farEnds;
    if (spoken)
        farEnds.push_back({"speech", [&] { return far.PlayFile(speech, kSpeechPeak); }});
    else
        table.AddNote("No speech: espeak-ng is not installed (scripts/setup.sh installs it).");
    farEnds.push_back({"noise 300-3400 Hz", [&] { return far.PlayBandNoise(kBandLowHz, kBandHighHz, kFarAmplitude); }});
    farEnds.push_back({"white noise", [&] { return far.PlayNoise(kFarAmplitude); }});

    auto play = [&](const FarEnd* farEnd, bool nearOn) {
        farEnd ? farEnd->play() : far.Open();
        nearOn ? near.PlayTone(kNearFreq, kNearAmplitude) : near.Open();
        std::this_thread::sleep_for(kSettle);
    };
    auto failed = [&](const std::string& what) {
        table.AddRow({what, "recording failed"});
        table.Print(ctx.report);
    };

    // One row: the far end's echo after latency ms, on a path that holds still or drifts; the
    // far end's level without cancellation (offDb), false when a take failed.
    const auto measure = [&](const FarEnd& farEnd, int latency, bool drifting, double& offDb) {
        if (!rig.Start(latency, drifting))
            return false;
        play(&farEnd, false);
        const Take farOff = Record(ctx, false, kTakeSeconds), farOn = Record(ctx, true, kTakeSeconds);
        play(nullptr, true);
        const Take nearOff = Record(ctx, false, kTakeSeconds), nearOn = Record(ctx, true, kTakeSeconds);
        const auto talkOver = [&](bool echo) {
            play(&farEnd, false);
            bool joined = false;
            return Record(ctx, echo, kTakeSeconds, OnceAfter(kNearJoinsSeconds, joined, [&] {
                              return near.PlayTone(kNearFreq, kNearAmplitude);
                          }));
        };
        const Take bothOff = talkOver(false), bothOn = talkOver(true);
        if (!farOff.ok || !farOn.ok || !nearOff.ok || !nearOn.ok || !bothOff.ok || !bothOn.ok)
            return false;
        // A second voice joins: its level alone without cancellation against what the take
        // with both and cancellation holds beyond the far end's residue (the far-end take's).
        std::string voiceDb = "no espeak-ng";
        if (spoken) {
            const auto voiceJoins = [&](bool withFar, bool echo) {
                play(withFar ? &farEnd : nullptr, false);
                bool joined = false;
                return Record(ctx, echo, kTakeSeconds, OnceAfter(kNearJoinsSeconds, joined, [&] {
                                  return near.PlayFile(voice, kVoicePeak);
                              }));
            };
            const Take voiceOff = voiceJoins(false, false), voiceOn = voiceJoins(true, true);
            if (!voiceOff.ok || !voiceOn.ok)
                return false;
            const double from = kNearJoinsSeconds + 0.5, to = kTakeSeconds - kStopSeconds;
            const auto power = [&](const DecodedAudio& a) {
                const double rms = Rms(a.left, a.IndexAt(from), a.IndexAt(to));
                return rms * rms;
            };
            voiceDb = Db(10 * std::log10(std::max(power(voiceOn.audio) - power(farOn.audio), 1e-20) /
                                         std::max(power(voiceOff.audio), 1e-20)));
        }
        const double end = kTakeSeconds - kStopSeconds;
        offDb = EchoDb(farOff.audio, kSettledSeconds, end);
        table.AddRow({farEnd.name,
                      BenchTable::Format("%d ms, %+.0f dB%s", latency, EchoRig::kEchoDb,
                                         drifting ? ", drifting (rate control on)" : ""),
                      Db(offDb - EchoDb(farOn.audio, kSettledSeconds, end)),
                      Seconds(ConvergedAfter(farOn.audio, offDb, 0, end)),
                      Db(NearDb(nearOn.audio, kSettledSeconds) - NearDb(nearOff.audio, kSettledSeconds)),
                      Db(NearDb(bothOn.audio, kNearJoinsSeconds + 0.5) -
                         NearDb(bothOff.audio, kNearJoinsSeconds + 0.5)),
                      voiceDb,
                      BenchTable::Format("%.1f / %.1f ms/s = %.2f", farOn.cpuPerSecond * 1000,
                                         farOff.cpuPerSecond * 1000, farOn.cpuPerSecond / farOff.cpuPerSecond)});
        return true;
    };

    for (const FarEnd& farEnd : farEnds) {
        double offEchoDb40 = 0, offDb150 = 0;
        if (!measure(farEnd, 40, false, offEchoDb40) || !measure(farEnd, 150, false, offDb150))
            return failed(BenchTable::Format("%s, loopback", farEnd.name));

        // The echo path changes during the recording: 40 ms, then 150 ms from kChangeAtSeconds on.
        if (!rig.Start(40))
            return failed("path change");
        play(&farEnd, false);
        bool changed = false;
        const ProcessWatch watch = OnceAfter(kChangeAtSeconds, changed, [&] {
            rig.Start(150);
            return true;
        });
        const Take change = Record(ctx, true, kChangeTakeSeconds, watch);
        if (!change.ok || !changed)
            return failed("path change");
        table.AddRow({farEnd.name, "40 -> 150 ms at 5 s", "",
                      Seconds(ConvergedAfter(change.audio, offEchoDb40, kChangeAtSeconds,
                                             kChangeTakeSeconds - kStopSeconds)) +
                          " after the change",
                      "", "", "", ""});
    }
    // A path that drifts (the loopback's rate control on): the first far end, at 40 ms.
    double offDrifting = 0;
    if (!measure(farEnds.front(), 40, true, offDrifting))
        return failed(BenchTable::Format("%s, drifting", farEnds.front().name));
    rig.Stop();
    far.Close();
    near.Close();
    if (!ctx.keepRecordings) {
        std::remove(speech.c_str());
        std::remove(voice.c_str());
    }

    table.AddNote(BenchTable::Format(
        "Rig: EchoRig (module-loopback source=speaker.monitor sink=mic-feed latency_msec=N adjust_time=0, its "
        "sink input at %+.0f dB: both sinks share one clock, so the echo path holds still; the drifting row "
        "leaves the loopback's rate control on, which on PulseAudio walks the path by about 40-55 ppm); far end played into \"speaker\": speech (espeak-ng -v cmn, peak %.1f), white noise of peak %.1f "
        "band-passed to %.0f-%.0f Hz, or white noise of peak %.1f (the hardest case: every band at once); near end: "
        "%.0f Hz of peak %.1f played into \"mic-feed\" (heard on \"mic\").",
        EchoRig::kEchoDb, kSpeechPeak, kFarAmplitude, kBandLowHz, kBandHighHz, kFarAmplitude, kNearFreq,
        kNearAmplitude));
    table.AddNote(BenchTable::Format(
        "Each take: %s --source mic --format mp3 --seconds %d --echo-cancel on|off --output DIR (left channel, "
        "from %.0f s to 0.5 s before the end). ERLE: level of everything but the %.0f Hz tone, off minus on, far end "
        "alone (goal at least %.0f dB). Converged: from then on every %.1f s window of the far-end take lies %.0f dB "
        "below the echo without cancellation (goal within 2 s). Near end: level of the %.0f Hz tone, on minus off "
        "(goals: within 2 dB alone, within 6 dB in double talk; in double talk the near end joins the far end "
        "%.0f s into the take and is measured from 0.5 s later). Second voice: espeak-ng -v en-us of peak 0.3 joining "
        "as the tone does; its level with the far end and cancellation, less the far-end take's residue, against its "
        "level alone without cancellation. CPU: user + system time of tamsu-record per recorded "
        "second, the far-end takes (goal: ratio below 2).",
        ctx.recordTool.c_str(), kTakeSeconds, kSettledSeconds, kNearFreq, kGoalErleDb, kWindowSeconds, kGoalErleDb,
        kNearFreq, kNearJoinsSeconds));
    table.Print(ctx.report);
}
