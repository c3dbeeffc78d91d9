#include "RecordOptionsPanel.h"

#include "ConfigStore.h"
#include "RecorderTypes.h"
#include "DesktopOpen.h"
#include "EndpointVolume.h"
#include "FolderPathField.h"
#include "Folders.h"
#include "OutputFolderChoice.h"
#include "ProgramPicker.h"
#include "TNotifyUI.h"
#include "WindowImplBase.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QStringList>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <array>

#include <glog/logging.h>

namespace {

// Values of "voice-source", entries of "record-audio-origin" (the sources and the two program
// choices) and of "record-audio-format".
constexpr int kSourceCount = 3;
constexpr int kOriginCount = 5;
constexpr int kFormatCount = 2;
// Stored quality indices that select an entry; 6 has no entry and leaves none selected, as it
// always has.
constexpr int kMaxStoredQualityIndex = 6;

// "app-exclude" for the exclusion chosen with no program checked yet: an empty list (the whole
// system sound), unlike no key, which is a plain source.
constexpr const char* kEmptyExclusion = "|";

// "voice-bitrate" beside each quality entry, written for the record.
constexpr std::array<const char*, 6> kQualityBitRateTexts{"64000", "96000", "128000", "192000", "256000", "320000"};

bool Write(const char* key, const QString& value)
{
    return WriteConfigString(config::kSection, key, value);
}

int ReadInt(const char* key)
{
    return static_cast<int>(ReadConfigInt(config::kSection, key, 0));
}

// Enables control, or disables it with why as its tip; the layout's tip comes back with it.
void SetApplicable(QWidget* control, const char* why)
{
    if (!control)
        return;
    static constexpr const char* kLayoutTip = "layoutToolTip";
    if (!control->property(kLayoutTip).isValid())
        control->setProperty(kLayoutTip, control->toolTip());
    control->setEnabled(why == nullptr);
    control->setToolTip(why ? QString::fromUtf8(why) : control->property(kLayoutTip).toString());
}

QString ReadText(const char* key, int capacity)
{
    QString text;
    ReadConfigString(config::kSection, key, "", text, capacity);
    return text.trimmed();
}

// Writes key only when it changes, so that a plain source leaves a configuration without the
// program keys as it was.
void WriteChanged(const char* key, const QString& value, int capacity)
{
    if (ReadText(key, capacity) != value)
        Write(key, value);
}

void SetSlider(QAbstractSlider* slider, QLabel* label, int value)
{
    if (slider)
        slider->setValue(value);
    if (label)
        label->setText(QString::number(slider ? slider->value() : value));
}

} // namespace

RecordOptionsPanel::RecordOptionsPanel(WindowImplBase& window, FolderChanged folderChanged)
    : window_(window)
    , folderChanged_(std::move(folderChanged))
{
}

RecordOptionsPanel::~RecordOptionsPanel() = default;

