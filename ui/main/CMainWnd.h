#pragma once
// CMainWnd: the program's main window, "TAMSU电脑录音软件". It hosts the recorder controls, the
// options panel (RecordOptionsPanel), the recordings list, the account area and the help and
// feedback buttons, and owns the AudioRecorder while a recording exists.
//
// A recording, from the user's side:
//   "recorder-start"  idle:   checks the devices against the configured source (prompts), names
//                             the file "新录音-" + local time + extension in the output folder,
//                             opens and runs a recorder -> recording
//                     paused: resumes -> recording
//   "recorder-pause"  recording -> paused
//   "recorder-stop"   recording or paused: stops the recorder and waits until the file is
//                     complete (the recorder needs well under 100 ms) -> idle
// The recorder reports the elapsed seconds from its encode thread; they arrive here as message
// WM_RECORDER_SECONDS (1724) and show in "recorder-progress" as hours:minutes:seconds.
// A recording that stopped itself (full disk, failed write) arrives as kMsgRecorderError: the
// window ends it as "recorder-stop" would, then says why. Its peak levels arrive as
// kMsgRecorderLevels and move the meters "mic-level" and "sys-level" (LevelMeters); while no
// recording runs and the window is on screen, the meters follow the sound server instead.
//
// Ending the window (quit message 1234, the program being asked to quit, or the close button
// when "window-close" is 0) finishes a running recording first, so its file is complete; then
// the window posts the application's quit. With "window-close" non-zero the close button and the
// desktop's own close only put the window away (CloseBehaviour). The tray icon (TrayIcon) and
// its task menu (CMainTaskMenu) drive the window through the messages 1234-1239 and 1254. On a
// desktop without a status area the button "main-menu" in the title bar opens the same menu.
//
// Remote commands (tamsu-recorder --start, --stop, --pause, --resume, --toggle, --status) arrive
// through the instance socket and act as the buttons do, without any prompt: a refused start
// answers with the prompt's text instead, for the command to print.
//
// The desktop's global shortcuts (GlobalShortcuts, where the desktop offers them) act as --toggle
// and as pause/resume. While the window is not in front, the desktop shows a notice
// (DesktopNotifier) when a scheduled or remote-started recording begins or ends, when a recording
// stops by a fault and when recordings were recovered at start.
//
// With voice activation, the status line says "等待声音…" while the recording waits for sound
// (kMsgRecorderWaiting); the elapsed time stands still meanwhile.
//
// The stored scheduled recording (ScheduleRunner) starts and stops recordings as the buttons do;
// its next start shows under the elapsed time ("schedule-info") and in the tray's tip.
//
// Start-up: Create(nullptr, kWindowTitle), CenterWindow(), ShowWindow(). InitWindow repairs the
// recordings a crash left unfinished (before the window shows); when there were any, the window
// says so once it shows. The window deletes itself after its final message.
//
// Thread: UI thread, except the RecorderOwner methods (the recorder's encode thread).

#include "CWndShadow.h"
#include "DesktopNotifier.h"
#include "GlobalShortcuts.h"
#include "InstanceServer.h"
#include "LevelMeters.h"
#include "OnlineStartup.h"
#include "RecordOptionsPanel.h"
#include "RecordingsList.h"
#include "ScheduleRunner.h"
#include "RecorderTypes.h"
#include "RecordingPlan.h"
#include "TrayIcon.h"
#include "WindowImplBase.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AudioRecorder;
class QAbstractButton;
class QLabel;
class QListWidget;

class CMainWnd : public WindowImplBase, public RecorderOwner {
    Q_OBJECT
public:
    // The window's title, also the tray icon's tip.
    static constexpr const char* kWindowTitle = "TAMSU电脑录音软件";

    // Messages of the task menu this window handles itself (the others come with the tray menu).
    static constexpr unsigned kMsgQuit = 1234; // close for real, with this code
    static constexpr unsigned kMsgShow = 1235; // show and activate the window
    static constexpr unsigned kMsgHelp = 1236;     // open the help page
    static constexpr unsigned kMsgSeting = 1237;   // show the window, run the settings dialog
    static constexpr unsigned kMsgFeedback = 1238; // show the window, run the feedback dialog
    static constexpr unsigned kMsgUpgrade = 1239;  // interactive upgrade check
    static constexpr unsigned kMsgSchedule = 1240; // show the window, run the schedule dialog
    // Reports of the recorder, posted from its encode thread (next to WM_RECORDER_SECONDS, 1724).
    static constexpr unsigned kMsgRecorderError = 1725;  // lParam: the RecorderError
    static constexpr unsigned kMsgRecorderLevels = 1726; // lParam: both levels (see the .cpp)
    static constexpr unsigned kMsgRecorderWaiting = 1727; // lParam: 1 waits for sound, 0 records
    // After a recording was added to the list: one tick brings the new entry into view. 50 ms
    // lets the list lay the new row out first.
    static constexpr int kListScrollTimer = 1001;
    static constexpr int kListScrollMs = 50;

