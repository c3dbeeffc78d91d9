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
// Thread: UI thread. The device calls it makes are bounded (about a second at worst without a
// sound server).

#include <QString>

class QAbstractButton;
class QAbstractSlider;
class QComboBox;
class QLabel;
class QLineEdit;
class WindowImplBase;
struct TNotifyUI;

class RecordOptionsPanel {
public:
    // Amplification shown when none is stored (a stored 0 counts as none).
    static constexpr int kDefaultAmplification = 20;
    // Largest value of the three sliders; larger values are ignored.
    static constexpr int kMaxSliderValue = 100;

    explicit RecordOptionsPanel(WindowImplBase& window);

    // Looks up the panel's controls in the window's skin. Missing ones are logged by the
    // framework and then left alone.
    void FindControls();
    // Fills the controls from the devices and the configuration: microphone volume, system
    // volume, amplification, format, quality, source, the two checks, the output folder.
    void Initialise();
    // Handles "itemselect", "selectchanged", "valuechanged" and the two folder buttons' "click";
    // true when msg came from one of the panel's controls.
    bool Notify(const TNotifyUI& msg);

    // Texts of the selected format and quality entries (empty when none is selected), read by a
    // start of a recording.
    QString SelectedFormatText() const;
    QString SelectedQualityText() const;

    // Accepts folder as the output folder as the settings dialog does (AcceptOutputFolder): shows
    // it and writes "output-dir"; otherwise the "not writable" box and nothing changes. True when
    // accepted. (What choosing a folder does after the chooser closed.)
    bool AcceptFolder(const QString& folder);
    // Shows folder in "save-path-eidt" (after the settings dialog changed it, for instance).
    void ShowFolder(const QString& folder);

private:
    void OnSourceSelected(int index);
    void OnFormatSelected(int index);
    void OnQualitySelected(int index);
    void OnCheckChanged(const QString& key, bool selected);
    void OnSliderMoved(const QString& name, int value);
    void ChooseFolder();
    void OpenFolder();

    WindowImplBase& window_;
    QComboBox* origin_ = nullptr;   // "record-audio-origin"
    QComboBox* format_ = nullptr;   // "record-audio-format"
    QComboBox* quality_ = nullptr;  // "record-audio-quality"
    QAbstractButton* agc_ = nullptr;   // "agc-check"
    QAbstractButton* noise_ = nullptr; // "noise-check"
    QAbstractSlider* micSlider_ = nullptr;        // "mic-volume-slider"
    QLabel* micLabel_ = nullptr;                  // "mic-volume-label"
    QAbstractSlider* sysSlider_ = nullptr;        // "sys-volume-slider"
    QLabel* sysLabel_ = nullptr;                  // "sys-volume-label"
    QAbstractSlider* strengthenSlider_ = nullptr; // "mic-strengthen-slider"
    QLabel* strengthenLabel_ = nullptr;           // "mic-strengthen-label"
    QLineEdit* savePath_ = nullptr;       // "save-path-eidt"
    QAbstractButton* changeDir_ = nullptr; // "change-dir-btn"
    QAbstractButton* openDir_ = nullptr;   // "open-dir-btn"
};
