#pragma once
// SoundPlayer: plays a synthetic signal into one sink of the private sound server (the one
// PULSE_SERVER names), for as long as the test wants, on a background thread.
//
//   SoundPlayer speaker("speaker");
//   ASSERT_TRUE(speaker.PlayTone(440, 0.5));
//   ... record ...
//   speaker.Stop();
//
// The Play and Stop methods are called from one thread (the test's); a new Play replaces what is
// playing. The destructor stops.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

struct pa_simple;

class SoundPlayer {
public:
    explicit SoundPlayer(std::string sink, int rate = 44100, int channels = 2);
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Each returns once the stream is connected (sound reaches the sink from then on), false when
    // the server or the sink is not there. The signal goes on until Stop.
    bool PlayTone(double freq, double amplitude);  // sine of peak amplitude 0..1 on every channel
    bool PlayNoise(double amplitude);              // white noise, uniform in [-amplitude, amplitude]
    // A 1 ms pulse of amplitude every intervalSeconds, the first one at once.
    bool PlayClicks(double intervalSeconds, double amplitude);
    // Ends the signal and waits for the playing thread; harmless when nothing plays.
    void Stop();

    bool Playing() const { return thread_.joinable(); }

private:
    // Fills one frame's worth of samples: (frame number since start) -> value for every channel.
    using Generator = std::function<float(int64_t)>;
    struct SimpleDeleter { void operator()(pa_simple* s) const; };

    bool Play(Generator generator);
    void PlayThread(std::unique_ptr<pa_simple, SimpleDeleter> stream, Generator generator);

    std::string sink_;
    int rate_;
    int channels_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
