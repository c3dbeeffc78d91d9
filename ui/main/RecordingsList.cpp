#include "RecordingsList.h"

#include "DesktopOpen.h"
#include "FileManagerReveal.h"
#include "ListElementDelegate.h"
#include "MediaProbe.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "RecordingFiles.h"
#include "RecordingTracks.h"
#include "WindowImplBase.h"

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <iterator>

#include <glog/logging.h>

namespace {

constexpr const char* kListName = "audio-record-list";
constexpr const char* kButtonNames[] = {"item-play", "item-open-dir", "item-delete"};
// The failure prompt's box: wide enough for the text in one line.
constexpr int kPromptWidth = 200;
constexpr int kPromptHeight = 100;

QString ElementName(int id)
{
    return QStringLiteral("item-%1").arg(id);
}

} // namespace

RecordingsList::RecordingsList(WindowImplBase& window, Actions actions)
    : window_(window)
    , actions_(std::move(actions))
{
    if (!actions_.play)
        actions_.play = [this](const QString& path) { OpenWithDesktop(&window_, QUrl::fromLocalFile(path)); };
    if (!actions_.reveal)
        actions_.reveal = [this](const QString& path) { RevealInFileManager(path, &window_); };
    if (!actions_.confirm)
        actions_.confirm = [this](const QString& question) { return MessageBoxDialog::Show(&window_, question) != 0; };
    if (!actions_.discard)
        actions_.discard = MoveToTrashOrDelete;
    if (!actions_.prompt) {
        actions_.prompt = [this](const QString& text) {
            PromptBoxDialog::Show(&window_, text, kPromptWidth, kPromptHeight);
        };
    }
}

RecordingsList::~RecordingsList() = default;

void RecordingsList::FindControls()
{
    list_ = window_.FindControl<QListWidget>(QLatin1String(kListName));
    if (list_) {
        list_->setItemDelegate(new ListElementDelegate(list_));
        list_->setUniformItemSizes(true); // every row is the same element
    }
}

void RecordingsList::StartScan(const QString& folder)
{
    // The scan of another folder ends first: its destructor joins the thread, and what it found
    // goes with it. A call of TakeScanResults it queued already takes from the new scan instead.
    scan_.reset();
    Clear();
    folder_ = folder;
    scanDone_ = false;
    scan_ = std::make_unique<RecordingScan>();
    scan_->Start(folder, [this] {
        // Scan thread: only a queued call crosses over; the list takes the results on its own thread.
        QMetaObject::invokeMethod(this, &RecordingsList::TakeScanResults, Qt::QueuedConnection);
    });
}

void RecordingsList::Clear()
{
    if (list_) {
        for (int row = 0; row < list_->count(); ++row) {
            if (QWidget* element = list_->itemWidget(list_->item(row))) {
                element->hide();
                element->setObjectName(QString()); // no longer "item-%d"
                element->deleteLater();
            }
        }
        list_->clear();
    }
    entries_.clear();
    idsByPath_.clear();
}

bool RecordingsList::ScanDone() const
{
    return scanDone_;
}

void RecordingsList::TakeScanResults()
{
    // Entries are built until the turn's share is used up, then appended to the list together:
    // the list lays out all its rows once per append, so appending one by one would cost each
    // new entry the whole list again.
    if (!scan_)
        return;
    QElapsedTimer turn;
    turn.start();
    const QString folder = scan_->Folder();
    std::vector<QWidget*> elements;
    bool more = true;
    while (more && elements.size() < kMaxEntriesPerTurn && turn.elapsed() < kTurnBudgetMs) {
        std::vector<ScannedRecording> batch;
        more = scan_->Take(kEntriesPerTake, batch);
        for (const ScannedRecording& found : batch) {
            // A recording that ended during the scan may already have its entry.
            if (idsByPath_.contains(folder + QLatin1Char('/') + found.fileName))
                continue;
            if (QWidget* element = BuildEntry(folder, found.fileName, found.size, found.duration))
                elements.push_back(element);
        }
    }
    if (list_)
        InsertElements(list_->count(), elements); // the scan delivers newest first
    if (more) {
        // The rest after input and painting had their turn.
        QTimer::singleShot(0, this, &RecordingsList::TakeScanResults);
    } else if (!scanDone_ && scan_->Done()) {
        scanDone_ = true;
        emit scanFinished();
    }
}

bool RecordingsList::MoveToTrashOrDelete(const QString& path)
{
    // The trash keeps it for the user to bring back. Qt does not create the data folder the home
    // trash lives in, and without it moves the file to "files/" below the current folder instead:
    // the folder is made first.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QFile file(path);
    if (file.moveToTrash()) {
        LOG(INFO) << "mainwnd: \"" << path.toStdString() << "\" moved to the trash";
        return true;
    }
    if (QFileInfo(path).isDir() ? QDir(path).removeRecursively() : file.remove()) {
        LOG(INFO) << "mainwnd: deleted \"" << path.toStdString() << "\" (no trash)";
        return true;
    }
    LOG(ERROR) << "mainwnd: cannot delete \"" << path.toStdString() << "\": " << file.errorString().toStdString();
    return false;
}

int RecordingsList::AddRecordingItem(const QString& folder, const QString& fileName)
{
    const QString path = folder + QLatin1Char('/') + fileName;
    if (!QFileInfo::exists(path)) {
        LOG(ERROR) << "mainwnd: recording \"" << path.toStdString() << "\" does not exist, not listed";
        return -1;
    }
    if (!folder_.isEmpty() && QDir::cleanPath(folder) != QDir::cleanPath(folder_)) {
        LOG(INFO) << "mainwnd: recording \"" << path.toStdString() << "\" is outside the folder shown, not listed";
        return -1;
    }
    const int64_t size = RecordingFileSize(path);
    const double duration = ProbeMediaDuration(path);
    if (const auto known = idsByPath_.constFind(path); known != idsByPath_.cend()) {
        // Listed by the scan while it was still being recorded: its figures are the final ones now.
        entries_[*known].size = size;
        ShowFigures(Element(*known), size, duration);
        return *known;
    }
    QWidget* element = BuildEntry(folder, fileName, size, duration);
    if (!element)
        return -1;
    InsertElements(0, {element}); // the newest recording
    return nextItemId_ - 1;
}

