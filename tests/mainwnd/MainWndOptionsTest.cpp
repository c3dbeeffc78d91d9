// The options panel of the main window: what it shows from the configuration and the devices,
// what each change writes, and the choice of the output folder.

#include "EndpointVolume.h"
#include "FolderPathField.h"
#include "MainWndTestSupport.h"
#include "RecordOptionsPanel.h"
#include "SoundServer.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace {

using MainWndOptionsTest = MainWndTest;

// What a combo box, slider or check box shows: entry index, value or check state.
int Shown(QWidget* control)
{
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentIndex();
    if (auto* slider = qobject_cast<QSlider*>(control))
        return slider->value();
    return qobject_cast<QAbstractButton*>(control)->isChecked() ? 1 : 0;
}

TEST_F(MainWndOptionsTest, StoredValuesOrTheDefaultsAreShownAndShowingWritesNothing)
{
    ASSERT_EQ(SoundServer::Pactl({"set-source-volume", "mic", "60%"}), 0);
    ASSERT_EQ(SoundServer::Pactl({"set-sink-volume", "speaker", "100%"}), 0);
    struct Row {
        const char* key;
        const char* stored; // nullptr: not stored
        const char* control;
        int shown; // entry index, slider value or check state
    };
    const std::vector<Row> configurations[] = {
        {{"voice-source", nullptr, "record-audio-origin", 0}, {"audio-format", nullptr, "record-audio-format", 0},
         {"voice-bitrate-index", nullptr, "record-audio-quality", 0}, {"agc-check", nullptr, "agc-check", 0},
         {"noise-check", nullptr, "noise-check", 0}, {"voice-size", nullptr, "mic-strengthen-slider", 20},
         {"mic-volume-size", nullptr, "mic-volume-slider", 60}, {"sys-volume-size", nullptr, "sys-volume-slider", 100}},
        {{"voice-source", "2", "record-audio-origin", 2}, {"audio-format", "1", "record-audio-format", 1},
         {"voice-bitrate-index", "5", "record-audio-quality", 5}, {"agc-check", "1", "agc-check", 1},
         {"noise-check", "1", "noise-check", 1}, {"voice-size", "55", "mic-strengthen-slider", 55}},
        // Without an entry: the layout's choice stays (none for the quality); 0 shows as 20.
        {{"voice-source", "7", "record-audio-origin", 0}, {"audio-format", "2", "record-audio-format", 0},
         {"voice-bitrate-index", "6", "record-audio-quality", -1}, {"voice-size", "0", "mic-strengthen-slider", 20}},
    };
    for (const auto& rows : configurations) {
        for (const Row& row : rows)
            if (row.stored)
                SetConfig(row.key, row.stored);
        OpenWindow();
        for (const Row& row : rows) {
            EXPECT_EQ(Shown(Control<QWidget>(row.control)), row.shown) << row.key << "=" << (row.stored ? row.stored : "");
            EXPECT_EQ(Config(row.key), row.stored ? row.stored : "") << row.key << " rewritten";
        }
        EXPECT_EQ(FolderPathField::Folder(Control<QLineEdit>("save-path-eidt")), DefaultFolder());
        EXPECT_TRUE(QFileInfo(DefaultFolder()).isDir());
        CloseWindow();
    }
}

