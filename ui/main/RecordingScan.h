#pragma once
// RecordingScan: one scan of the output folder for the recordings list. A thread of its own lists
// the folder, keeps the recordings (IsRecordingName), orders them newest first by the files' time
// (of one time, the later name first) and reads each one's size and duration in that order; the list takes the results on the UI
// thread, a few at a time, so the window stays responsive while a large folder fills in.
//
//   scan.Start(folder, [this] { post "results ready" to the UI thread });
//   ... on the UI thread, when told:  bool more = scan.Take(20, batch);
//
// The thread only reads the folder and the files: it touches no widget and no entry of the list.
//
// Thread-safety: Start, Take and the destructor are called from one thread (the UI thread); ready
// is called on the scan thread.

#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// What the scan learnt about one recording.
struct ScannedRecording {
    QString fileName;
    int64_t size = 0;       // RecordingFileSize
    double duration = -1;   // ProbeMediaDuration
};

class RecordingScan {
public:
    // Told on the scan thread when results wait and the last Take found none: hand a call of Take
    // to the UI thread. Not told again until a Take has emptied the queue.
    using ReadyFunction = std::function<void()>;

    RecordingScan() = default;
    // Stops the scan after the file it is reading and waits for its thread.
    ~RecordingScan();
    RecordingScan(const RecordingScan&) = delete;
    RecordingScan& operator=(const RecordingScan&) = delete;

    // Scans folder once; a second Start is ignored (false).
    bool Start(const QString& folder, ReadyFunction ready);
    // Moves up to max waiting results, newest first, to the end of out. True while more results
    // wait (take them later, after the event loop had a turn); false once the queue is empty (ready
    // is told when new ones arrive).
    bool Take(std::size_t max, std::vector<ScannedRecording>& out);
    // The thread has listed the whole folder (or was stopped) and nothing waits any more.
    bool Done() const;
    // The folder of Start.
    const QString& Folder() const { return folder_; }

private:
    void ScanRecordings(); // the scan thread's body
    void Push(ScannedRecording recording);
    void Notify(); // tells ready unless a call is already on its way

    QString folder_;       // set by Start, read-only afterwards
    ReadyFunction ready_;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::deque<ScannedRecording> pending_; // under lock_
    bool readyTold_ = false;               // under lock_: ready called, no Take has emptied the queue since
    bool listed_ = false;                  // under lock_: the thread has finished
    std::thread thread_;
};
