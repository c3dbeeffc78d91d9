#pragma once
// SoundPlayer: plays a signal into one sink of the private sound server (the one PULSE_SERVER
// names) until Close, another signal or destruction: sox makes it, pacat plays it.
//
// An idle null sink renders up to 2 s ahead, and a stream that joins it is heard only after that
// stretch (a recorder on its monitor gets no data meanwhile). So a Play call returns only once the
// server has started the stream (pacat's "Stream started"): from then on the signal reaches the
// sink and its monitor in real time. Start the player before a recorder on the sink's monitor, and
// that recorder gets the signal at once too.
//
// Used from one thread.

#include "Process.h"

#include <memory>
#include <string>
#include <vector>

class SoundPlayer {
public:
    explicit SoundPlayer(std::string sink, int rate = 44100, int channels = 2);

    // Each replaces what is playing; the signal starts at once (phase 0, first click). False when
    // the sink is not there or the server does not start the stream.
    bool Open();                                  // silence
    bool PlayTone(double freq, double amplitude); // sine of peak amplitude 0..1 on every channel
    bool PlayNoise(double amplitude);             // white noise, uniform in [-amplitude, amplitude]
    // White noise of that peak band-passed to [lowHz, highHz] (a telephone's band: 300-3400).
    bool PlayBandNoise(double lowHz, double highHz, double amplitude);
    // A sound file over and over, its peak at amplitude.
    bool PlayFile(const std::string& path, double amplitude);
    // A 1 ms pulse of amplitude every intervalSeconds.
    bool PlayClicks(double intervalSeconds, double amplitude);

    // Ends the stream.
    void Close() { player_.reset(); }

private:
    // Plays what sox makes with these effects from input (its null input: -n).
    bool Play(const std::vector<std::string>& effects, const std::string& input = "-n");

    const std::string sink_;
    const int rate_;
    const int channels_;
    std::unique_ptr<Process> player_;
};
