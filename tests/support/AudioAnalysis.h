#pragma once
// Decoding of recorded files and simple measurements on their samples, for the sound tests.
// Stateless; safe from any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A whole file decoded to float samples (-1..1), one vector per channel.
struct DecodedAudio {
    int sampleRate = 0;
    int channels = 0;         // channels of the file; a mono file has right == left
    std::vector<float> left;
    std::vector<float> right;

    double Seconds() const { return sampleRate > 0 ? static_cast<double>(left.size()) / sampleRate : 0.0; }
    size_t IndexAt(double seconds) const { return seconds <= 0 ? 0 : static_cast<size_t>(seconds * sampleRate); }
};

// Decodes the first audio stream of any file FFmpeg reads. False (with a reason in *error) when the
// file cannot be opened or decoded.
bool DecodeAudioFile(const std::string& path, DecodedAudio& out, std::string* error = nullptr);

// Root mean square of s[begin, end) (end is clamped to the size; an empty range gives 0).
double Rms(const std::vector<float>& s, size_t begin = 0, size_t end = SIZE_MAX);
// The same in dBFS (a full-scale square wave is 0 dB, a full-scale sine -3 dB); -200 for silence.
double RmsDb(const std::vector<float>& s, size_t begin = 0, size_t end = SIZE_MAX);

// Mean power of a tone near freq in s[begin, end): the power at freq (Goertzel filter over a Hann
// window, a sine of amplitude A giving A^2 / 2) of 0.1 s pieces, averaged. A piece
// hears about +-10 Hz around freq, so a tone that is played back slightly faster or slower (a
// recorder following a device's clock stretches sound by a few tenths of a percent), or whose phase
// jumps, still counts in full; tones 50 Hz and more apart stay apart.
double TonePower(const std::vector<float>& s, int rate, double freq, size_t begin = 0, size_t end = SIZE_MAX);
// Share (0..1) of the power of s[begin, end) that lies near freq: TonePower over the mean square;
// 0 for silence.
double PowerShare(const std::vector<float>& s, int rate, double freq, size_t begin = 0, size_t end = SIZE_MAX);
