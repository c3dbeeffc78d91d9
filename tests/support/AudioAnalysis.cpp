#include "AudioAnalysis.h"

#include "Process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Floor of RmsDb for digital silence.
constexpr double kSilenceDb = -200.0;
constexpr double kPi = 3.14159265358979323846;

size_t ClampEnd(const std::vector<float>& s, size_t end) { return std::min(end, s.size()); }

// Mean power of the component at freq in s[begin, end) (Goertzel filter over a Hann window,
// normalised for the window): a sine of amplitude A at freq gives A^2 / 2, so a full-scale sine
// gives 0.5 and the value compares directly with Rms()^2.
double GoertzelPower(const std::vector<float>& s, int rate, double freq, size_t begin, size_t end)
{
    end = ClampEnd(s, end);
    if (begin >= end || rate <= 0)
        return 0.0;
    const size_t n = end - begin;
    const double w = 2.0 * kPi * freq / rate, coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double hann = n > 1 ? 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n - 1)) : 1.0;
        windowSum += hann;
        const double s0 = hann * s[begin + i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    // |X(freq)|^2 of the windowed block; a sine of amplitude A gives |X| = A * windowSum / 2, and
    // its power is A^2 / 2.
    const double re = s1 - s2 * std::cos(w), im = s2 * std::sin(w);
    return 2.0 * (re * re + im * im) / (windowSum * windowSum);
}

} // namespace

bool DecodeAudioFile(const std::string& path, DecodedAudio& out, std::string* error)
{
    out = DecodedAudio();
    // The first audio stream's rate and channels, then its samples as interleaved 32-bit floats.
    const Process::Result probe = RunProcess({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
        "stream=sample_rate,channels", "-of", "csv=p=0", path});
    if (std::sscanf(probe.out.c_str(), "%d,%d", &out.sampleRate, &out.channels) != 2 || out.channels < 1) {
        if (error)
            *error = "no audio stream in " + path + ": " + probe.err;
        return false;
    }
    Process::Result pcm = RunProcess({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "f32le", "-"});
    if (!pcm.exited || pcm.code != 0) {
        if (error)
            *error = "decoding " + path + " failed: " + pcm.err;
        return false;
    }
    const size_t frames = pcm.out.size() / sizeof(float) / static_cast<size_t>(out.channels);
    const size_t right = out.channels > 1 ? 1 : 0;
    out.left.resize(frames);
    out.right.resize(frames);
    for (size_t f = 0; f < frames; ++f) {
        const char* frame = pcm.out.data() + f * static_cast<size_t>(out.channels) * sizeof(float);
        std::memcpy(&out.left[f], frame, sizeof(float));
        std::memcpy(&out.right[f], frame + right * sizeof(float), sizeof(float));
    }
    return true;
}

double Rms(const std::vector<float>& s, size_t begin, size_t end)
{
    end = ClampEnd(s, end);
    if (begin >= end)
        return 0.0;
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(end - begin));
}

double RmsDb(const std::vector<float>& s, size_t begin, size_t end)
{
    return std::max(kSilenceDb, 20.0 * std::log10(Rms(s, begin, end))); // (log10(0) is -inf)
}

double TonePower(const std::vector<float>& s, int rate, double freq, size_t begin, size_t end)
{
    end = ClampEnd(s, end);
    if (begin >= end)
        return 0.0;
    // The pieces of TonePower; a remainder shorter than half a piece joins the piece before it.
    const size_t piece = std::max<size_t>(1, static_cast<size_t>(rate / 10));
    double sum = 0;
    for (size_t b = begin; b < end;) {
        size_t e = end - b < piece + piece / 2 ? end : b + piece;
        sum += GoertzelPower(s, rate, freq, b, e) * static_cast<double>(e - b);
        b = e;
    }
    return sum / static_cast<double>(end - begin);
}

double PowerShare(const std::vector<float>& s, int rate, double freq, size_t begin, size_t end)
{
    const double rms = Rms(s, begin, end);
    return rms > 0 ? TonePower(s, rate, freq, begin, end) / (rms * rms) : 0.0;
}
