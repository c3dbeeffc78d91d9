// The options panel of the main window: what it shows from the configuration and the devices,
// what each change writes, and the choice of the output folder.

#include "EndpointVolume.h"
#include "FolderPathField.h"
#include "MainWndTestSupport.h"
#include "Process.h"
#include "ProgramPicker.h"
#include "RecordOptionsPanel.h"
#include "SoundServer.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTest>

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
        const char* control; // nullptr: only not rewritten
        int shown; // entry index, slider value or check state
    };
    const std::vector<Row> configurations[] = {
        {{"voice-source", nullptr, "record-audio-origin", 0}, {"audio-format", nullptr, "record-audio-format", 0},
         {"voice-bitrate-index", nullptr, "record-audio-quality", 0}, {"agc-check", nullptr, "agc-check", 0},
         {"noise-check", nullptr, "noise-check", 0}, {"voice-size", nullptr, "mic-strengthen-slider", 20},
         {"mic-volume-size", nullptr, "mic-volume-slider", 60}, {"sys-volume-size", nullptr, "sys-volume-slider", 100},
         {"split-tracks", nullptr, "split-tracks", 0}},
        {{"voice-source", "2", "record-audio-origin", 2}, {"audio-format", "1", "record-audio-format", 1},
         {"voice-bitrate-index", "5", "record-audio-quality", 5}, {"agc-check", "1", "agc-check", 1},
         {"noise-check", "1", "noise-check", 1}, {"voice-size", "55", "mic-strengthen-slider", 55},
         {"split-tracks", "1", "split-tracks", 1}},
        // Without an entry: the layout's choice stays (none for the quality); 0 shows as 20.
        {{"voice-source", "7", "record-audio-origin", 0}, {"audio-format", "2", "record-audio-format", 0},
         {"voice-bitrate-index", "6", "record-audio-quality", -1}, {"voice-size", "0", "mic-strengthen-slider", 20}},
        // A program with the microphone; the exclusion with nothing left out yet.
        {{"voice-source", "0", "record-audio-origin", 3}, {"app-source", "tamsu-player", "record-app-mic", 1}},
        {{"voice-source", "2", "record-audio-origin", 4}, {"app-source", "", "record-app-mic", 0}, {"app-exclude", "|", nullptr, 0}},
    };
    for (const auto& rows : configurations) {
        for (const Row& row : rows)
            if (row.stored)
                SetConfig(row.key, row.stored);
        OpenWindow();
        for (const Row& row : rows) {
            if (row.control) {
                EXPECT_EQ(Shown(Control<QWidget>(row.control)), row.shown) << row.key << "=" << (row.stored ? row.stored : "");
            }
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
        {"record-audio-quality", 5, "voice-bitrate", "320000"}, {"record-audio-quality", 0, "voice-bitrate", "64000"},
        {"agc-check", 1, "agc-check", "1"},                      {"agc-check", 0, "agc-check", "0"},
        {"noise-check", 1, "noise-check", "1"},                  {"mic-strengthen-slider", 0, "voice-size", "0"},
        {"mic-volume-slider", 37, "mic-volume-size", "37"},      {"sys-volume-slider", 55, "sys-volume-size", "55"},
        {"split-tracks", 1, "split-tracks", "1"},
        {"record-audio-format", 1, "audio-format", "1"}, // last: it disables the processing (the source: the controls' table)
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
}

// Per format, source entry and "record-app-mic" (and the source stored); while recording: the folder test.
TEST_F(MainWndOptionsTest, ControlsThatWouldDoNothingAreDisabledWithTheReasonAsTip)
{
    OpenWindow();
    const char* names[] = {"agc-check", "noise-check", "mic-strengthen-slider", "record-audio-quality", "split-tracks"};
    QStringList layoutTips;
    for (const char* name : names)
        layoutTips << Control<QWidget>(name)->toolTip();
    const char *wav = RecordOptionsPanel::kWavProcessingTip, *system = RecordOptionsPanel::kSystemOnlyTip,
               *programs = RecordOptionsPanel::kProgramsOnlyTip, *quality = RecordOptionsPanel::kWavQualityTip,
               *tracks = RecordOptionsPanel::kOneSourceTracksTip;
    const struct {
        int format; // 0 mp3, 1 wav
        int origin; // 0 both, 1 microphone, 2 system sound, 3 one program, 4 all but some
        bool mic;   // "record-app-mic"
        const char* stored; // "voice-source"
        const char* why[5]; // per name: nullptr = enabled with the layout's tip
    } rows[] = {
        {0, 2, false, "2", {system, system, system, nullptr, tracks}}, {1, 2, false, "2", {wav, wav, wav, quality, tracks}},
        {1, 0, false, "0", {wav, wav, wav, quality}}, {0, 1, false, "1", {nullptr, nullptr, nullptr, nullptr, tracks}},
        {0, 3, false, "2", {programs, programs, programs, nullptr, tracks}}, {0, 3, true, "0", {}},
        {0, 4, true, "0", {}}, {0, 4, false, "2", {programs, programs, programs, nullptr, tracks}},
    };
    for (const auto& row : rows) {
        Control<QComboBox>("record-audio-format")->setCurrentIndex(row.format);
        Control<QComboBox>("record-audio-origin")->setCurrentIndex(row.origin);
        if (row.origin >= RecordOptionsPanel::kOneProgramEntry && Control<QAbstractButton>("record-app-mic")->isChecked() != row.mic)
            Click("record-app-mic");
        EXPECT_EQ(Config("voice-source"), row.stored) << row.format << row.origin << row.mic;
        for (std::size_t i = 0; i < std::size(names); ++i) {
            QWidget* control = Control<QWidget>(names[i]);
            EXPECT_EQ(control->isEnabled(), row.why[i] == nullptr) << names[i] << " " << row.format << row.origin << row.mic;
            EXPECT_EQ(control->toolTip(), row.why[i] ? QString::fromUtf8(row.why[i]) : layoutTips[i]) << names[i];
        }
    }
}

TEST_F(MainWndOptionsTest, AChosenFolderIsStoredListedAndRecordedToCancelledChangesNothing)
{
    SetConfig("voice-source", "2");
    ASSERT_TRUE(QDir().mkpath(DefaultFolder()) && QFile(DefaultFolder() + "/old.wav").open(QIODevice::WriteOnly));
    OpenWindow();
    auto* list = Control<QListWidget>("audio-record-list");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 1; }, kDeliveryTimeoutMs));

    // Cancelled: nothing changes. (A refused folder, the write probe: the settings dialog's test.)
    ChooseFolderInNextDialog(QString(), DefaultFolder());
    Click("change-dir-btn");
    EXPECT_EQ(FolderPathField::Folder(Control<QLineEdit>("save-path-eidt")), DefaultFolder());
    EXPECT_TRUE(Config("output-dir").isEmpty());
    EXPECT_EQ(list->count(), 1);

    // The chosen folder's own recordings replace the old folder's at once; a new one goes on top.
    const QString folder = env_->MakeFolder("chosen");
    ASSERT_TRUE(QFile(folder + "/earlier.wav").open(QIODevice::WriteOnly));
    ChooseFolderInNextDialog(folder, DefaultFolder());
    Click("change-dir-btn");
    EXPECT_EQ(FolderPathField::Folder(Control<QLineEdit>("save-path-eidt")), folder);
    EXPECT_EQ(Config("output-dir"), folder);
    const auto row = [list](int i) { return list->itemWidget(list->item(i))->findChild<QLabel*>("fileNameLabel")->text(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 1 && row(0) == "earlier.wav"; }, kDeliveryTimeoutMs));
    Click("recorder-start");
    ASSERT_NE(window_->Recorder(), nullptr);
    // While it runs, source, format and folder stay as they are.
    for (auto* w : {Control<QWidget>("record-audio-origin"), Control<QWidget>("record-audio-format"), Control<QWidget>("change-dir-btn")})
        EXPECT_TRUE(!w->isEnabled() && w->toolTip() == QString::fromUtf8(RecordOptionsPanel::kRecordingTip)) << w->objectName().toStdString();
    Click("recorder-stop");
    EXPECT_TRUE(Control<QWidget>("record-audio-origin")->isEnabled());
    EXPECT_TRUE(QFileInfo::exists(folder + "/" + window_->CurrentFileName())) << "the recording went elsewhere";
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(row(0), window_->CurrentFileName());
}

