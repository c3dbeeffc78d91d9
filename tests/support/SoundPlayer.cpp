#include "SoundPlayer.h"

#include "SoundServer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Server-side buffer: short, so a signal reaches the sink soon after Play and ends soon after
// Close, yet long enough to ride out a busy machine.
constexpr const char* kLatencyMs = "50";
// Far longer than any test or benchmark plays.
constexpr const char* kSignalSeconds = "86400";
// pacat plays what sox makes (both end with pacat, killed by Process); the first line pacat prints
// on standard output is "Stream started", once the server has started the stream; the rest of its
// status lines are thrown away.
constexpr const char* kPlayScript =
    R"(exec pacat -v --raw --device="$1" --format=float32le --rate="$2" --channels="$3" --latency-msec="$4" )"
    R"(< <(exec sox -q -D "$5" -r "$2" -c "$3" -b 32 -e floating-point -t raw - "${@:6}") )"
    R"(2> >(grep -m1 -o --line-buffered "Stream started"; exec cat >/dev/null))";

} // namespace

SoundPlayer::SoundPlayer(std::string sink, int rate, int channels)
    : sink_(std::move(sink)), rate_(rate), channels_(channels) {}

bool SoundPlayer::Open() { return Play({"synth", kSignalSeconds, "sine", "0"}); }

bool SoundPlayer::PlayTone(double freq, double amplitude)
{
    return Play({"synth", kSignalSeconds, "sine", std::to_string(freq), "vol", std::to_string(amplitude)});
}

bool SoundPlayer::PlayNoise(double amplitude)
{
    return Play({"synth", kSignalSeconds, "whitenoise", "vol", std::to_string(amplitude)});
}

bool SoundPlayer::PlayBandNoise(double lowHz, double highHz, double amplitude)
{
    return Play({"synth", kSignalSeconds, "whitenoise", "vol", std::to_string(amplitude), "sinc",
                 std::to_string(lowHz) + "-" + std::to_string(highHz)});
}

bool SoundPlayer::PlayFile(const std::string& path, double amplitude)
{
    return Play({"norm", std::to_string(20 * std::log10(amplitude)), "repeat", "100000"}, path);
}

bool SoundPlayer::PlayClicks(double intervalSeconds, double amplitude)
{
    // 1 ms of amplitude, the rest of the interval silence, over and over.
    return Play({"synth", "0.001", "sine", "0", "dcshift", std::to_string(amplitude), "pad", "0",
                 std::to_string(intervalSeconds - 0.001), "repeat", "1000000"});
}

bool SoundPlayer::Play(const std::vector<std::string>& effects, const std::string& input)
{
    Close();
    // pipewire-pulse plays a stream meant for a sink that is not there into the default sink
    // instead of refusing it as PulseAudio does, so the player looks first.
    const auto sinks = SoundServer::List("sinks");
    if (!sinks || std::none_of(sinks->begin(), sinks->end(), [&](const auto& s) { return s.second == sink_; })) {
        std::fprintf(stderr, "SoundPlayer: cannot play into \"%s\": no such sink\n", sink_.c_str());
        return false;
    }
    std::vector<std::string> argv{"bash", "-c", kPlayScript, "bash", sink_, std::to_string(rate_),
                                  std::to_string(channels_), kLatencyMs, input};
    argv.insert(argv.end(), effects.begin(), effects.end());
    player_ = std::make_unique<Process>(argv);
    if (!player_->WaitForOutput("Stream started", kProcessLimit)) {
        std::fprintf(stderr, "SoundPlayer: the server did not start playing into \"%s\"\n", sink_.c_str());
        Close();
        return false;
    }
    return true;
}
