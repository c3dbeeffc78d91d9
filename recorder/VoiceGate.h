#pragma once
// VoiceGate: voice activation ("有声音时录音"). Decides, frame by frame, which of the recording's
// frames reach the file, from their level (after voice processing):
//   - closed (waiting): the file gets nothing. Once the level stays at or above the threshold for
//     the attack time (dips shorter than the bridge, as between syllables, do not break it), the
//     gate opens, and the frames from the pre-roll before that moment on go
//     to the file, so the first syllable is kept whole;
//   - open: every frame goes to the file, also the first tail of a quiet stretch; the rest of a
//     quiet stretch is held back until it is over: when the sound comes back sooner, the whole
//     stretch goes to the file; after the silence time the gate closes and the held rest is
//     dropped, leaving tail seconds of quiet after the last sound. So does the end of the recording.
// The gate only counts samples: it queues the frames' lengths, and the caller keeps the frames in
// the same order and drops or writes its oldest ones as each Verdict says.
//
// Thread-safety: none; one thread (the encode thread, or a test) at a time.

#include <cstdint>
#include <deque>

class VoiceGate {
public:
    struct Settings {
        double thresholdDb = -40; // level (RMS, dBFS) that counts as sound
        double attackSeconds = 0.2;  // how long the sound must last to open the gate
        double preRollSeconds = 0.5; // kept from before the sound
        double silenceSeconds = 3;   // a quiet stretch this long closes the gate
        double tailSeconds = 0.5;    // kept of a quiet stretch that closed the gate
        double bridgeSeconds = 0.08; // a dip this short does not end a sound: syllables of one word
                                     // lie closer, words and separate clicks farther apart
    };

    // What to do with the oldest queued frames, in this order: drop `drop` of them, then write
    // `write` of them.
    struct Verdict {
        int drop = 0;
        int write = 0;
    };

    VoiceGate(const Settings& settings, int sampleRate);

    // A frame of count samples at levelDb joins the queue.
    Verdict Push(int count, double levelDb);
    // The recording ends: the queued frames are dropped (a quiet end beyond the tail, or what
    // waited for a sound).
    Verdict Finish();

    bool IsOpen() const { return open_; }
    int Queued() const { return static_cast<int>(queue_.size()); }

    // The level of digital silence (and of nothing measured), dBFS.
    static constexpr double kSilenceDb = -200;

    // RMS level in dBFS of count interleaved or planar samples (planes: 1 interleaved, else the
    // channel count) in format (an AVSampleFormat: float or signed 16-bit); -200 for silence.
    static double LevelDb(const uint8_t* const* data, int planes, int64_t valuesPerPlane, int format);

private:
    // Drops queued frames from the front while at least keep samples remain behind them.
    int DropKeeping(int64_t keep);

    const int64_t attack_;
    const int64_t preRoll_;
    const int64_t silence_;
    const int64_t tail_;
    const int64_t bridge_;
    const double threshold_;
    bool open_ = false;
    std::deque<int> queue_; // sample counts of the queued frames, oldest first
    int64_t queued_ = 0;    // their sum
    int64_t loud_ = 0;      // closed: samples of the sound near the end of the queue, dips bridged
    int64_t dip_ = 0;       // closed: samples of the quiet after it (not longer than the bridge)
    int64_t quiet_ = 0;     // open: samples of the current quiet stretch
};
