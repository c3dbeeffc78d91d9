#include "StreamTimer.h"

#include "ClickOnsets.h"

#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
// Fragments as the recorder's streams ask for them.
constexpr pa_usec_t kFragmentUsec = 50'000;
// Frames per read: the arrival of a piece is known to this much (0.36 ms).
constexpr int kReadFrames = 16;

double SteadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

void StreamTimer::SimpleDeleter::operator()(pa_simple* s) const
{
    pa_simple_free(s);
}

StreamTimer::StreamTimer(const std::string& device, int channel) : channel_(channel)
{
    pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, kChannels};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
    stream_.reset(pa_simple_new(nullptr, "TamsuBench", PA_STREAM_RECORD, device.c_str(), "timing reference", &spec,
                                nullptr, &attr, nullptr));
    if (stream_)
        thread_ = std::thread(&StreamTimer::ReadThread, this);
}

StreamTimer::~StreamTimer()
{
    Stop(1, 0);
}

void StreamTimer::ReadThread()
{
    // Reading thread: owns samples_ and earliestStart_ until Stop joins it; reads stream_ alone
    // meanwhile; stop_ is the owner's request to end.
    int16_t frames[kReadFrames * kChannels];
    int64_t count = 0;
    while (!stop_ && pa_simple_read(stream_.get(), frames, sizeof frames, nullptr) == 0) {
        count += kReadFrames;
        earliestStart_ = std::min(earliestStart_, SteadySeconds() - static_cast<double>(count) / kRate);
        for (int i = 0; i < kReadFrames; ++i)
            samples_.push_back(frames[i * kChannels + channel_] / 32768.0f);
    }
}

std::vector<double> StreamTimer::Stop(double threshold, double minGapSeconds)
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    stream_.reset();
    std::vector<double> onsets = FindClickOnsets(samples_, kRate, threshold, minGapSeconds);
    for (double& t : onsets)
        t += earliestStart_;
    return onsets;
}
