// The options panel of the main window: what it shows from the configuration and the devices,
// and what each change writes.

#include "EndpointVolume.h"
#include "MainWndTestSupport.h"
#include "RecordOptionsPanel.h"
#include "SoundServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using MainWndOptionsTest = MainWndTest;

QString DefaultFolder(const TestEnv& env)
{
    return env.Root() + "/home/Documents/" + QString::fromUtf8("TAMSU电脑录音");
}

TEST_F(MainWndOptionsTest, FreshConfigurationShowsTheDefaults)
{
    ASSERT_EQ(SoundServer::Pactl({"set-source-volume", "mic", "60%"}), 0);
    ASSERT_EQ(SoundServer::Pactl({"set-sink-volume", "speaker", "100%"}), 0);
    OpenWindow();
    EXPECT_EQ(Control<QComboBox>("record-audio-origin")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>("record-audio-format")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>("record-audio-format")->currentText(), "mp3");
    EXPECT_EQ(Control<QComboBox>("record-audio-quality")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>("record-audio-quality")->currentText(), "64kbps");
    EXPECT_FALSE(Control<QAbstractButton>("agc-check")->isChecked());
    EXPECT_FALSE(Control<QAbstractButton>("noise-check")->isChecked());
    EXPECT_EQ(Control<QSlider>("mic-strengthen-slider")->value(), 20);
    EXPECT_EQ(Control<QLabel>("mic-strengthen-label")->text(), "20");
    // The volumes come from the devices; a device at full volume shows 100.
    EXPECT_EQ(Control<QSlider>("mic-volume-slider")->value(), 60);
    EXPECT_EQ(Control<QLabel>("mic-volume-label")->text(), "60");
    EXPECT_EQ(Control<QSlider>("sys-volume-slider")->value(), 100);
    EXPECT_EQ(Control<QLabel>("sys-volume-label")->text(), "100");
    // The output folder is shown and exists.
    EXPECT_EQ(Control<QLineEdit>("save-path-eidt")->text(), DefaultFolder(*env_));
    EXPECT_TRUE(QFileInfo(DefaultFolder(*env_)).isDir());
    // Showing the stored values wrote nothing.
    EXPECT_TRUE(Config("voice-size").isEmpty());
    EXPECT_TRUE(Config("mic-volume-size").isEmpty());
}

TEST_F(MainWndOptionsTest, StoredValuesAreShown)
{
    const struct {
        const char* key;
        const char* stored;
        const char* control;
        int shown; // entry index, slider value or check state
    } cases[] = {
        {"voice-source", "2", "record-audio-origin", 2},
        {"audio-format", "1", "record-audio-format", 1},
        {"voice-bitrate-index", "5", "record-audio-quality", 5},
        {"agc-check", "1", "agc-check", 1},
        {"noise-check", "1", "noise-check", 1},
        {"voice-size", "55", "mic-strengthen-slider", 55},
    };
    for (const auto& c : cases)
        SetConfig(c.key, c.stored);
    OpenWindow();
    for (const auto& c : cases) {
        QWidget* control = Control<QWidget>(c.control);
        ASSERT_NE(control, nullptr) << c.control;
        int shown = -100;
        if (auto* combo = qobject_cast<QComboBox*>(control))
            shown = combo->currentIndex();
        else if (auto* slider = qobject_cast<QSlider*>(control))
            shown = slider->value();
        else if (auto* button = qobject_cast<QAbstractButton*>(control))
            shown = button->isChecked() ? 1 : 0;
        EXPECT_EQ(shown, c.shown) << c.key << "=" << c.stored;
    }
    EXPECT_EQ(Control<QLabel>("mic-strengthen-label")->text(), "55");
}

TEST_F(MainWndOptionsTest, StoredValuesWithoutAnEntryLeaveTheLayoutsChoice)
{
    SetConfig("voice-source", "7");
    SetConfig("audio-format", "2");
    SetConfig("voice-bitrate-index", "6"); // no such entry: none is selected
    SetConfig("voice-size", "0");          // 0 shows as 20
    OpenWindow();
    EXPECT_EQ(Control<QComboBox>("record-audio-origin")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>("record-audio-format")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>("record-audio-quality")->currentIndex(), -1);
    EXPECT_EQ(Control<QSlider>("mic-strengthen-slider")->value(), 20);
    EXPECT_EQ(Config("voice-size"), "0") << "showing 20 does not store it";
}

