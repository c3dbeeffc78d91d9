// The recordings list in a window with the main window's skin: entries from the scan and after a
// recording, their ids and texts, and the three buttons of an entry.

#include "RecordingFilesForTest.h"
#include "RecordingsList.h"
#include "WindowImplBase.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

// How long a test waits for the scan's results.
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
        ASSERT_TRUE(dir_.isValid());
        RecordingsList::Actions actions;
        actions.play = [this](const QString& path) { played_ << path; };
        actions.reveal = [this](const QString& path) { revealed_ << path; };
        actions.confirm = [this](const QString& question) {
            questions_ << question;
            return confirm_;
        };
        actions.prompt = [this](const QString& text) { prompts_ << text; };
        window_ = std::make_unique<ListWindow>(std::move(actions));
        ASSERT_TRUE(window_->Create(nullptr, QString()));
        window_->list.FindControls();
    }

    QString Path(const QString& name) const { return dir_.path() + "/" + name; }
    void Scan()
    {
        window_->list.StartScan(dir_.path());
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
    int Count() const { return window_->FindControl<QListWidget>("audio-record-list")->count(); }
    // Every entry has its element, named after its id, and nothing else is in the list.
    void ExpectListMatchesEntries() const
    {
        EXPECT_EQ(Count(), static_cast<int>(window_->list.Entries().size()));
        std::set<QString> paths;
        for (const auto& [id, entry] : window_->list.Entries()) {
            EXPECT_EQ(id, entry.id);
            EXPECT_EQ(Text(id, "fileNameLabel"), entry.fileName);
            EXPECT_TRUE(paths.insert(entry.fullPath).second) << entry.fullPath.toStdString() << " twice";
        }
    }

    QTemporaryDir dir_;
    std::unique_ptr<ListWindow> window_;
    bool confirm_ = true;
    QStringList played_, revealed_, questions_, prompts_;
};

TEST_F(RecordingsListTest, ScanListsTheRecordingsWithTheirTextsAndTaggedButtons)
{
    ASSERT_TRUE(WriteSilentWav(Path("a.mp3"), 1));
    ASSERT_TRUE(WriteSilentWav(Path("b.WAV"), 3.5));
    ASSERT_TRUE(WriteTextFile(Path("c.Mp3"), "x"));
    ASSERT_TRUE(WriteTextFile(Path("d.txt"), "x"));
    ASSERT_TRUE(QDir(dir_.path()).mkdir("x.mp3"));
    Scan();

    ASSERT_EQ(window_->list.Entries().size(), 3u);
    ExpectListMatchesEntries();
    for (const auto& [id, entry] : window_->list.Entries()) {
        EXPECT_EQ(window_->list.Element(id)->objectName(), QStringLiteral("item-%1").arg(id));
        for (const char* button : {"item-play", "item-open-dir", "item-delete"})
            EXPECT_EQ(GetControlTag(window_->list.Element(id)->findChild<QWidget*>(button)), std::uintptr_t(id));
        if (entry.fileName == "b.WAV") {
            EXPECT_EQ(Text(id, "durationLabel"), "00:00:03");
            EXPECT_EQ(Text(id, "fileSizeLabel"), "602KB");
        } else if (entry.fileName == "x.mp3") {
            EXPECT_EQ(Text(id, "fileSizeLabel"), "0B");
            EXPECT_EQ(Text(id, "durationLabel"), "00:00:00");
        }
    }
}

