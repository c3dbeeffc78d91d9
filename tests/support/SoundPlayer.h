#pragma once
// SoundPlayer: plays a synthetic signal into one sink of the private sound server (the one
// PULSE_SERVER names), for as long as the test wants, on a background thread.
//
//   SoundPlayer speaker("speaker");
//   ASSERT_TRUE(speaker.PlayTone(440, 0.5));
//   ... record ...
//   speaker.Close();
//
// Why the stream stays open between signals: an idle null sink renders up to 2 s ahead, and a
// stream that joins it then is heard only after that stretch (and a recorder on its monitor gets
// no data meanwhile). So the player keeps one low-latency stream open from Open (or the first
// Play) to Close or destruction, playing silence between signals. Open returns only once the
// server takes the stream's data in real time; from then on a signal reaches the sink and its
// monitor within a few tens of milliseconds. Create and Open the player before opening a recorder
// on the sink's monitor, and that recorder gets data at once too.
//
// The public methods are called from one thread (the test's).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct pa_simple;

class SoundPlayer {
public:
    explicit SoundPlayer(std::string sink, int rate = 44100, int channels = 2);
    ~SoundPlayer(); // Close()
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Connects the stream (silence) and waits until the server plays it in real time (up to about
    // 2 s, once). True at once when already open; false when the server or the sink is not there.
    bool Open();

    // Each opens the stream when needed and replaces what is playing; the signal starts at once
    // (phase 0, first click) and goes on until Close. False when the stream cannot be opened.
    bool PlayTone(double freq, double amplitude); // sine of peak amplitude 0..1 on every channel
    bool PlayNoise(double amplitude);             // white noise, uniform in [-amplitude, amplitude]
    // A 1 ms pulse of amplitude every intervalSeconds.
    bool PlayClicks(double intervalSeconds, double amplitude);

    // Ends the stream and waits for the playing thread.
    void Close();

private:
    // Sample value for every channel at frame n since the signal started.
    using Generator = std::function<float(int64_t)>;
    struct SimpleDeleter { void operator()(pa_simple* s) const; };

    bool Play(Generator generator);
    void PlayThread(std::unique_ptr<pa_simple, SimpleDeleter> stream);

    const std::string sink_;
    const int rate_;
    const int channels_;

    mutable std::mutex mutex_;
    Generator generator_; // guarded by mutex_; empty = silence
    int64_t position_ = 0; // guarded by mutex_; frames since the signal started

    std::atomic<bool> close_{false}; // test thread -> playing thread
    std::atomic<bool> alive_{false}; // playing thread -> test thread: the stream still plays
    std::thread thread_;
};
