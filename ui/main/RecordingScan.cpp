#include "RecordingScan.h"

#include "MediaProbe.h"
#include "RecordingFiles.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <vector>

#include <glog/logging.h>

namespace {

// The list's order: a before b when a is newer; files of the same time by name, the later first.
bool NewerFirst(const QDateTime& aTime, const QString& aName, const QDateTime& bTime, const QString& bName)
{
    if (aTime != bTime)
        return aTime > bTime;
    return aName > bName; // same second: the recordings' names carry their start time
}

} // namespace

RecordingScan::~RecordingScan()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool RecordingScan::Start(const QString& folder, ReadyFunction ready)
{
    if (thread_.joinable())
        return false;
    folder_ = folder;
    ready_ = std::move(ready);
    thread_ = std::thread(&RecordingScan::ScanRecordings, this);
    return true;
}

void RecordingScan::ScanRecordings()
{
    // Scan thread: owns the folder listing and each file's probe; shares pending_, readyTold_ and
    // listed_ with the UI thread under lock_; reads stop_ between files and folder_ (fixed).
    const QString& folder = folder_;
    // The names and times first (cheap), so that the probes and the list go newest first.
    struct Found {
        QString name;
        QDateTime modified;
    };
    std::vector<Found> found;
    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (!stop_ && entries.hasNext()) {
        entries.next();
        if (IsRecordingName(entries.fileName()))
            found.push_back({entries.fileName(), entries.fileInfo().lastModified()});
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return NewerFirst(a.modified, a.name, b.modified, b.name); });
    int kept = 0;
    for (const Found& recording : found) {
        if (stop_)
            break;
        const QString path = folder + QLatin1Char('/') + recording.name;
        Push(ScannedRecording{recording.name, RecordingFileSize(path), ProbeMediaDuration(path)});
        ++kept;
    }
    LOG(INFO) << "mainwnd: scanned \"" << folder.toStdString() << "\": " << kept << " recordings"
              << (stop_ ? " (stopped)" : "");
    {
        std::lock_guard<std::mutex> guard(lock_);
        listed_ = true;
    }
    Notify();
}


void RecordingScan::Push(ScannedRecording recording)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_.push_back(std::move(recording));
    }
    Notify();
}

void RecordingScan::Notify()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (readyTold_)
            return;
        readyTold_ = true;
    }
    if (ready_)
        ready_();
}

bool RecordingScan::Take(std::size_t max, std::vector<ScannedRecording>& out)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (; max > 0 && !pending_.empty(); --max) {
        out.push_back(std::move(pending_.front()));
        pending_.pop_front();
    }
    if (!pending_.empty())
        return true;
    readyTold_ = false;
    return false;
}

bool RecordingScan::Done() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return listed_ && pending_.empty();
}