TEST_F(RecordingsListTest, ARecordingThatEndsDuringTheScanGetsOneEntryAndAnIdOfItsOwn)
{
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(WriteSilentWav(Path(QStringLiteral("rec-%1.wav").arg(i)), 0.1));
    window_->list.StartScan(dir_.path());
    // Ends while the scan runs: one the scan also finds, one it may or may not find.
    EXPECT_EQ(window_->list.AddRecordingItem(dir_.path(), "rec-7.wav"), 0);
    ASSERT_TRUE(WriteSilentWav(Path("new.wav"), 1));
    EXPECT_EQ(window_->list.AddRecordingItem(dir_.path(), "new.wav"), 1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window_->list.ScanDone(); }, kScanTimeoutMs));

    ASSERT_EQ(window_->list.Entries().size(), kFiles + 1u);
    ExpectListMatchesEntries();
    EXPECT_EQ(window_->list.Entries().rbegin()->first, kFiles) << "ids 0.." << kFiles;

    // A file the scan listed while it was still being recorded keeps its entry, with the final figures.
    ASSERT_TRUE(WriteSilentWav(Path("rec-7.wav"), 3.5));
    EXPECT_EQ(window_->list.AddRecordingItem(dir_.path(), "rec-7.wav"), 0);
    EXPECT_EQ(Text(0, "durationLabel"), "00:00:03");
    EXPECT_EQ(window_->list.Entries().size(), kFiles + 1u);
    // A recording whose file is gone is not listed.
    EXPECT_EQ(window_->list.AddRecordingItem(dir_.path(), "gone.wav"), -1);
}

TEST_F(RecordingsListTest, DeletingTheMiddleEntryKeepsTheOthersWorking)
{
    for (const char* name : {"one.wav", "two.wav", "three.wav"}) {
        ASSERT_TRUE(WriteSilentWav(Path(name), 0.5));
        window_->list.AddRecordingItem(dir_.path(), name);
    }
    confirm_ = false;
    Click(1, "item-delete");
    EXPECT_EQ(questions_, QStringList{QString::fromUtf8("确定要删除文件吗?")});
    EXPECT_TRUE(QFile::exists(Path("two.wav"))) << "cancelled";
    EXPECT_EQ(Count(), 3);

    confirm_ = true;
    Click(1, "item-delete");
    EXPECT_FALSE(QFile::exists(Path("two.wav")));
    EXPECT_EQ(window_->list.Element(1), nullptr);
    ASSERT_EQ(window_->list.Entries().size(), 2u);
    ExpectListMatchesEntries();

    Click(0, "item-play");
    Click(2, "item-open-dir");
    Click(2, "item-play");
    EXPECT_EQ(played_, QStringList({Path("one.wav"), Path("three.wav")}));
    EXPECT_EQ(revealed_, QStringList{Path("three.wav")});
    Click(2, "item-delete");
    EXPECT_FALSE(QFile::exists(Path("three.wav")));
    EXPECT_EQ(window_->list.Entries().size(), 1u);
    EXPECT_TRUE(prompts_.isEmpty());
}

TEST_F(RecordingsListTest, AFailedDeleteKeepsTheEntryAndSaysSo)
{
    // A folder with content cannot be removed like a file; a file already gone leaves nothing to show.
    ASSERT_TRUE(QDir(dir_.path()).mkpath("stuck.mp3/inner"));
    ASSERT_TRUE(WriteSilentWav(Path("gone.wav"), 0.5));
    Scan();
    ASSERT_EQ(window_->list.Entries().size(), 2u);
    const int stuck = window_->list.Entries().begin()->second.fileName == "stuck.mp3"
                          ? window_->list.Entries().begin()->first
                          : window_->list.Entries().rbegin()->first;
    const int gone = 1 - stuck;

    Click(stuck, "item-delete");
    EXPECT_EQ(prompts_, QStringList{QString::fromUtf8(RecordingsList::kDeleteFailedText)});
    EXPECT_EQ(window_->list.Entries().count(stuck), 1u);
    EXPECT_TRUE(QDir(Path("stuck.mp3")).exists());

    ASSERT_TRUE(QFile::remove(Path("gone.wav")));
    Click(gone, "item-delete");
    EXPECT_EQ(prompts_.size(), 1);
    EXPECT_EQ(window_->list.Entries().count(gone), 0u);
    ExpectListMatchesEntries();
}

} // namespace
