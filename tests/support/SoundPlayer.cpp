#include "SoundPlayer.h"

#include "SoundServer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Written per call: small, so a new signal starts promptly.
constexpr double kChunkSeconds = 0.01;
// Server-side buffer: short, so a signal reaches the sink soon after Play and ends soon after
// Close, yet long enough to ride out a busy machine.
constexpr double kTargetLatencySeconds = 0.05;
// Silence written by Open beyond the buffer: once it is taken, the server is playing our stream.
constexpr int kPrimeChunks = 3;
// Length of one click.
constexpr double kClickSeconds = 0.001;
// Fixed seed: every run plays the same noise.
constexpr unsigned kNoiseSeed = 12345;

// The server lists a sink of this name. pipewire-pulse plays a stream meant for a sink that is not
// there into the default sink instead of refusing it as PulseAudio does, so the player looks first.
bool SinkListed(const std::string& name)
{
    std::string list;
    if (SoundServer::Pactl({"list", "short", "sinks"}, &list) != 0)
        return false;
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string index, sink;
        if ((fields >> index >> sink) && sink == name)
            return true;
    }
    return false;
}

} // namespace

void SoundPlayer::SimpleDeleter::operator()(pa_simple* s) const { pa_simple_free(s); }

SoundPlayer::SoundPlayer(std::string sink, int rate, int channels)
    : sink_(std::move(sink)), rate_(rate), channels_(channels)
{
}

SoundPlayer::~SoundPlayer() { Close(); }

bool SoundPlayer::Open()
{
    if (alive_)
        return true;
    Close(); // a stream the server ended (its sink went away) leaves a finished thread
    if (!SinkListed(sink_)) {
        std::fprintf(stderr, "SoundPlayer: cannot play into \"%s\": no such sink\n", sink_.c_str());
        return false;
    }

    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = static_cast<uint32_t>(rate_);
    spec.channels = static_cast<uint8_t>(channels_);
    size_t chunkBytes = static_cast<size_t>(kChunkSeconds * rate_) * pa_frame_size(&spec);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(kTargetLatencySeconds * 1e6), &spec));
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
    // Fill the buffer and then some: the writes past the buffer return only as the server takes data.
    std::vector<char> silence(chunkBytes, 0);
    size_t primeChunks = attr.tlength / chunkBytes + 1 + kPrimeChunks;
    for (size_t i = 0; i < primeChunks; ++i) {
        if (pa_simple_write(stream.get(), silence.data(), silence.size(), &error) < 0) {
            std::fprintf(stderr, "SoundPlayer: playing into \"%s\" failed: %s\n", sink_.c_str(), pa_strerror(error));
            return false;
        }
    }
    close_ = false;
    alive_ = true;
    thread_ = std::thread(&SoundPlayer::PlayThread, this, std::move(stream));
    return true;
}

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
    if (!Open())
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    generator_ = std::move(generator);
    position_ = 0;
    return true;
}

void SoundPlayer::Close()
{
    close_ = true;
    if (thread_.joinable())
        thread_.join();
    alive_ = false;
    std::lock_guard<std::mutex> lock(mutex_);
    generator_ = nullptr;
}

void SoundPlayer::PlayThread(std::unique_ptr<pa_simple, SimpleDeleter> stream)
{
    // Playing thread of one open stream: owns the stream; takes the generator and its position
    // under mutex_ for each chunk; close_ (atomic) tells it to end, alive_ (atomic) says it ended.
    // The test's thread joins it.
    size_t frames = static_cast<size_t>(kChunkSeconds * rate_);
    std::vector<float> chunk(frames * static_cast<size_t>(channels_));
    while (!close_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (size_t f = 0; f < frames; ++f) {
                float v = generator_ ? generator_(position_++) : 0.0f;
                std::fill_n(chunk.begin() + static_cast<ptrdiff_t>(f * static_cast<size_t>(channels_)), channels_, v);
            }
        }
        int error = 0;
        // Blocks while the server's buffer is full: the server sets the pace.
        if (pa_simple_write(stream.get(), chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
            std::fprintf(stderr, "SoundPlayer: playing into \"%s\" failed: %s\n", sink_.c_str(), pa_strerror(error));
            break;
        }
    }
    alive_ = false;
}