TEST_F(MainWndOptionsTest, ChoosingAQualityStoresIndexThenBitRate)
{
    OpenWindow();
    Control<QComboBox>("record-audio-quality")->setCurrentIndex(3);
    EXPECT_EQ(Config("voice-bitrate-index"), "3");
    EXPECT_EQ(Config("voice-bitrate"), "192000");
    // Written in this order (new keys are appended to the file).
    QFile file(env_->ConfigFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    const auto index = text.indexOf("voice-bitrate-index=3");
    const auto rate = text.indexOf("voice-bitrate=192000");
    ASSERT_GE(index, 0);
    ASSERT_GE(rate, 0);
    EXPECT_LT(index, rate);
}

TEST_F(MainWndOptionsTest, EverySelectionIsStored)
{
    OpenWindow();
    const struct {
        const char* combo;
        int index;
        const char* key;
        const char* value;
        const char* extraKey;
        const char* extraValue;
    } cases[] = {
        {"record-audio-origin", 1, "voice-source", "1", nullptr, nullptr},
        {"record-audio-origin", 2, "voice-source", "2", nullptr, nullptr},
        {"record-audio-origin", 0, "voice-source", "0", nullptr, nullptr},
        {"record-audio-format", 1, "audio-format", "1", nullptr, nullptr},
        {"record-audio-format", 0, "audio-format", "0", nullptr, nullptr},
        {"record-audio-quality", 1, "voice-bitrate-index", "1", "voice-bitrate", "96000"},
        {"record-audio-quality", 5, "voice-bitrate-index", "5", "voice-bitrate", "320000"},
        {"record-audio-quality", 0, "voice-bitrate-index", "0", "voice-bitrate", "64000"},
    };
    for (const auto& c : cases) {
        Control<QComboBox>(c.combo)->setCurrentIndex(c.index);
        EXPECT_EQ(Config(c.key), c.value) << c.combo << " " << c.index;
        if (c.extraKey) {
            EXPECT_EQ(Config(c.extraKey), c.extraValue) << c.combo << " " << c.index;
        }
    }
}

TEST_F(MainWndOptionsTest, ChecksStoreTheirState)
{
    OpenWindow();
    for (const char* name : {"agc-check", "noise-check"}) {
        Click(name);
        EXPECT_EQ(Config(name), "1") << name;
        Click(name);
        EXPECT_EQ(Config(name), "0") << name;
    }
}

TEST_F(MainWndOptionsTest, MicrophoneSliderSetsTheDeviceAndStoresTheValue)
{
    ASSERT_EQ(SoundServer::Pactl({"set-source-mute", "mic", "1"}), 0);
    OpenWindow();
    Control<QSlider>("mic-volume-slider")->setValue(37);
    EXPECT_EQ(Control<QLabel>("mic-volume-label")->text(), "37");
    unsigned volume = 0;
    ASSERT_EQ(GetMicVolume(volume), 0);
    EXPECT_EQ(volume, 37u);
    EXPECT_EQ(Config("mic-volume-size"), "37");
    std::string mute;
    ASSERT_EQ(SoundServer::Pactl({"get-source-mute", "mic"}, &mute), 0);
    EXPECT_NE(mute.find("no"), std::string::npos) << "moving the slider unmutes the microphone: " << mute;
}

TEST_F(MainWndOptionsTest, SystemAndAmplificationSliders)
{
    OpenWindow();
    Control<QSlider>("sys-volume-slider")->setValue(55);
    EXPECT_EQ(Control<QLabel>("sys-volume-label")->text(), "55");
    float volume = 0;
    ASSERT_TRUE(GetSpeakerVolume(volume));
    EXPECT_EQ(static_cast<int>(volume), 55);
    EXPECT_EQ(Config("sys-volume-size"), "55");

    Control<QSlider>("mic-strengthen-slider")->setValue(0);
    EXPECT_EQ(Control<QLabel>("mic-strengthen-label")->text(), "0");
    EXPECT_EQ(Config("voice-size"), "0");
}

TEST_F(MainWndOptionsTest, ChosenFolderIsStoredAndUsedByTheNextRecording)
{
    OpenWindow();
    const QString folder = env_->MakeFolder("chosen");
    const auto chooser = ChooseFolderInNextDialog(folder);
    Click("change-dir-btn");
    ASSERT_TRUE(chooser->shown);
    EXPECT_EQ(chooser->text, QString::fromUtf8("选择保存目录"));
    EXPECT_EQ(Control<QLineEdit>("save-path-eidt")->text(), folder);
    EXPECT_EQ(Config("output-dir"), folder);
    EXPECT_FALSE(QFileInfo::exists(folder + "/TamsuAudioRecorderTmp")) << "the write probe is left behind";

    // The next recording goes there.
    SetConfig("voice-source", "2");
    Click("recorder-start");
    ASSERT_NE(window_->Recorder(), nullptr);
    Click("recorder-stop");
    EXPECT_EQ(window_->CurrentFolder(), folder);
    EXPECT_TRUE(QFileInfo::exists(folder + "/" + window_->CurrentFileName()));
}

TEST_F(MainWndOptionsTest, UnwritableFolderIsRefused)
{
    OpenWindow();
    // Not even root may create files here.
    const QString folder = "/proc";
    const auto chooser = ChooseFolderInNextDialog(folder);
    const auto refusal = std::make_shared<std::shared_ptr<BoxSeen>>();
    // The message box opens from within the folder chooser's click handling.
    QTimer::singleShot(0, [refusal] { *refusal = AnswerNextMessageBox(); });
    Click("change-dir-btn");
    ASSERT_TRUE(chooser->shown);
    ASSERT_TRUE(*refusal && (*refusal)->shown) << "no message box";
    EXPECT_EQ((*refusal)->text, QString::fromUtf8("该目录没有写入权限!"));
    EXPECT_EQ(Control<QLineEdit>("save-path-eidt")->text(), DefaultFolder(*env_));
    EXPECT_TRUE(Config("output-dir").isEmpty());
}

TEST_F(MainWndOptionsTest, CancelledChooserChangesNothing)
{
    OpenWindow();
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible())
                dialog->reject();
        }
    });
    Click("change-dir-btn");
    EXPECT_EQ(Control<QLineEdit>("save-path-eidt")->text(), DefaultFolder(*env_));
    EXPECT_TRUE(Config("output-dir").isEmpty());
}

} // namespace
