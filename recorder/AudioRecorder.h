#pragma once
// AudioRecorder: one recording, from the capture devices to the output file.
//
// The window creates one recorder per recording, calls Open, Run, Pause/Run, Stop from the UI
// thread and destroys it afterwards. Inside:
//
//   stream (system sound) -> CaptureSource -> SampleFifo -+
//                                                          +-> TakeTimeline -> RecordingWriter
//   stream (microphone)   -> CaptureSource -> SampleFifo -+    (encode thread: mix, encode, file)
//
// The streams deliver on the sound server's main loop thread; every sample carries the moment it
// was captured, and the encode thread makes the file from the moments between Run and Stop (less
// the pauses), by the clock: a source that stalls, vanishes or comes back late costs neither the
// recording nor the other source. A write failure (disk full, file removed) ends the recording
// with the file finalised and is reported to the owner. While recording, a journal entry names
// the file, and the file reaches the disk about once a second, so a crash loses at most a second.
//
// Thread-safety: the public methods are called from one thread (the owner's). The owner hears
// from the encode thread (seconds, levels, errors; see RecorderOwner).

#include "RecorderTypes.h"
#include "RecordingPlan.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CaptureBackend;
class SampleFifo;

class AudioRecorder {
public:
    // backend: where sound and time come from; null = the sound server and the monotonic clock.
    explicit AudioRecorder(RecorderOwner* owner, CaptureBackend* backend = nullptr);
    // Stops the recording when it is still running and waits for it; the file is complete when the
    // destructor returns.
    ~AudioRecorder();
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    // Builds the pipeline of the plan and starts recording into the void: 0 on success, negative
    // on any failure (then no thread runs and no file is left). After Open the state is kIdle:
    // captured sound is discarded until Run.
    int Open(const RecordingPlan& plan);
    int Run();   // kRecording from this moment on
    int Pause(); // kPaused: nothing captured from this moment reaches the file, time stands still
    // kStopped: the file ends at this moment; returns at once. The file is complete as soon as the
    // sources have delivered what they captured up to now (or were given up on).
    int Stop();

    int GetState() const { return state_.load(); }
    // The source recorded.
    int GetSource() const { return plan_.source; }
    // The file of the last Open.
    std::string OutputPath() const { return plan_.OutputPath(); }
    // The encode thread has ended and the file is complete (after Stop or a write failure).
    bool Finished() const { return finished_.load(); }

private:
    struct Pipeline;

    void EncodeThread();
    int64_t NowPos() const; // the backend's clock as a timeline position
    void Wake();
    void WakeFor(const SampleFifo& fifo); // a FIFO got samples

    RecorderOwner* owner_;
    CaptureBackend* backend_;
    RecordingPlan plan_;

    std::atomic<int> state_{kIdle};
    std::atomic<bool> finished_{false};
    int64_t epochNs_ = 0;

    // Wakes the encode thread: new samples, Run/Pause/Stop.
    // A source's new samples wake the encode thread only once they reach the end of the next
    // frame (written by the encode thread).
    std::atomic<int64_t> neededPos_{INT64_MIN};
    std::mutex wakeLock_;
    std::condition_variable wakeSignal_;
    uint64_t wakeCount_ = 0; // guarded by wakeLock_

    std::unique_ptr<Pipeline> pipe_;
    std::mutex streamsLock_; // the streams' end (encode thread) against Stop's Hurry (owner's thread)
    std::thread encodeThread_;
    bool opened_ = false;
};