    // Texts of the recorder's status line.
    static constexpr const char* kInfoReady = "准备录音";
    static constexpr const char* kInfoRecording = "正在录音";
    static constexpr const char* kInfoPaused = "暂停录音";
    static constexpr const char* kInfoWaiting = "等待声音…";
    static constexpr const char* kProgressZero = "00:00:00";

    // Prompts of a start, with their box sizes.
    static constexpr const char* kNoSpeakerText = "未启用音频输出设备!";
    static constexpr const char* kNoMicSystemOnlyText = "没有插入麦克风设备,仅录系统声音";
    static constexpr const char* kNoMicText = "请先插入麦克风设备!";
    static constexpr const char* kDeviceErrorText = "音频设备出错!";
    static constexpr const char* kFolderNotWritableText = "该目录没有写入权限!";
    // Prompts of a recording that stopped itself, and of a start after a crash.
    static constexpr const char* kDiskFullText = "磁盘空间不足，录音已停止";
    static constexpr const char* kWriteFailedText = "录音文件写入失败，录音已停止";
    static constexpr const char* kRecoveredText = "已恢复上次未完成的录音";
    // Answer to a remote pause or resume while nothing records.
    static constexpr const char* kNotRecordingText = "没有正在进行的录音";
    // A global shortcut the desktop holds without keys.
    static constexpr const char* kNoKeyText = "未设置";
    static constexpr int kPromptWidth = 200;
    static constexpr int kWidePromptWidth = 250;
    static constexpr int kPromptHeight = 100;

    // Repairs the recordings a crash left unfinished and returns their paths.
    using RecoverFunction = std::function<std::vector<std::string>()>;