void RecordOptionsPanel::FindControls()
{
    origin_ = window_.FindControl<QComboBox>("record-audio-origin");
    format_ = window_.FindControl<QComboBox>("record-audio-format");
    quality_ = window_.FindControl<QComboBox>("record-audio-quality");
    agc_ = window_.FindControl<QAbstractButton>("agc-check");
    noise_ = window_.FindControl<QAbstractButton>("noise-check");
    echo_ = window_.FindControl<QAbstractButton>("echo-check");
    tracks_ = window_.FindControl<QAbstractButton>("split-tracks");
    appMic_ = window_.FindControl<QAbstractButton>("record-app-mic");
    micSlider_ = window_.FindControl<QAbstractSlider>("mic-volume-slider");
    micLabel_ = window_.FindControl<QLabel>("mic-volume-label");
    sysSlider_ = window_.FindControl<QAbstractSlider>("sys-volume-slider");
    sysLabel_ = window_.FindControl<QLabel>("sys-volume-label");
    strengthenSlider_ = window_.FindControl<QAbstractSlider>("mic-strengthen-slider");
    strengthenLabel_ = window_.FindControl<QLabel>("mic-strengthen-label");
    savePath_ = window_.FindControl<QLineEdit>("save-path-eidt");
    changeDir_ = window_.FindControl<QAbstractButton>("change-dir-btn");
    openDir_ = window_.FindControl<QAbstractButton>("open-dir-btn");
    if (origin_) { // the combo and its list as wide as the longest entry ("系统声音（排除指定程序）")
        constexpr int kEntryPadding = 48; // the list's item padding and frame
        constexpr int kComboPadding = 36; // the combo's text padding and its arrow
        int widest = 0;
        for (int i = 0; i < origin_->count(); ++i)
            widest = std::max(widest, origin_->fontMetrics().horizontalAdvance(origin_->itemText(i)));
        origin_->view()->setMinimumWidth(widest + kEntryPadding);
        origin_->setMinimumWidth(std::max(origin_->minimumWidth(), widest + kComboPadding));
    }
    programs_ = std::make_unique<ProgramPicker>(window_.FindControl<QWidget>("record-app-row"),
                                                window_.FindControl<QComboBox>("record-app"),
                                                window_.FindControl<QPushButton>("record-app-exclude"),
                                                [this] { StorePrograms(); });
}

void RecordOptionsPanel::Initialise()
{
    // 1. Microphone volume; a value that could not be read shows 0.
    unsigned micVolume = 0;
    GetMicVolume(micVolume);
    if (micVolume > kMaxSliderValue)
        micVolume = 0;
    SetSlider(micSlider_, micLabel_, static_cast<int>(micVolume));

    // 2. System volume. The device reports the rounded percent plus one half (100.5 at full
    //    volume), so it is truncated before the range check; checking first would show a device
    //    at full volume as 0.
    float sysVolume = 0;
    GetSpeakerVolume(sysVolume);
    const int sysPercent = sysVolume >= 0 && sysVolume < kMaxSliderValue + 1 ? static_cast<int>(sysVolume) : 0;
    SetSlider(sysSlider_, sysLabel_, sysPercent);

    // 3. Amplification: 0 (also "not stored") shows the default.
    int amplification = ReadInt(config::kVoiceSize);
    if (amplification == 0)
        amplification = kDefaultAmplification;
    SetSlider(strengthenSlider_, strengthenLabel_, amplification);

    // 4.-6. Format, quality, source; stored values without a meaning leave the layout's choice.
    const int format = ReadInt(config::kAudioFormat);
    if (format_ && format >= 0 && format < kFormatCount)
        format_->setCurrentIndex(format);
    const int quality = ReadInt(config::kVoiceBitrateIndex);
    if (quality_ && quality >= 0 && quality <= kMaxStoredQualityIndex)
        quality_->setCurrentIndex(quality < quality_->count() ? quality : -1);
    //    The system sound narrowed to one program, or without some, shows as its own entry, with
    //    the microphone mixed in when both sources are stored.
    const int source = ReadInt(config::kVoiceSource);
    const QString only = ReadText(config::kAppSource, config::kAppNameCapacity);
    const QString excluded = ReadText(config::kAppExclude, config::kAppNameCapacity * 8);
    std::vector<std::string> excludedNames;
    for (const QString& name : excluded.split('|', Qt::SkipEmptyParts))
        if (!name.trimmed().isEmpty())
            excludedNames.push_back(name.trimmed().toStdString());
    programs_->SetStored(only.toStdString(), excludedNames);
    const bool programs = (source == kSystemSound || source == kBoth) && (!only.isEmpty() || !excluded.isEmpty());
    if (appMic_)
        appMic_->setChecked(programs && source == kBoth);
    if (origin_ && source >= 0 && source < kSourceCount)
        origin_->setCurrentIndex(!programs ? source : !only.isEmpty() ? kOneProgramEntry : kExcludeProgramsEntry);

    // 7. The checks.
    if (agc_)
        agc_->setChecked(ReadInt(config::kAgcCheck) != 0);
    if (noise_)
        noise_->setChecked(ReadInt(config::kNoiseCheck) != 0);
    if (echo_) // on unless switched off
        echo_->setChecked(ReadConfigInt(config::kSection, config::kEchoCheck, 1) != 0);
    if (tracks_)
        tracks_->setChecked(ReadInt(config::kSplitTracks) != 0);

    // 8. The output folder (created when missing).
    ShowFolder(GetOutputFolder());
    UpdateApplicable();
}

