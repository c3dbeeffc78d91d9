#pragma once
// EchoFilter: the linear part of the echo canceller, a model of the echo path (speakers, room,
// microphone) learnt from the system sound and the microphone, whose estimate of the echo is taken
// out of the microphone before the WebRTC library sees it. The library's residual suppressor then
// has little echo left to find, and a voice that talks over the far end keeps its level (the
// suppressor, left to cancel a loud echo itself, took 8-25 dB off such a voice).
//
// A partitioned-block frequency-domain adaptive filter: 10 ms blocks (one microphone unit),
// kPartitions of them (80 ms of echo path), normalised per frequency by the far end's power, the
// error of each frequency clipped to the far end's level there (a voice in the room that the far
// end cannot explain moves the model only a little), one partition's time constraint per block in
// turn. The filter covers the lags [Delay(), Delay() + kPartitions) blocks behind the reference:
// the canceller places it around the measured echo path (SetDelay keeps what was learnt for the
// lags both placements cover).
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
    // 80 ms of echo path: the loudest part of a room's echo and the placement's uncertainty (the
    // path is found to 5 ms and kept 20 ms in). Twice as many learnt half as fast.
    static constexpr int kPartitions = 8;
    // Lags up to half a second (the longest echo path followed) plus the filter.
    static constexpr int kMaxDelayBlocks = 50;

    EchoFilter();
    ~EchoFilter();
    EchoFilter(const EchoFilter&) = delete;
    EchoFilter& operator=(const EchoFilter&) = delete;

    // Sets up the transforms; false when the FFT library refused.
    bool Init();
    // Forgets the model and the reference heard so far.
    void Reset();
    // The filter now starts delayBlocks behind the reference (0..kMaxDelayBlocks).
    void SetDelay(int delayBlocks);
    int Delay() const { return delay_; }
    // reference: the newest block of the system sound; mic: the block the microphone captured at
    // the same moment, its echo estimate taken out in place. Both kBlock samples, 16-bit scale.
    void Process(const int16_t* reference, int16_t* mic);
    // Where the learnt echo is strongest, in samples (to a fraction of one) behind the filter's
    // start; negative when nothing stands out (nothing learnt yet).
    double PeakLag();

private:
    using Spectrum = std::vector<std::complex<float>>;
    struct TxDeleter {
        void operator()(AVTXContext* tx) const;
    };
    void Forward(const float* time, Spectrum& out);
    void Inverse(const Spectrum& in, float* time);

    std::unique_ptr<AVTXContext, TxDeleter> forward_, inverse_;
    void (*forwardFn_)(AVTXContext*, void*, void*, ptrdiff_t) = nullptr;
    void (*inverseFn_)(AVTXContext*, void*, void*, ptrdiff_t) = nullptr;
    std::vector<Spectrum> history_; // spectra of the reference's blocks, newest at newest_
    int newest_ = 0;
    std::vector<Spectrum> weights_; // one per partition
    std::vector<float> farPower_;   // smoothed power of the reference at the filter's start
    std::vector<float> lastBlock_;  // the reference's previous block (each transform spans two)
    int delay_ = 0;
    int constrained_ = 0; // the partition constrained next
    double micLevel_ = 0, errorLevel_ = 0; // smoothed mean squares of the block in and out
    // Scratch.
    std::vector<float> time_, work_;
    Spectrum spectrum_, sum_;
};