// The programs offered follow the sound server by themselves; each is stored by its binary, and a
// stored one that plays nothing stays offered.
TEST_F(MainWndOptionsTest, ProgramsFollowTheServerAndAreStoredByTheirLastingName)
{
    SetConfig("voice-source", "2");
    SetConfig("app-exclude", "gone-player");
    OpenWindow();
    auto* origin = Control<QComboBox>("record-audio-origin");
    auto* one = Control<QComboBox>("record-app");
    origin->setCurrentIndex(RecordOptionsPanel::kOneProgramEntry); // what it stores: the controls' table
    BoxResponder boxes; // nothing plays: nothing to record
    Click("recorder-start");
    EXPECT_EQ(boxes.texts, QStringList{QString::fromUtf8(RecordOptionsPanel::kNoProgramText)});
    EXPECT_EQ(window_->Recorder(), nullptr);
    Process player({"bash", "-c", "exec pacat --client-name='Tamsu Player' --property=application.process.binary=tamsu-player "
                                  "--raw --device=speaker --format=s16le --rate=44100 --channels=2 </dev/zero"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return one->count() == 1; }, kDeliveryTimeoutMs));
    EXPECT_EQ(one->currentText(), "Tamsu Player"); // the first to play is taken
    EXPECT_EQ(Config("app-source"), "tamsu-player");

    origin->setCurrentIndex(RecordOptionsPanel::kExcludeProgramsEntry);
    EXPECT_EQ(Config("app-source"), "");
    QMenu* menu = Control<QPushButton>("record-app-exclude")->menu();
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[1]->text(), QString::fromUtf8("gone-player（未在播放）"));
    menu->actions()[0]->toggle();
    EXPECT_EQ(Config("app-exclude"), "tamsu-player|gone-player");
    for (QAction* action : menu->actions()) // none left out: everything is recorded, the entry stays
        action->toggle();
    EXPECT_EQ(Config("app-exclude"), "|");
    EXPECT_EQ(Control<QPushButton>("record-app-exclude")->toolTip(), QString::fromUtf8(ProgramPicker::kNoneExcludedTip));

    origin->setCurrentIndex(kSystemSound); // the plain system sound: every program
    EXPECT_FALSE(Control<QWidget>("record-app-row")->isVisible());
    EXPECT_EQ(Config("app-exclude"), "");
}

} // namespace
