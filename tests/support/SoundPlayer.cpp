#include "SoundPlayer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Written per call: small, so Stop takes effect promptly.
constexpr double kChunkSeconds = 0.01;
// Server-side buffer: short, so sound reaches the sink soon after Play and ends soon after Stop.
constexpr double kTargetLatencySeconds = 0.03;
// Length of one click.
constexpr double kClickSeconds = 0.001;
// Fixed seed: every run plays the same noise.
constexpr unsigned kNoiseSeed = 12345;

} // namespace

void SoundPlayer::SimpleDeleter::operator()(pa_simple* s) const { pa_simple_free(s); }

SoundPlayer::SoundPlayer(std::string sink, int rate, int channels)
    : sink_(std::move(sink)), rate_(rate), channels_(channels)
{
}

SoundPlayer::~SoundPlayer() { Stop(); }

bool SoundPlayer::PlayTone(double freq, double amplitude)
{
    double step = 2.0 * kPi * freq / rate_;
    return Play([step, amplitude](int64_t n) {
        return static_cast<float>(amplitude * std::sin(step * static_cast<double>(n)));
    });
}

bool SoundPlayer::PlayNoise(double amplitude)
{
    return Play([engine = std::mt19937(kNoiseSeed), dist = std::uniform_real_distribution<float>(
                     static_cast<float>(-amplitude), static_cast<float>(amplitude))](int64_t) mutable {
        return dist(engine);
    });
}

bool SoundPlayer::PlayClicks(double intervalSeconds, double amplitude)
{
    auto interval = std::max<int64_t>(1, static_cast<int64_t>(std::llround(intervalSeconds * rate_)));
    auto length = std::max<int64_t>(1, static_cast<int64_t>(kClickSeconds * rate_));
    return Play([interval, length, amplitude](int64_t n) {
        return n % interval < length ? static_cast<float>(amplitude) : 0.0f;
    });
}

bool SoundPlayer::Play(Generator generator)
{
    Stop();
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = static_cast<uint32_t>(rate_);
    spec.channels = static_cast<uint8_t>(channels_);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(kTargetLatencySeconds * rate_) * static_cast<uint32_t>(pa_frame_size(&spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    std::unique_ptr<pa_simple, SimpleDeleter> stream(pa_simple_new(nullptr, "TamsuTests", PA_STREAM_PLAYBACK,
        sink_.c_str(), "test signal", &spec, nullptr, &attr, &error));
    if (!stream) {
        std::fprintf(stderr, "SoundPlayer: cannot play into \"%s\": %s\n", sink_.c_str(), pa_strerror(error));
        return false;
    }
    stop_ = false;
    thread_ = std::thread(&SoundPlayer::PlayThread, this, std::move(stream), std::move(generator));
    return true;
}

void SoundPlayer::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void SoundPlayer::PlayThread(std::unique_ptr<pa_simple, SimpleDeleter> stream, Generator generator)
{
    // Playing thread of one Play call: owns the stream and the generator; shares only stop_ (atomic)
    // with the test's thread, which joins it.
    size_t frames = static_cast<size_t>(kChunkSeconds * rate_);
    std::vector<float> chunk(frames * static_cast<size_t>(channels_));
    int64_t n = 0;
    while (!stop_) {
        for (size_t f = 0; f < frames; ++f, ++n) {
            float v = generator(n);
            for (int c = 0; c < channels_; ++c)
                chunk[f * static_cast<size_t>(channels_) + static_cast<size_t>(c)] = v;
        }
        int error = 0;
        // Blocks while the server's buffer is full: the server sets the pace.
        if (pa_simple_write(stream.get(), chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
            std::fprintf(stderr, "SoundPlayer: playing into \"%s\" failed: %s\n", sink_.c_str(), pa_strerror(error));
            return;
        }
    }
}