QWidget* RecordingsList::BuildEntry(const QString& folder, const QString& fileName, int64_t size, double duration)
{
    if (!list_)
        return nullptr;
    QWidget* element = window_.LoadSkinWidget(QLatin1String(kElementSkin));
    if (!element) {
        LOG(ERROR) << "mainwnd: no list entry for \"" << fileName.toStdString() << "\"";
        return nullptr;
    }
    const int id = nextItemId_++;
    SetControlTag(element, static_cast<std::uintptr_t>(id));
    element->setObjectName(ElementName(id));

    RecordingEntry entry{id, fileName, folder, folder + QLatin1Char('/') + fileName, size};
    if (auto* name = FindControlIn<QLabel>(element, QStringLiteral("fileNameLabel"), QLatin1String(kElementSkin))) {
        name->setText(fileName);
        name->setToolTip(entry.fullPath);
    }
    ShowFigures(element, size, duration);
    for (const char* button : kButtonNames)
        SetControlTag(FindControlIn<QAbstractButton>(element, QLatin1String(button), QLatin1String(kElementSkin)),
                      static_cast<std::uintptr_t>(id));

    idsByPath_.insert(entry.fullPath, id);
    entries_.emplace(id, std::move(entry));
    return element;
}

void RecordingsList::InsertElements(int row, const std::vector<QWidget*>& elements)
{
    if (elements.empty())
        return;
    // One insertion of all rows: the list lays itself out once.
    list_->model()->insertRows(row, static_cast<int>(elements.size()));
    for (std::size_t i = 0; i < elements.size(); ++i) {
        QListWidgetItem* item = list_->item(row + static_cast<int>(i));
        // The element's own size limits hold (its layout's hint alone would make the row lower
        // than the element, which then overflows the row and its highlight).
        QWidget* element = elements[i];
        item->setSizeHint(element->sizeHint().expandedTo(element->minimumSize()).boundedTo(element->maximumSize()));
        list_->setItemWidget(item, element);
    }
}

void RecordingsList::ShowFigures(QWidget* element, int64_t size, double duration) const
{
    if (!element)
        return;
    if (auto* label = FindControlIn<QLabel>(element, QStringLiteral("fileSizeLabel"), QLatin1String(kElementSkin)))
        label->setText(FormatFileSize(size));
    if (auto* label = FindControlIn<QLabel>(element, QStringLiteral("durationLabel"), QLatin1String(kElementSkin)))
        label->setText(FormatDuration(duration));
}

QWidget* RecordingsList::Element(int id) const
{
    return list_ ? list_->findChild<QWidget*>(ElementName(id)) : nullptr;
}

bool RecordingsList::Notify(const TNotifyUI& msg)
{
    if (msg.type != QLatin1String(kNotifyClick))
        return false;
    const int which = static_cast<int>(std::find_if(std::begin(kButtonNames), std::end(kButtonNames),
                                                    [&](const char* n) { return msg.senderName == QLatin1String(n); }) -
                                       std::begin(kButtonNames));
    if (which == static_cast<int>(std::size(kButtonNames)))
        return false;
    const auto entry = entries_.find(static_cast<int>(GetControlTag(msg.sender)));
    if (entry == entries_.end())
        return true; // an entry that is gone: nothing to do
    switch (which) {
    case 0:
        actions_.play(entry->second.fullPath);
        break;
    case 1:
        actions_.reveal(entry->second.fullPath);
        break;
    default:
        Delete(entry->first);
        break;
    }
    return true;
}

void RecordingsList::Delete(int id)
{
    // The questions name the file and its tracks. Their modal loops run other events: the entry is
    // looked up again afterwards.
    const auto asked = entries_.find(id);
    if (asked == entries_.end() ||
        !actions_.confirm(QString::fromUtf8(kDeleteQuestion) + QLatin1Char('\n') + asked->second.fileName))
        return;
    const auto confirmed = entries_.find(id);
    if (confirmed == entries_.end())
        return;
    const QString path = confirmed->second.fullPath;
    // The take's separate tracks go with it only when the user says so.
    const QString tracks = QFile::decodeName(RecordingTracks::FolderOf(QFile::encodeName(path).toStdString()).c_str());
    const bool withTracks =
        QFileInfo(tracks).isDir() &&
        actions_.confirm(QString::fromUtf8(kDeleteTracksQuestion) + QLatin1Char('\n') + QFileInfo(tracks).fileName());
    const auto entry = entries_.find(id);
    if (entry == entries_.end())
        return;
    // A file that is gone already leaves nothing to show either; one that stays keeps its entry.
    const bool tracksGone = !withTracks || actions_.discard(tracks) || !QFileInfo::exists(tracks);
    if (!actions_.discard(path) && QFileInfo::exists(path)) {
        actions_.prompt(QString::fromUtf8(kDeleteFailedText));
        return;
    }
    if (!tracksGone)
        actions_.prompt(QString::fromUtf8(kDeleteFailedText));
    QWidget* element = Element(id);
    if (element)
        element->setObjectName(QString()); // it lingers until the click is handled; no longer "item-%d"
    RemoveListElement(list_, element);
    idsByPath_.remove(path);
    entries_.erase(entry);
}
