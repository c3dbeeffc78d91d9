// The recorder controls of the main window: start, pause, resume, stop, the prompts of a start,
// the window's reaction to the recorder's reports (elapsed time). What the recorder writes:
// its own tests. (Quitting while a recording runs: the tray's close test; a recording that stopped
// itself, the prompt after recordings were recovered and waiting for sound: the desktop notices
// test.)

#include "AudioRecorder.h"
#include "MainWndTestSupport.h"
#include "RecordingPlan.h"
#include "SoundServer.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <ctime>

namespace {

enum class View { kIdle, kRecording, kPaused };

class MainWndRecordTest : public MainWndTest {
protected:
    // Every control of the recorder against its row for view.
    void ExpectView(View view)
    {
        const bool idle = view == View::kIdle;
        const bool recording = view == View::kRecording;
        const std::pair<const char*, bool> rows[] = {
            {"recorder-start", !recording}, {"recorder-pause", recording},       {"recorder-stop", !idle},
            {"recorder-disabled", idle},    {"recorder-ready", idle},            {"recorder-status-init", idle},
            {"recorder-working", !idle},    {"recorder-status-working", !idle},
        };
        for (const auto& [name, visible] : rows)
            EXPECT_EQ(Control<QWidget>(name)->isVisible(), visible) << name;
        const char* info = idle ? CMainWnd::kInfoReady : recording ? CMainWnd::kInfoRecording : CMainWnd::kInfoPaused;
        EXPECT_EQ(Control<QLabel>("recorder-info")->text(), QString::fromUtf8(info));
        EXPECT_EQ(window_->Recorder() != nullptr, !idle);
        EXPECT_EQ(window_->Meters().Monitoring(), idle) << "the recording's reports move the meters";
    }
    QString Progress() const { return Control<QLabel>("recorder-progress")->text(); }
    QStringList Recordings() const { return QDir(DefaultFolder()).entryList(QDir::Files); }
};

TEST_F(MainWndRecordTest, StartPauseResumeStopRecordsIntoANamedFile)
{
    SetConfig("voice-source", "2");
    OpenWindow();
    ExpectView(View::kIdle);
    Click("recorder-start");
    ExpectView(View::kRecording);
    EXPECT_EQ(window_->Recorder()->GetState(), kRecording);
    const QString name = window_->CurrentFileName(); // which name: the plan's table

    Click("recorder-pause");
    ExpectView(View::kPaused);
    EXPECT_EQ(window_->Recorder()->GetState(), kPaused);
    window_->PostMessage(WM_RECORDER_SECONDS, 0, 363725); // the texts: FormatElapsedTime's table
    EXPECT_TRUE(QTest::qWaitFor([this] { return Progress() == "101:02:05"; }, kDeliveryTimeoutMs));
    Click("recorder-start"); // resume
    ExpectView(View::kRecording);
    EXPECT_EQ(window_->Recorder()->GetState(), kRecording);

    Click("recorder-stop");
    ExpectView(View::kIdle);
    // The file is complete as soon as the window is idle again; it is the list's first entry,
    // selected once the list scrolled.
    EXPECT_EQ(Recordings(), QStringList{name});
    auto* list = Control<QListWidget>("audio-record-list");
    EXPECT_TRUE(QTest::qWaitFor([list] { return list->count() == 1 && list->currentRow() == 0; }, kDeliveryTimeoutMs));

    // Reports still queued from the recorder bring back no time and no prompt.
    BoxResponder boxes;
    window_->PostMessage(WM_RECORDER_SECONDS, 0, 42);
    window_->PostRecorderError(RecorderError::kDiskFull);
    QCoreApplication::sendPostedEvents(window_); // the posted messages, now
    EXPECT_EQ(Progress(), CMainWnd::kProgressZero);
    EXPECT_EQ(boxes.texts, QStringList());

    // The idle meters read the devices only while the window is on screen (while recording:
    // ExpectView); which levels they read: the monitor's own tests.
    window_->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->Meters().Monitoring(); }, kDeliveryTimeoutMs));
    window_->showNormal();
    EXPECT_TRUE(QTest::qWaitFor([this] { return window_->Meters().Monitoring(); }, kDeliveryTimeoutMs));
}

// The window's reaction to each outcome of the plan (which outcome for which devices and
// settings: the plan's table): a refusal prompts and records nothing; a missing microphone in
// "both" prompts and records.
TEST_F(MainWndRecordTest, ARefusedStartPromptsAndRecordsNothing)
{
    const QString full = env_->MakeFolder("full");
    const QString blocked = full + "/a-file/folder"; // cannot be made, also not by root (who may write /proc)
    ASSERT_TRUE(QFile(full + "/a-file").open(QIODevice::WriteOnly));
    const std::time_t now = std::time(nullptr);
    for (int i = 0; i < 90; ++i) // every name of the next minute (and then some) taken
        ASSERT_TRUE(QFile(full + "/" + QString::fromStdString(RecordingFileName(now + i, "mp3"))).open(QIODevice::WriteOnly));
    const struct {
        QString folder;     // the stored output folder; empty: the default
        const char* unload; // the module unloaded first, or nullptr
        const char* source;
        const char* prompt;
        bool records;
    } cases[] = {
        {blocked, nullptr, "2", CMainWnd::kFolderNotWritableText, false},
        {full, nullptr, "2", CMainWnd::kDeviceErrorText, false},
        {"", "module-remap-source", "1", CMainWnd::kNoMicText, false}, // only the monitors are left
        {"", nullptr, "0", CMainWnd::kNoMicSystemOnlyText, true},
        {"", "module-null-sink", "2", CMainWnd::kNoSpeakerText, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prompt);
        SetConfig("output-dir", c.folder);
        SetConfig("voice-source", c.source);
        if (c.unload) {
            ASSERT_EQ(SoundServer::Pactl({"unload-module", c.unload}), 0);
        }
        OpenWindow();
        BoxResponder boxes;
        Click("recorder-start"); // the prompt opens inside it
        EXPECT_EQ(boxes.texts, QStringList{QString::fromUtf8(c.prompt)});
        ExpectView(c.records ? View::kRecording : View::kIdle);
        if (c.records)
            Click("recorder-stop");
        EXPECT_EQ(Recordings().size(), c.records ? 1 : 0);
        CloseWindow();
        QDir(DefaultFolder()).removeRecursively();
    }
}

} // namespace
