#pragma once
// SetingDialog, "系统设置": the output folder of recordings ("output-dir", with "choose-dir" and
// "open-dir") and what the main window's close button does ("window-close-exit" stores
// "window-close" 0, "window-close-tray" stores 1) and voice activation ("voice-activation", the
// check box "有声音时录音": the next recording keeps only the voiced stretches); "schedule" opens the
// scheduled recording's dialog (ScheduleDialog). "shortcut-keys" shows the desktop's global
// shortcuts of the recorder; where the desktop offers none, it shows the command to bind to a key
// instead ("tamsu-recorder --toggle") and "copy-command" puts that on the clipboard. Each change is stored the moment it is made;
// there is no confirm step. Skin "Seting.xml", modal over the main window.
//
//   SetingDialog::Show(mainWindow, [](const QString& folder) { ...the new output folder... });
//
// While a recording runs, the folder cannot be changed (SetRecording): the recording's file stays
// where the list shows it.
//
// Thread: UI thread.

#include "WindowImplBase.h"

#include <QPointer>
#include <QString>

#include <functional>

class QAbstractButton;
class QLineEdit;

class SetingDialog : public WindowImplBase {
    Q_OBJECT
public:
    // Shown when "open-dir" is asked for a folder that does not exist (any more).
    static constexpr const char* kFolderMissingText = "该目录不存在!";
    // The command a desktop without global shortcuts for programs can bind to a key.
    static constexpr const char* kToggleCommand = "tamsu-recorder --toggle";
    static constexpr const char* kBindCommandText = "在桌面的键盘设置中为此命令设置快捷键:\n%1";
    // Tip of "choose-dir" while a recording runs.
    static constexpr const char* kRecordingTip = "录音中不能更改保存目录";
    // The notice's box: the text in one line.
    static constexpr int kPromptWidth = 200;
    static constexpr int kPromptHeight = 100;

    // Told with the folder each time a new output folder was chosen and stored.
    using FolderChanged = std::function<void(const QString& folder)>;

    SetingDialog(QWidget* mainWindow, FolderChanged folderChanged, bool recording, QString shortcutKeys = {});
    ~SetingDialog() override;

    // Creates the dialog, centres it on mainWindow and runs it modally until it is closed;
    // recording: a recording runs (the folder stays as it is); shortcutKeys: the desktop's keys of
    // the recorder, empty where it has none.
    static void Show(QWidget* mainWindow, FolderChanged folderChanged = {}, bool recording = false,
                     const QString& shortcutKeys = {});

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnFinalMessage() override;

private:
    void ChooseFolder();
    void OpenFolder();
    void ShowFolder(const QString& folder);

    QPointer<QWidget> mainWindow_; // not owned
    FolderChanged folderChanged_;
    bool recording_;
    QString shortcutKeys_;
    QLineEdit* outputDir_ = nullptr;
    QAbstractButton* chooseDir_ = nullptr;
    QAbstractButton* openDir_ = nullptr;
    QAbstractButton* closeExit_ = nullptr;
    QAbstractButton* closeTray_ = nullptr;
    QAbstractButton* voiceActivation_ = nullptr;
};
