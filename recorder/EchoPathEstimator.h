#pragma once
// EchoPathEstimator: how long the microphone hears the system sound after it was captured (the
// sink's buffer, the speakers, the air), from the two signals themselves: the level of every 5 ms
// of the microphone against the level of the reference's 5 ms blocks up to half a second earlier,
// over the last second (at the start, over what the history holds, from half a second on). The lag
// at which the two levels rise and fall together is the echo path.
// A voice or noise of the room's own that the reference does not hold only weakens the match; a
// match that is not clear gives no estimate.
//
// The canceller needs the path within its first second: the echo must lie inside its filter to
// be cancelled at all, and a path that changes (another device, another latency) must be followed
// within a second or two.
//
// Thread-safety: none; used by one EchoCanceller.

#include <cstdint>
#include <optional>
#include <vector>

class EchoPathEstimator {
public:
    // One block: 5 ms at 32000 Hz.
    static constexpr int kBlockSamples = 160;
    static constexpr int kBlockMs = 5;
    // Paths up to half a second (far beyond a desktop's speakers and buffers).
    static constexpr int kMaxLagBlocks = 100;
    // The levels of the last second are compared; from half a second on, what there is (for each
    // lag: a path of 150 ms is found as early as one of 40 ms).
    static constexpr int kWindowBlocks = 200;
    static constexpr int kMinWindowBlocks = 100;
    // A match this close (normalised correlation of the levels) is an echo: two unrelated signals
    // of a second match by about 0.07 (one over the square root of the blocks) by chance; over
    // half a second the bar is higher by the square root of two.
    static constexpr double kMinMatch = 0.35;
    // A path held is kept while its match is at least this share of the best.
    static constexpr double kHoldShare = 0.8;

    EchoPathEstimator();

    // The reference and the microphone of the same span (aligned by capture times), samples of
    // each at 32000 Hz; any count, in order.
    void Add(const int16_t* reference, const int16_t* mic, int samples);
    // The echo path in ms over the last second, when one is clear; nothing before half a second
    // of microphone (and the path) has been added or without a clear echo (no far end, headphones,
    // the near end alone). A reference given already shifted by some of the path lets the echo
    // come before it when the path shrank: paths down to -earliestMs are looked for.
    // A path held so far (heldMs, against the reference as given) is kept while it matches nearly
    // as well as the best: a voice in the room weakens every match, and a far end of even rhythm
    // (speech) then matches as well a syllable or two away.
    std::optional<int> Estimate(int earliestMs = 0, std::optional<int> heldMs = std::nullopt) const;

private:
    // Levels (energy) of the blocks so far, a window and kMaxLagBlocks of each.
    std::vector<double> reference_;
    std::vector<double> mic_;
    double referenceSum_ = 0, micSum_ = 0; // the block being filled
    int filled_ = 0;
};
