#pragma once
// EchoFilter: the linear part of the echo canceller, a model of the echo path (speakers, room,
// microphone) learnt from the system sound and the microphone, whose estimate of the echo is taken
// out of the microphone before the WebRTC library sees it. The library's residual suppressor then
// has little echo left to find, and a voice that talks over the far end keeps its level (the
// suppressor, left to cancel a loud echo itself, takes 5-12 dB off such a voice).
//
// A partitioned-block frequency-domain adaptive filter: 10 ms blocks (one microphone unit),
// kPartitions of them (80 ms of echo path behind the reference as given), normalised per frequency
// by the far end's power, the error of each frequency clipped to a tenth of the far end's power
// there (a voice in the room that the far end cannot explain moves the model only a little), one
// partition's time constraint per block in turn. The canceller gives the reference already shifted
// by most of the echo path, so the echo lies in the filter's first half; when it shifts the
// reference by whole blocks more or less, Realign keeps what was learnt where both placements
// overlap. Such a filter needs one to two seconds of speech to learn an echo from nothing (each
// block moves each partition by an eighth of what it says); so when the path is found and the model
// does not hold the echo yet, it is seeded at once from the last half second heard: the one delay
// (to a fraction of a sample) and gain that explain most of the microphone, learnt on from there.
// When the echo jumps within the model (the sound server moved one stream against the other by part
// of its processing block), the output shows the old estimate inverted: the block is then taken
// down 20 dB and the model seeded from the next few blocks; when it fits again before that, it was
// a glitch of a few ms and the model stays. A model that took the echo well out learns nothing from
// the first blocks it suddenly misses (a glitch, a voice starting in the room).
//
// Thread-safety: none; used by one EchoCanceller.

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

struct AVTXContext;

class EchoFilter {
public:
    // One block: 10 ms at 32000 Hz, the microphone's unit.
    static constexpr int kBlock = 320;
    // 80 ms of echo path: the loudest part of a room's echo, the placement's uncertainty (the path
    // is found to 5 ms and kept 20-30 ms in) and, before any path is found, a short path whole.
    static constexpr int kPartitions = 8;
    // The reference's blocks kept beyond the filter: a shift of the reference by up to this many
    // blocks keeps the model.
    static constexpr int kMaxShiftBlocks = 50;

    EchoFilter();
    ~EchoFilter();
    EchoFilter(const EchoFilter&) = delete;
    EchoFilter& operator=(const EchoFilter&) = delete;

    // Sets up the transforms; false when the FFT library refused.
    bool Init();
    // Forgets the model and the reference heard so far.
    void Reset();
    // Forgets the reference heard so far and keeps the model: the reference starts anew (the
    // microphone's stream resumed), the room is the same.
    void ForgetReference();
    // A block of the reference that came before the microphone's next block, given without one
    // (the history after ForgetReference, read back).
    void Prime(const int16_t* reference);
    // The reference is given from now on shiftBlocks blocks earlier (negative: later) than so far:
    // the echo moves that much closer to the filter's start, and the model with it. Called when the
    // echo path was found (or moved); a model that did not hold the echo then is seeded anew.
    void Realign(int shiftBlocks);
    // reference: the newest block of the system sound; mic: the block the microphone captured at
    // the same moment, its echo estimate taken out in place. Both kBlock samples, 16-bit scale.
    void Process(const int16_t* reference, int16_t* mic);
    // The model takes at least 10 dB of what the microphone hears out: the echo lies in the filter.
    bool Cancelling() const;
    // The model has taken at least 30 dB out since it was last seeded or started afresh, and the
    // room has not changed under it since: it holds the echo, also while a voice in the room makes
    // the output louder again (double talk).
    bool Holding() const { return holding_; }

private:
    using Spectrum = std::vector<std::complex<float>>;
    struct TxDeleter {
        void operator()(AVTXContext* tx) const;
    };
    void Forward(const float* time, Spectrum& out);
    void Inverse(const Spectrum& in, float* time);
    const Spectrum& At(int lag) const;
    // The model as the one echo that explains most of the microphone's last blocks (at least four),
    // when it explains more than the model does (left: the share of them the model leaves):
    // converged at once on a clear echo, where learning from a second of speech took one to two
    // seconds. False when the model stays as it was.
    bool Seed(int blocks, double left);
    void ForgetMove();
    // The block out: the error, or (error null) the microphone as it came.
    void Emit(int16_t* mic, const float* error);

    std::unique_ptr<AVTXContext, TxDeleter> forward_, inverse_;
    void (*forwardFn_)(AVTXContext*, void*, void*, ptrdiff_t) = nullptr;
    void (*inverseFn_)(AVTXContext*, void*, void*, ptrdiff_t) = nullptr;
    std::vector<Spectrum> history_;           // spectra of the reference's blocks, newest at newest_
    std::vector<std::vector<float>> blocks_;  // the same blocks as samples (each transform spans two)
    int newest_ = 0;
    int known_ = 0; // blocks back from newest_ that hold the reference as now aligned (or silence)
    std::vector<std::vector<float>> heard_; // the microphone's blocks as heard, newest at heardNewest_
    int heardNewest_ = 0, heardCount_ = 0;
    std::vector<Spectrum> weights_; // one per partition
    std::vector<float> farPower_;   // smoothed power of the reference
    int constrained_ = 0;           // the partition constrained next
    double micLevel_ = 0, errorLevel_ = 0; // smoothed mean squares of the block in and out
    double estimateLevel_ = 0, alikeLevel_ = 0; // of the echo estimate, and its product with the output
    bool holding_ = false;
    // Blocks in a row that look as if the echo moved within the model, and blocks since it did.
    int suspects_ = 0, movedBlocks_ = 0;
    bool heldBeforeMove_ = false;
    float gain_ = 1.0f; // of the last block out
    int misfitRun_ = 0;              // blocks in a row the model did not fit
    bool fittedBeforeMisfit_ = false; // it cancelled before them
    // Scratch.
    std::vector<float> time_, work_;
    Spectrum spectrum_, sum_;
};