    // recover runs once, in InitWindow; none given: RecoverUnfinishedRecordings (tests hand in
    // their own).
    explicit CMainWnd(RecoverFunction recover = RecoverFunction());
    // Finishes a recording that still runs (the file is complete afterwards).
    ~CMainWnd() override;

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    // Builds the program's own controls of the skin: the timeline ("PaintView").
    QWidget* CreateControl(const QString& className, QWidget* parent, const QString& name) override;
    void OnCreate() override;
    void InitWindow() override;
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                      bool& handled) override;
    void Notify(TNotifyUI& msg) override;
    void OnTimer(int id) override;
    void OnClose(int code, bool& handled) override;
    void OnFinalMessage() override;

    // RecorderOwner, on the recorder's encode thread: each posts its message to the window.
    void PostRecorderSeconds(int64_t seconds) override;
    void PostRecorderError(RecorderError error) override;
    void PostRecorderLevels(float mic, float system) override;
    void PostRecorderWaiting(bool waiting) override;

    // The recording in progress (nullptr while idle), its file name and folder (also of the last
    // one after a stop).
    AudioRecorder* Recorder() const { return recorder_.get(); }
    const QString& CurrentFileName() const { return currentFileName_; }
    const QString& CurrentFolder() const { return currentFolder_; }
    // A remote command (the instance socket's handler): acts, then answers with the state.
    RemoteAnswer HandleRemote(const RemoteRequest& request);
    // The local socket through which a second start reaches this window.
    const InstanceServer& Instance() const { return instanceServer_; }
    // The level meters (polling the sound server while idle and on screen).
    const LevelMeters& Meters() const { return meters_; }
    // The desktop's global shortcuts (from InitWindow on), and what the settings dialog shows of
    // them: the keys the desktop bound, or empty where it offers none (the command to bind shows).
    const GlobalShortcuts* Shortcuts() const { return shortcuts_.get(); }
    QString ShortcutKeysText() const;
    // The icon in the desktop's status area.
    const TrayIcon& Tray() const { return tray_; }
    // The recordings list "audio-record-list".
    RecordingsList& Recordings() { return recordings_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class RecorderView { kIdle, kRecording, kPaused };
    // Who started or stopped a recording: the window's buttons, the schedule, or a command or
    // global shortcut. The last two are told by a notice when the window is not in front.
    enum class Origin { kWindow, kSchedule, kRemote };

    // Starts a recording with overrides on the stored choices. The refusal's prompt text, or
    // nullptr when the recording runs; the prompts show in the window unless quiet.
    const char* StartRecording(const PlanOverrides& overrides = {}, bool quiet = false,
                               Origin origin = Origin::kWindow);
    // The recorder's state as a remote answer names it.
    RemoteAnswer RemoteState() const;
    void ResumeRecording();
    void PauseRecording();
    void StopRecording(Origin by = Origin::kWindow);
    // The window is on screen, not minimised, and it or a dialog of the program is active: the
    // user sees what happens.
    bool InFront() const;
    // The desktop's notice of event, unless the window is in front.
    void Notice(DesktopNotifier::Event event, const QString& detail = {});
    // A global shortcut was pressed: kToggleId acts as --toggle, kPauseId pauses or resumes.
    void OnShortcut(const QString& id);
    // kMsgRecorderError: the recording stopped itself.
    void OnRecorderError(RecorderError error);
    // Stops the recorder and destroys it; the destructor returns once the file is complete.
    void FinishRecorder();
    // Visibility, animation and status text of the recorder controls for view.
    void ShowRecorderView(RecorderView view);
    void Prompt(const char* text, int width);
    // A finished recording: folder/file name is complete on disk.
    void OnRecordingFinished();
    // The meters follow the sound server while the window is on screen and nothing records;
    // during a voice-activated recording they mark its threshold.
    void UpdateLevelSource();
    // The stored schedule, carried out from now on.
    void StartSchedule();
    // kMsgSchedule: the window to the front, then the schedule dialog, modally; the schedule
    // stored there is carried out.
    void ShowSchedule();
    // kMsgSeting: the window to the front, then the settings dialog, modally.
    void ShowSettings();
    // A new output folder was stored (options panel or settings dialog): shown, and listed.
    void OnOutputFolderChanged(const QString& folder);
    // Where the desktop has no status area, "main-menu" offers the tray menu's items; it opens
    // the same menu below itself.
    void UpdateMenuButton();
    void OpenMenuBelowButton();
    // kMsgFeedback and the "feedback" button: the window to the front, then the feedback dialog,
    // modally. kMsgUpgrade: the interactive upgrade check (its request waits on a worker).
    void OnFeedbackRequested();
    void OnUpgradeRequested();

    // Skin controls, looked up once in InitWindow (owned by the layout; nullptr when missing).
    QAbstractButton* login_ = nullptr;
    QAbstractButton* register_ = nullptr;
    QWidget* separator_ = nullptr;
    QAbstractButton* username_ = nullptr;
    QAbstractButton* feedback_ = nullptr;
    QAbstractButton* help_ = nullptr;
    QAbstractButton* menuButton_ = nullptr; // "main-menu"
    QLabel* recorderInfo_ = nullptr;
    QWidget* recorderReady_ = nullptr;
    QWidget* recorderStatusInit_ = nullptr;
    QLabel* recorderWorking_ = nullptr;       // GIF
    QLabel* recorderStatusWorking_ = nullptr; // GIF
    QLabel* recorderProgress_ = nullptr;
    QAbstractButton* recorderStart_ = nullptr;
    QAbstractButton* recorderPause_ = nullptr;
    QAbstractButton* recorderStop_ = nullptr;
    QWidget* recorderDisabled_ = nullptr;
    QListWidget* recordList_ = nullptr;
    QLabel* scheduleInfo_ = nullptr; // "下次录音 hh:mm" under the elapsed time
    RecordOptionsPanel options_;
    LevelMeters meters_;
    RecordingsList recordings_;
    RecoverFunction recover_;

    CWndShadow shadow_;
    TrayIcon tray_;
    InstanceServer instanceServer_;
    DesktopNotifier notifier_;
    std::unique_ptr<GlobalShortcuts> shortcuts_;
    Origin origin_ = Origin::kWindow; // of the recording in progress
    bool waiting_ = false;            // it waits for sound (voice activation)
    std::optional<double> gateThresholdDb_; // its voice activation's threshold, if any
    std::unique_ptr<ScheduleRunner> schedule_; // the scheduled recording, from InitWindow on
    std::unique_ptr<AudioRecorder> recorder_;
    std::unique_ptr<OnlineStartup> online_; // start-up workers, joined with the window
    QString currentFileName_;
    QString currentFolder_;
    int64_t elapsedSeconds_ = 0; // of the recording in progress (or the last one)
};
