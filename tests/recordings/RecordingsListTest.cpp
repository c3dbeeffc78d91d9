// The recordings list in a window with the main window's skin: entries from the scan and after a
// recording, their order, ids and texts, a change of folder, and the three buttons of an entry
// (which reach their own entry's file).

#include "FileBytes.h"
#include "RecordingFilesForTest.h"
#include "RecordingsList.h"
#include "TestEnv.h"
#include "WindowImplBase.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

constexpr int kScanTimeoutMs = 20000;

// A window that shows the main window's skin and holds only the recordings list.
class ListWindow : public WindowImplBase {
public:
    explicit ListWindow(RecordingsList::Actions actions)
        : list(*this, std::move(actions))
    {
    }
    QString GetWindowClassName() const override { return QStringLiteral("ListWindow"); }
    QString GetSkinFile() override { return QStringLiteral("MainWindow.xml"); }
    void Notify(TNotifyUI& msg) override
    {
        list.Notify(msg);
        WindowImplBase::Notify(msg);
    }
    RecordingsList list;
};

class RecordingsListTest : public testing::Test {
protected:
    void SetUp() override
    {
        RecordingsList::Actions actions;
        actions.play = [this](const QString& path) { played_ << path; };
        actions.reveal = [this](const QString& path) { revealed_ << path; };
        actions.confirm = [this](const QString& question) {
            questions_ << question;
            return question.startsWith(RecordingsList::kDeleteTracksQuestion) ? confirmTracks_ : confirm_;
        };
        actions.prompt = [this](const QString& text) { prompts_ << text; };
        actions.discard = [](const QString& path) {
            return !path.endsWith("stuck.mp3") && RecordingsList::MoveToTrashOrDelete(path);
        };
        window_ = std::make_unique<ListWindow>(std::move(actions));
        ASSERT_TRUE(window_->Create(nullptr, QString()));
        window_->list.FindControls();
    }

    QString Path(const QString& name) const { return dir_ + "/" + name; }
    void Scan(const QString& folder)
    {
        window_->list.StartScan(folder);
        ASSERT_TRUE(QTest::qWaitFor([this] { return window_->list.ScanDone(); }, kScanTimeoutMs));
    }
    QString Text(int id, const char* label) const
    {
        QWidget* element = window_->list.Element(id);
        return element ? element->findChild<QLabel*>(label)->text() : QStringLiteral("(no element)");
    }
    void Click(int id, const char* button) const
    {
        QWidget* element = window_->list.Element(id);
        ASSERT_NE(element, nullptr) << id;
        element->findChild<QAbstractButton*>(button)->click();
    }
    QListWidget* List() const { return window_->FindControl<QListWidget>("audio-record-list"); }
    QStringList Rows() const
    {
        QStringList names;
        for (int row = 0; row < List()->count(); ++row)
            names << List()->itemWidget(List()->item(row))->findChild<QLabel*>("fileNameLabel")->text();
        return names;
    }
    // Every entry has its element, named after its id, and nothing else is in the list.
    void ExpectListMatchesEntries() const
    {
        EXPECT_EQ(List()->count(), static_cast<int>(window_->list.Entries().size()));
        std::set<QString> paths;
        for (const auto& [id, entry] : window_->list.Entries()) {
            EXPECT_EQ(Text(id, "fileNameLabel"), entry.fileName) << id;
            EXPECT_TRUE(paths.insert(entry.fullPath).second) << entry.fullPath.toStdString() << " twice";
        }
    }

    TestEnv env_; // the home whose trash takes deleted recordings
    QString dir_ = env_.MakeFolder("recordings");
    std::unique_ptr<ListWindow> window_;
    bool confirm_ = true;
    bool confirmTracks_ = true;
    QStringList played_, revealed_, questions_, prompts_;
};

// Only the folder scanned last is listed (a scan of the one before, still running, adds nothing),
// newest first with its texts; a recording of that folder goes on top, one made elsewhere is not listed.
TEST_F(RecordingsListTest, TheLastFolderScannedIsListedNewestFirstWithItsTexts)
{
    const QString old = env_.MakeFolder("old");
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(WriteSilentWav(old + QStringLiteral("/rec-%1.wav").arg(i), 0.1));
    ASSERT_TRUE(WriteSilentWav(Path("a.mp3"), 1, 3));
    ASSERT_TRUE(WriteSilentWav(Path("b.WAV"), 3.5, 1));
    WriteBytes(Path("c.Mp3").toStdString(), "x");
    WriteBytes(Path("d.txt").toStdString(), "x");
    ASSERT_TRUE(QDir(dir_).mkdir("x.mp3")); // made now: the newest
    ASSERT_TRUE(QDir(dir_).mkpath("a-分轨/麦克风.mp3")); // a take's tracks are not takes
    window_->list.StartScan(old); // still running when the folder changes
    Scan(dir_);
    QTest::qWait(0); // whatever the old scan had queued

    EXPECT_EQ(Rows(), QStringList({"x.mp3", "b.WAV", "a.mp3"}));
    ExpectListMatchesEntries();
    for (const auto& [id, entry] : window_->list.Entries()) {
        const QString figures = entry.fileName == "b.WAV" ? "602.9 KB 00:00:03" : "0 B 00:00:00";
        if (entry.fileName != "a.mp3") { // the other two, size and duration
            EXPECT_EQ(Text(id, "fileSizeLabel") + " " + Text(id, "durationLabel"), figures) << entry.fileName.toStdString();
        }
    }
    ASSERT_TRUE(WriteSilentWav(Path("newest.wav"), 1, 0));
    EXPECT_GE(window_->list.AddRecordingItem(dir_, "newest.wav"), 0);
    EXPECT_EQ(window_->list.AddRecordingItem(old, "rec-0.wav"), -1);
    EXPECT_EQ(Rows(), QStringList({"newest.wav", "x.mp3", "b.WAV", "a.mp3"}));
}

