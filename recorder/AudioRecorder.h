#pragma once
// AudioRecorder: one recording, from the capture devices to the output file.
//
// The window creates one recorder per recording, calls Open, Run, Pause/Run, Stop from the UI
// thread and destroys it afterwards. Inside, a small pipeline of threads joined by two sample
// FIFOs that hold the output format (44100 Hz stereo; planar float for MP3, s16 for WAV):
//   SystemCaptureThread -> systemFifo -+
//                                       +-> EncodeThread (mix, encode, write) -> FinishThread
//   MicCaptureThread    -> micFifo ----+                                        (trailer, free)
//
// Thread-safety: the public methods are called from one thread (the owner's). The elapsed
// seconds reach the owner through RecorderOwner::PostRecorderSeconds from the encode thread.

#include "RecorderTypes.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFilterContext;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

class AudioRecorder {
public:
    explicit AudioRecorder(RecorderOwner* owner);
    // Stops the recording when it is still running and waits for every thread; the file is
    // complete when the destructor returns.
    ~AudioRecorder();
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    // Builds the pipeline and starts its threads; 0 on success, negative on any failure (then no
    // thread runs and no file is left open). After Open the state is kIdle: captured sound is
    // discarded until Run.
    int Open(const RecordParams& params);
    int Run();   // kRecording
    int Pause(); // kPaused: nothing captured reaches the file, time stands still
    // kStopped: asks every thread to end and returns at once. The trailer is written as soon as
    // the encode and capture threads have ended.
    int Stop();

    int GetState() const { return state_.load(); }
    // The source actually recorded (after the fall-back to system sound without a microphone).
    int GetSource() const { return source_; }
    // folder + "/" + fileName of the last Open.
    std::string OutputPath() const { return folder_ + "/" + fileName_; }
    // Seconds of audio written so far (encode thread's count; for display and tests).
    int64_t RecordedSeconds() const { return lastPostedSecond_.load(); }

private:
    // RAII holders of the FFmpeg objects of one recording.
    struct Pipeline;
    // Wall-clock pacing of silent frames (encode thread).
    struct Pacing;

    int OpenMicrophone();
    int OpenEncoderAndFile();
    int BuildMixGraph();
    // Starts a worker counted in activeWorkers_ (and captureWorkers_ for a capture thread).
    void StartThread(std::thread& slot, void (AudioRecorder::*body)(), bool capture);
    void WakeAll(); // wakes every waiter so it re-tests stop and run flags
    void EndThreads(); // Stop + wait for every thread (failure paths and destruction)

    void EncodeThread();
    void SystemCaptureThread();
    void MicCaptureThread();
    void FinishThread();

    // Encode thread helpers.
    bool ReadMicFrame(AVFrame* frame, bool draining);
    bool ReadSystemFrame(AVFrame* frame, Pacing& pacing, bool draining);
    void PaceSilence(Pacing& pacing);
    void WaitForCaptureThreads(); // after Stop: until both capture threads have ended
    bool EncodeAndWrite(AVFrame* frame, AVPacket* packet);
    bool DrainEncoder(AVPacket* packet);
    void FillSilence(AVFrame* frame, int offset);
    // Capture thread helpers.
    void WriteToMicFifo(uint8_t** data, int samples);

    RecorderOwner* owner_;

    // Options, read at Open.
    int noiseSuppression_ = 0;
    int gainControl_ = 0;
    int source_ = kBoth;
    int silentMode_ = 0;
    int micGainDb_ = 20;
    std::string format_;
    int32_t bitRate_ = 0;
    std::string fileName_;
    std::string folder_;
    bool micPresent_ = false;
    QString micName_;

    // Control flags, shared by every thread without a lock.
    std::atomic<int> state_{kIdle};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> systemActive_{false};
    std::atomic<bool> loopbackDrained_{false};
    std::atomic<bool> micFlushed_{false};
    // What each capture thread took in since Open, in output samples (written by that thread),
    // and the silence Run asks it to put in before its next samples after a pause.
    std::atomic<int64_t> micTaken_{0};
    std::atomic<int64_t> systemTaken_{0};
    std::atomic<int64_t> micPad_{0};
    std::atomic<int64_t> systemPad_{0};
    std::atomic<bool> systemThreadEnded_{false};
    std::atomic<bool> micThreadEnded_{false};

    // FIFOs: micFifo under micFifoLock_/micFifoSignal_, systemFifo under systemFifoLock_.
    std::mutex micFifoLock_;
    std::condition_variable micFifoSignal_;
    std::mutex systemFifoLock_;
    std::condition_variable systemFifoSignal_;

    // Stop event of the finishing thread.
    std::mutex stopLock_;
    std::condition_variable stopSignal_;
    bool stopEvent_ = false; // guarded by stopLock_
    int activeWorkers_ = 0;  // encode and capture threads still running; guarded by stopLock_
    int captureWorkers_ = 0; // capture threads still running; guarded by stopLock_

    // Output format.
    int frameSize_ = 1024;
    int outSampleRate_ = 44100;
    int outChannels_ = 2;
    int outSampleFormat_ = 0; // AVSampleFormat
    int64_t runningPts_ = 0;  // encode thread only
    std::atomic<int64_t> lastPostedSecond_{0};

    std::unique_ptr<Pipeline> pipe_;

    std::thread encodeThread_;
    std::thread systemThread_;
    std::thread micThread_;
    std::thread finishThread_;
    bool opened_ = false;
};