void RecordOptionsPanel::SetRecording(bool recording)
{
    recording_ = recording;
    UpdateApplicable();
}

void RecordOptionsPanel::UpdateApplicable()
{
    const bool wav = SelectedFormatText() == QLatin1String("wav");
    const int origin = origin_ ? origin_->currentIndex() : -1;
    const int source = ChosenSource();
    const char* noMicrophone = source != kSystemSound ? nullptr : origin == kSystemSound ? kSystemOnlyTip : kProgramsOnlyTip;
    const char* processing = wav ? kWavProcessingTip : noMicrophone;
    for (QWidget* control : std::initializer_list<QWidget*>{agc_, noise_, echo_, strengthenSlider_, strengthenLabel_})
        SetApplicable(control, processing);
    SetApplicable(quality_, wav ? kWavQualityTip : nullptr);
    SetApplicable(tracks_, origin_ && source != kBoth ? kOneSourceTracksTip : nullptr);
    for (QWidget* control : std::initializer_list<QWidget*>{origin_, format_, changeDir_, appMic_})
        SetApplicable(control, recording_ ? kRecordingTip : nullptr);
    programs_->SetMode(origin == kOneProgramEntry         ? ProgramPicker::Mode::kOne
                       : origin == kExcludeProgramsEntry ? ProgramPicker::Mode::kExclude
                                                         : ProgramPicker::Mode::kNone);
    programs_->SetDisabledWhy(recording_ ? kRecordingTip : nullptr);
}

const char* RecordOptionsPanel::StartRefusal() const
{
    const bool oneProgram = origin_ && origin_->currentIndex() == kOneProgramEntry;
    return oneProgram && programs_->Chosen().empty() ? kNoProgramText : nullptr;
}

bool RecordOptionsPanel::Notify(const TNotifyUI& msg)
{
    const QWidget* sender = msg.sender;
    const int value = static_cast<int>(msg.wParam);
    if (msg.type == QLatin1String(kNotifyItemSelect)) {
        if (sender && sender == origin_)
            OnSourceSelected(value);
        else if (sender && sender == format_)
            OnFormatSelected(value);
        else if (sender && sender == quality_)
            OnQualitySelected(value);
        else
            return false;
        return true;
    }
    if (msg.type == QLatin1String(kNotifySelectChanged)) {
        if (sender && sender == agc_)
            OnCheckChanged(config::kAgcCheck, msg.wParam != 0);
        else if (sender && sender == noise_)
            OnCheckChanged(config::kNoiseCheck, msg.wParam != 0);
        else if (sender && sender == echo_)
            OnCheckChanged(config::kEchoCheck, msg.wParam != 0);
        else if (sender && sender == tracks_)
            OnCheckChanged(config::kSplitTracks, msg.wParam != 0);
        else if (sender && sender == appMic_)
            OnSourceSelected(origin_ ? origin_->currentIndex() : -1);
        else
            return false;
        return true;
    }
    if (msg.type == QLatin1String(kNotifyValueChanged)) {
        if (!sender || (sender != micSlider_ && sender != sysSlider_ && sender != strengthenSlider_))
            return false;
        OnSliderMoved(msg.senderName, value);
        return true;
    }
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (sender && sender == changeDir_)
            ChooseFolder();
        else if (sender && sender == openDir_)
            OpenFolder();
        else
            return false;
        return true;
    }
    return false;
}