TEST_F(RecordingsListTest, ARecordingThatEndsDuringTheScanGetsOneEntryAndAnIdOfItsOwn)
{
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(WriteSilentWav(Path(QStringLiteral("rec-%1.wav").arg(i)), 0.1));
    window_->list.StartScan(dir_);
    // Ends while the scan runs: one the scan also finds, one it may or may not find.
    EXPECT_EQ(window_->list.AddRecordingItem(dir_, "rec-7.wav"), 0);
    ASSERT_TRUE(WriteSilentWav(Path("new.wav"), 1));
    EXPECT_EQ(window_->list.AddRecordingItem(dir_, "new.wav"), 1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window_->list.ScanDone(); }, kScanTimeoutMs));

    ASSERT_EQ(window_->list.Entries().size(), kFiles + 1u);
    ExpectListMatchesEntries();
    EXPECT_EQ(window_->list.Entries().rbegin()->first, kFiles) << "ids 0.." << kFiles;

    // A file the scan listed while it was still being recorded keeps its entry, with the final figures.
    ASSERT_TRUE(WriteSilentWav(Path("rec-7.wav"), 3.5));
    EXPECT_EQ(window_->list.AddRecordingItem(dir_, "rec-7.wav"), 0);
    EXPECT_EQ(Text(0, "durationLabel"), "00:00:03");
    EXPECT_EQ(window_->list.Entries().size(), kFiles + 1u);
    // A recording whose file is gone is not listed.
    EXPECT_EQ(window_->list.AddRecordingItem(dir_, "gone.wav"), -1);
}

TEST_F(RecordingsListTest, DeleteNamesTheFileMovesItToTheTrashOrSaysWhyNot)
{
    for (const char* name : {"one.wav", "two.wav", "three.wav", "stuck.mp3"}) {
        ASSERT_TRUE(WriteSilentWav(Path(name), 0.5));
        window_->list.AddRecordingItem(dir_, name);
    }
    confirm_ = false;
    Click(1, "item-delete");
    EXPECT_EQ(questions_, QStringList{QString::fromUtf8("确定要删除文件吗?\ntwo.wav")});
    EXPECT_TRUE(QFile::exists(Path("two.wav"))) << "cancelled";

    confirm_ = true;
    Click(1, "item-delete");
    EXPECT_FALSE(QFile::exists(Path("two.wav")));
    EXPECT_TRUE(QFile::exists(env_.DataHome() + "/Trash/files/two.wav")) << "not in the trash";
    EXPECT_EQ(window_->list.Element(1), nullptr);
    ASSERT_EQ(window_->list.Entries().size(), 3u);
    ExpectListMatchesEntries();
    Click(0, "item-play");
    Click(2, "item-open-dir");
    EXPECT_EQ(played_, QStringList{Path("one.wav")});
    EXPECT_EQ(revealed_, QStringList{Path("three.wav")});
    EXPECT_TRUE(prompts_.isEmpty());

    // One that cannot be deleted keeps its entry; a file already gone leaves nothing to show.
    Click(3, "item-delete");
    EXPECT_EQ(prompts_, QStringList{QString::fromUtf8(RecordingsList::kDeleteFailedText)});
    EXPECT_EQ(window_->list.Entries().count(3), 1u);
    ASSERT_TRUE(QFile::remove(Path("three.wav")));
    Click(2, "item-delete");
    EXPECT_EQ(prompts_.size(), 1);
    EXPECT_EQ(window_->list.Entries().count(2), 0u);
    ExpectListMatchesEntries();

    // A take with separate tracks: they go too, to the trash, or stay, as the second answer says.
    for (const bool withTracks : {false, true}) {
        questions_.clear();
        confirmTracks_ = withTracks;
        ASSERT_TRUE(QDir(dir_).mkpath("take-分轨") && WriteSilentWav(Path("take-分轨/麦克风.mp3"), 0.5));
        ASSERT_TRUE(WriteSilentWav(Path("take.mp3"), 0.5));
        Click(window_->list.AddRecordingItem(dir_, "take.mp3"), "item-delete");
        EXPECT_EQ(questions_.join("|"), QString::fromUtf8("确定要删除文件吗?\ntake.mp3|是否同时删除分轨文件?\ntake-分轨"));
        EXPECT_FALSE(QFile::exists(Path("take.mp3")));
        EXPECT_EQ(QFile::exists(Path("take-分轨/麦克风.mp3")), !withTracks);
        EXPECT_EQ(QFile::exists(env_.DataHome() + "/Trash/files/take-分轨/麦克风.mp3"), withTracks);
    }
}

} // namespace
