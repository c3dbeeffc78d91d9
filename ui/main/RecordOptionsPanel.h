#pragma once
// RecordOptionsPanel: the options group of the main window — source, format, quality, automatic
// gain control, noise suppression, microphone amplification, microphone and system volume, and
// the output folder. Every choice is written to the configuration the moment the user makes it;
// the two volume sliders also act on the devices at once. Nothing is cached: the recorder and the
// start of a recording read the stored values.
//
//   RecordOptionsPanel options_{*this};   // a member of the main window
//   options_.FindControls();              // InitWindow, with the other controls
//   options_.Initialise();                // InitWindow, after the lookups
//   if (options_.Notify(msg)) ...         // from the window's Notify
//
// The source combo offers, beyond the three stored sources, "指定程序的声音" and "系统声音（排除指定程序）":
// both are stored as the system sound ("voice-source" 2), or with "record-app-mic" checked as both
// sources ("voice-source" 0, the microphone mixed in), narrowed by "app-source" (the program
// chosen in "record-app") or "app-exclude" (the programs checked in "record-app-exclude", '|'
// between; '|' alone while none is checked: the whole system sound, still shown as the exclusion);
// the three plain sources clear both keys. The choice shows again at the next start.
//
// Controls that would do nothing are disabled, their tip saying why: the microphone's processing
// (gain control, noise suppression, amplification) with WAV, which is recorded unprocessed, and
// without the microphone; the quality with WAV; the source, the format and the folder while a
// recording runs (the recording keeps what it started with).
//
// Thread: UI thread. The device calls it makes are bounded (about a second at worst without a
// sound server).

#include <QString>

#include <functional>
#include <memory>

class QAbstractButton;
class QAbstractSlider;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ProgramPicker;
class WindowImplBase;
struct TNotifyUI;

class RecordOptionsPanel {
public:
    // Amplification shown when none is stored (a stored 0 counts as none).
    static constexpr int kDefaultAmplification = 20;
    // Largest value of the three sliders; larger values are ignored.
    static constexpr int kMaxSliderValue = 100;

    // Told with the folder after the user chose a new output folder and it was stored.
    using FolderChanged = std::function<void(const QString& folder)>;

    // Entries of "record-audio-origin" beyond the three sources.
    static constexpr int kOneProgramEntry = 3;      // "指定程序的声音"
    static constexpr int kExcludeProgramsEntry = 4; // "系统声音（排除指定程序）"
    // A start refused: one program's sound chosen, and no program.
    static constexpr const char* kNoProgramText = "请先选择要录制的程序!";

    RecordOptionsPanel(WindowImplBase& window, FolderChanged folderChanged);
    ~RecordOptionsPanel();

    // Looks up the panel's controls in the window's skin. Missing ones are logged by the
    // framework and then left alone.
    void FindControls();
    // Fills the controls from the devices and the configuration: microphone volume, system
    // volume, amplification, format, quality, source, the two checks, the output folder.
    void Initialise();
    // Handles "itemselect", "selectchanged", "valuechanged" and the two folder buttons' "click";
    // true when msg came from one of the panel's controls.
    bool Notify(const TNotifyUI& msg);

    // A recording runs (true) or not: the source, the format and the folder follow.
    void SetRecording(bool recording);

    // Why a control is disabled; the layout's own tip shows while it is enabled.
    static constexpr const char* kWavProcessingTip = "WAV 格式录制原始声音，不做增益和降噪处理";
    static constexpr const char* kSystemOnlyTip = "仅录系统声音时不处理麦克风";
    static constexpr const char* kProgramsOnlyTip = "未勾选“同时录制麦克风”，不处理麦克风";
    static constexpr const char* kWavQualityTip = "WAV 格式不压缩，无需选择音质";
    static constexpr const char* kOneSourceTracksTip = "只录一种声音时无需分轨";
    static constexpr const char* kRecordingTip = "录音中不能更改，停止录音后再选择";

    // Why a start with the choices shown would record something else than they say (nullptr: it
    // would not).
    const char* StartRefusal() const;

    // Texts of the selected format and quality entries (empty when none is selected), read by a
    // start of a recording.
    QString SelectedFormatText() const;
    QString SelectedQualityText() const;

    // Shows folder in "save-path-eidt" (after the settings dialog changed it, for instance).
    void ShowFolder(const QString& folder);

private:
    void OnSourceSelected(int index);
    // "voice-source" for the shown entry and "record-app-mic" (-1: no entry shown).
    int ChosenSource() const;
    // Stores the programs of the shown source entry ("app-source" / "app-exclude").
    void StorePrograms();
    void OnFormatSelected(int index);
    void OnQualitySelected(int index);
    void OnCheckChanged(const QString& key, bool selected);
    void OnSliderMoved(const QString& name, int value);
    void ChooseFolder();
    // Enables the controls that apply to the chosen format and source and to the recording state.
    void UpdateApplicable();
    void OpenFolder();

    WindowImplBase& window_;
    FolderChanged folderChanged_;
    QComboBox* origin_ = nullptr;   // "record-audio-origin"
    std::unique_ptr<ProgramPicker> programs_; // "record-app", "record-app-exclude"
    QAbstractButton* appMic_ = nullptr; // "record-app-mic"
    QComboBox* format_ = nullptr;   // "record-audio-format"
    QComboBox* quality_ = nullptr;  // "record-audio-quality"
    QAbstractButton* agc_ = nullptr;   // "agc-check"
    QAbstractButton* noise_ = nullptr; // "noise-check"
    QAbstractButton* echo_ = nullptr;  // "echo-check"
    QAbstractButton* tracks_ = nullptr; // "split-tracks"
    QAbstractSlider* micSlider_ = nullptr;        // "mic-volume-slider"
    QLabel* micLabel_ = nullptr;                  // "mic-volume-label"
    QAbstractSlider* sysSlider_ = nullptr;        // "sys-volume-slider"
    QLabel* sysLabel_ = nullptr;                  // "sys-volume-label"
    QAbstractSlider* strengthenSlider_ = nullptr; // "mic-strengthen-slider"
    QLabel* strengthenLabel_ = nullptr;           // "mic-strengthen-label"
    QLineEdit* savePath_ = nullptr;       // "save-path-eidt"
    QAbstractButton* changeDir_ = nullptr; // "change-dir-btn"
    QAbstractButton* openDir_ = nullptr;   // "open-dir-btn"
    bool recording_ = false;
};