QString RecordOptionsPanel::SelectedFormatText() const
{
    return format_ ? format_->currentText() : QString();
}

QString RecordOptionsPanel::SelectedQualityText() const
{
    return quality_ ? quality_->currentText() : QString();
}

void RecordOptionsPanel::OnSourceSelected(int index)
{
    if (index < 0 || index >= kOriginCount)
        return;
    Write(config::kVoiceSource, QString::number(ChosenSource()));
    StorePrograms();
    UpdateApplicable(); // a one-program choice without a program takes the first one playing
}

int RecordOptionsPanel::ChosenSource() const
{
    const int origin = origin_ ? origin_->currentIndex() : -1;
    if (origin < kSourceCount)
        return origin;
    return appMic_ && appMic_->isChecked() ? kBoth : kSystemSound;
}

void RecordOptionsPanel::StorePrograms()
{
    const int origin = origin_ ? origin_->currentIndex() : -1;
    QString only, excluded;
    if (origin == kOneProgramEntry) {
        only = QString::fromStdString(programs_->Chosen());
    } else if (origin == kExcludeProgramsEntry) {
        QStringList names;
        for (const std::string& name : programs_->Excluded())
            names << QString::fromStdString(name);
        excluded = names.isEmpty() ? QString::fromLatin1(kEmptyExclusion) : names.join('|');
    }
    WriteChanged(config::kAppSource, only, config::kAppNameCapacity);
    WriteChanged(config::kAppExclude, excluded, config::kAppNameCapacity * 8);
}

void RecordOptionsPanel::OnFormatSelected(int index)
{
    if (index >= 0 && index < kFormatCount)
        Write(config::kAudioFormat, QString::number(index));
    UpdateApplicable();
}

void RecordOptionsPanel::OnQualitySelected(int index)
{
    if (index < 0 || index >= static_cast<int>(kQualityBitRateTexts.size()))
        return;
    Write(config::kVoiceBitrateIndex, QString::number(index));
    Write(config::kVoiceBitrate, QString::fromLatin1(kQualityBitRateTexts[index]));
}

void RecordOptionsPanel::OnCheckChanged(const QString& key, bool selected)
{
    WriteConfigString(config::kSection, key, selected ? QStringLiteral("1") : QStringLiteral("0"));
}

void RecordOptionsPanel::OnSliderMoved(const QString& name, int value)
{
    if (value < 0 || value > kMaxSliderValue)
        return;
    const QString text = QString::number(value);
    if (name == QLatin1String("mic-volume-slider")) {
        if (micLabel_)
            micLabel_->setText(text);
        SetMicVolume(false, static_cast<float>(value)); // also unmutes the microphone
        Write(config::kMicVolumeSize, text);
    } else if (name == QLatin1String("sys-volume-slider")) {
        if (sysLabel_)
            sysLabel_->setText(text);
        SetSpeakerVolume(static_cast<float>(value));
        Write(config::kSysVolumeSize, text);
    } else if (name == QLatin1String("mic-strengthen-slider")) {
        if (strengthenLabel_)
            strengthenLabel_->setText(text);
        Write(config::kVoiceSize, text);
    }
}

void RecordOptionsPanel::ChooseFolder()
{
    // The chooser opens at the folder in use.
    const QString folder = PickOutputFolder(&window_, FolderPathField::Folder(savePath_));
    if (folder.isEmpty() || !AcceptOutputFolder(&window_, folder))
        return;
    ShowFolder(folder);
    if (folderChanged_)
        folderChanged_(folder);
}

void RecordOptionsPanel::ShowFolder(const QString& folder)
{
    FolderPathField::Show(savePath_, folder);
}

void RecordOptionsPanel::OpenFolder()
{
    const QString folder = FolderPathField::Folder(savePath_);
    if (!folder.isEmpty())
        OpenWithDesktop(&window_, QUrl::fromLocalFile(folder));
}
