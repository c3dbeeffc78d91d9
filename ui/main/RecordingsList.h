#pragma once
// RecordingsList: the list "audio-record-list" of the main window. One entry per recording of the
// output folder, each a list element from "RecorderListContainerElement.xml" showing the file's
// name, size and duration with three buttons: "item-play" opens the file in its default program,
// "item-open-dir" shows it in the file manager, "item-delete" moves it to the desktop's trash
// (deletes it where there is none) after "确定要删除文件吗?" with the file's name.
//
// The list shows one folder: it fills from a scan of the output folder (RecordingScan, off the UI
// thread), at start-up and again whenever the output folder changes, and grows by one entry per
// finished recording (AddRecordingItem). Newest first by the files' time: the scan delivers in
// that order and a new recording goes to the top. Ids count up from 0 and are never reused, not
// even across folders. Every change of the list, the
// entries and the ids happens on the UI thread, so a recording that ends while the scan still runs
// gets an id of its own, and a file listed twice (the scan saw a recording that was still being
// made) stays one entry.
//
// Thread: UI thread.

#include "RecordingEntry.h"
#include "RecordingScan.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QListWidget;
class WindowImplBase;
struct TNotifyUI;

class RecordingsList : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kElementSkin = "RecorderListContainerElement.xml";
    static constexpr const char* kDeleteQuestion = "确定要删除文件吗?";
    static constexpr const char* kDeleteFailedText = "文件删除失败!";
    // Asked after kDeleteQuestion when the take has separate tracks beside it.
    static constexpr const char* kDeleteTracksQuestion = "是否同时删除分轨文件?";

    // What the entries' buttons do with the outside world; tests hand in their own.
    struct Actions {
        std::function<void(const QString& path)> play;   // default: the desktop's program for the file
        std::function<void(const QString& path)> reveal; // default: RevealInFileManager
        std::function<bool(const QString& question)> confirm; // default: MessageBoxDialog on the window
        std::function<void(const QString& text)> prompt;       // default: PromptBoxDialog on the window
        std::function<bool(const QString& path)> discard;      // default: MoveToTrashOrDelete (files and folders)
    };

    // Moves path to the desktop's trash (the freedesktop trash of its disk); deletes it where
    // there is none. True when path is gone from its folder (logged either way).
    static bool MoveToTrashOrDelete(const QString& path);

    // List work per turn of the event loop while the scan's results come in, so that input and
    // painting wait at most a few tens of milliseconds: building an entry takes about half a
    // millisecond, showing it in the list (style, layout) two to three times that after the turn.
    static constexpr int kTurnBudgetMs = 15;
    static constexpr std::size_t kMaxEntriesPerTurn = 16;
    // Results taken from the scan at a time within a turn (the budget is checked in between).
    static constexpr std::size_t kEntriesPerTake = 4;

    explicit RecordingsList(WindowImplBase& window, Actions actions = Actions());
    // Stops a running scan (touches no widget: the window's own teardown removes the elements).
    ~RecordingsList() override;

    // Looks up "audio-record-list" in the window (after its skin is loaded).
    void FindControls();
    // Shows folder: stops a running scan (its results are dropped), empties the list and scans
    // folder; its recordings arrive as entries, newest first.
    void StartScan(const QString& folder);
    // The folder shown (empty before the first StartScan).
    const QString& Folder() const { return folder_; }
    // The scan has listed the whole folder and every result is in the list (also true once the
    // scan could not run).
    bool ScanDone() const;

    // Puts the entry of folder/fileName, a recording just finished, at the top with its size and
    // duration read now (the file is complete). A file the list already shows keeps its entry,
    // with size and duration renewed. Returns the entry's id; -1 when the file does not exist, lies
    // outside the folder shown, or the element could not be built (logged).
    int AddRecordingItem(const QString& folder, const QString& fileName);

    // "click" from an entry's button: true when msg was one (handled here).
    bool Notify(const TNotifyUI& msg);

    const std::map<int, RecordingEntry>& Entries() const { return entries_; }
    // The list element of entry id, or nullptr.
    QWidget* Element(int id) const;

signals:
    // The scan's last result is in the list.
    void scanFinished();

private:
    // The element and entry of one recording, with the next id; the element is not in the list
    // yet. nullptr when the element could not be built (logged; no id used).
    QWidget* BuildEntry(const QString& folder, const QString& fileName, int64_t size, double duration);
    // Inserts the built elements at row, in this order, in one go.
    void InsertElements(int row, const std::vector<QWidget*>& elements);
    // Removes every element and entry (their ids stay used).
    void Clear();
    void ShowFigures(QWidget* element, int64_t size, double duration) const;
    void TakeScanResults();
    void Delete(int id);

    WindowImplBase& window_;
    Actions actions_;
    QPointer<QListWidget> list_;
    std::map<int, RecordingEntry> entries_;
    QHash<QString, int> idsByPath_;   // fullPath -> id, the same entries as entries_
    int nextItemId_ = 0;
    bool scanDone_ = false;
    QString folder_;
    // The scan of folder_; replaced (its thread stopped and joined) by the next StartScan. Declared
    // last, destroyed first: its thread ends before the rest goes.
    std::unique_ptr<RecordingScan> scan_;
};