TEST_F(MainWndOptionsTest, EveryChangeIsStoredAndReachesTheDevices)
{
    ASSERT_EQ(SoundServer::Pactl({"set-source-mute", "mic", "1"}), 0);
    OpenWindow();
    const struct {
        const char* control;
        int value; // entry index, slider value; check boxes are clicked
        const char* key;
        const char* stored;
    } cases[] = {
        {"record-audio-quality", 3, "voice-bitrate", "192000"}, {"record-audio-quality", 5, "voice-bitrate", "320000"},
        {"record-audio-quality", 0, "voice-bitrate", "64000"},  {"agc-check", 1, "agc-check", "1"},
        {"agc-check", 0, "agc-check", "0"},                    {"noise-check", 1, "noise-check", "1"},
        {"mic-strengthen-slider", 0, "voice-size", "0"},        {"mic-volume-slider", 37, "mic-volume-size", "37"},
        {"sys-volume-slider", 55, "sys-volume-size", "55"},
        // Last: each disables the microphone's processing.
        {"record-audio-origin", 2, "voice-source", "2"},       {"record-audio-format", 1, "audio-format", "1"},
    };
    for (const auto& c : cases) {
        QWidget* control = Control<QWidget>(c.control);
        if (auto* combo = qobject_cast<QComboBox*>(control))
            combo->setCurrentIndex(c.value);
        else if (auto* slider = qobject_cast<QSlider*>(control))
            slider->setValue(c.value);
        else
            Click(c.control);
        EXPECT_EQ(Config(c.key), c.stored) << c.control << " " << c.value;
    }
    EXPECT_EQ(Config("voice-bitrate-index"), "0");
    EXPECT_EQ(Control<QLabel>("mic-volume-label")->text(), "37");
    EXPECT_EQ(Control<QLabel>("sys-volume-label")->text(), "55");
    unsigned mic = 0;
    ASSERT_EQ(GetMicVolume(mic), 0);
    EXPECT_EQ(mic, 37u);
    float speaker = 0;
    ASSERT_TRUE(GetSpeakerVolume(speaker));
    EXPECT_EQ(static_cast<int>(speaker), 55);
    std::string mute;
    ASSERT_EQ(SoundServer::Pactl({"get-source-mute", "mic"}, &mute), 0);
    EXPECT_NE(mute.find("no"), std::string::npos) << "moving the slider did not unmute the microphone: " << mute;

    // The index is written before the bit rate (new keys are appended to the file).
    QFile file(env_->ConfigFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_LT(text.indexOf("voice-bitrate-index="), text.indexOf("voice-bitrate="));
}

TEST_F(MainWndOptionsTest, ControlsThatWouldDoNothingAreDisabledWithTheReasonAsTip)
{
    OpenWindow();
    const char* names[] = {"agc-check", "noise-check", "mic-strengthen-slider", "record-audio-quality",
                           "record-audio-origin", "record-audio-format", "change-dir-btn"};
    std::vector<QString> layoutTips;
    for (const char* name : names)
        layoutTips.push_back(Control<QWidget>(name)->toolTip());
    const auto* wav = RecordOptionsPanel::kWavProcessingTip;
    const auto* systemOnly = RecordOptionsPanel::kSystemOnlyTip;
    const auto* recording = RecordOptionsPanel::kRecordingTip;
    const struct {
        int format; // 0 mp3, 1 wav
        int source; // 0 both, 1 microphone, 2 system sound
        bool record;
        const char* why[7]; // per name: nullptr = enabled with the layout's tip
    } rows[] = {
        {0, 0, false, {}},
        {1, 0, false, {wav, wav, wav, RecordOptionsPanel::kWavQualityTip}},
        {0, 2, false, {systemOnly, systemOnly, systemOnly}},
        {1, 2, false, {wav, wav, wav, RecordOptionsPanel::kWavQualityTip}},
        {0, 1, true, {nullptr, nullptr, nullptr, nullptr, recording, recording, recording}},
        {0, 1, false, {}}, // after the stop
    };
    for (const auto& row : rows) {
        Control<QComboBox>("record-audio-format")->setCurrentIndex(row.format);
        Control<QComboBox>("record-audio-origin")->setCurrentIndex(row.source);
        if (row.record) {
            Click("recorder-start");
            ASSERT_NE(window_->Recorder(), nullptr);
        } else if (window_->Recorder()) {
            Click("recorder-stop");
        }
        for (std::size_t i = 0; i < std::size(names); ++i) {
            QWidget* control = Control<QWidget>(names[i]);
            EXPECT_EQ(control->isEnabled(), row.why[i] == nullptr) << names[i] << " " << row.format << row.source;
            EXPECT_EQ(control->toolTip(), row.why[i] ? QString::fromUtf8(row.why[i]) : layoutTips[i]) << names[i];
        }
    }
}

// Answers the next folder chooser, which must open at start: accepts folder, or cancels with an
// empty one.
void ChooseFolderInNextDialog(const QString& folder, const QString& start)
{
    QTimer::singleShot(0, [folder, start] {
        QFileDialog* dialog = VisibleBox<QFileDialog>();
        if (!dialog)
            return;
        EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("选择保存目录"));
        EXPECT_EQ(dialog->directory().absolutePath(), start);
        if (!folder.isEmpty()) {
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(folder); // typed, then "Choose"
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept checks the folder
        }
        if (dialog->isVisible())
            dialog->reject();
    });
}

TEST_F(MainWndOptionsTest, AChosenFolderIsStoredListedAndRecordedToUnwritableOrCancelledChangesNothing)
{
    SetConfig("voice-source", "2");
    OpenWindow();
    Click("recorder-start");
    Click("recorder-stop");
    auto* list = Control<QListWidget>("audio-record-list");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 1; }, kDeliveryTimeoutMs));

    const auto refusal = AnswerNextPrompt(kDeliveryTimeoutMs); // opens once the chooser has closed
    ChooseFolderInNextDialog("/proc", DefaultFolder()); // not even root may create files here
    Click("change-dir-btn");
    EXPECT_EQ(refusal->text, QString::fromUtf8("该目录没有写入权限!"));
    ChooseFolderInNextDialog(QString(), DefaultFolder());
    Click("change-dir-btn");
    EXPECT_EQ(FolderPathField::Folder(Control<QLineEdit>("save-path-eidt")), DefaultFolder());
    EXPECT_TRUE(Config("output-dir").isEmpty());
    EXPECT_EQ(list->count(), 1);

    // The chosen folder's own recordings replace the old folder's at once; a new one goes on top.
    const QString folder = env_->MakeFolder("chosen");
    QFile earlier(folder + "/earlier.wav");
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    ASSERT_TRUE(earlier.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    earlier.close();
    ChooseFolderInNextDialog(folder, DefaultFolder());
    Click("change-dir-btn");
    EXPECT_EQ(FolderPathField::Folder(Control<QLineEdit>("save-path-eidt")), folder);
    EXPECT_EQ(Config("output-dir"), folder);
    EXPECT_FALSE(QFileInfo::exists(folder + "/TamsuAudioRecorderTmp")) << "the write probe is left behind";
    const auto row = [list](int i) { return list->itemWidget(list->item(i))->findChild<QLabel*>("fileNameLabel")->text(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 1 && row(0) == "earlier.wav"; }, kDeliveryTimeoutMs));
    Click("recorder-start");
    ASSERT_NE(window_->Recorder(), nullptr);
    Click("recorder-stop");
    EXPECT_TRUE(QFileInfo::exists(folder + "/" + window_->CurrentFileName())) << "the recording went elsewhere";
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(row(0), window_->CurrentFileName());
}

} // namespace
