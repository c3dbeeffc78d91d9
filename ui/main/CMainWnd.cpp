#include "CMainWnd.h"

#include "AccountArea.h"
#include "AppIcon.h"
#include "AudioRecorder.h"
#include "CMainTaskMenu.h"
#include "CloseBehaviour.h"
#include "CPaintViewUI.h"
#include "DesktopBus.h"
#include "HelpPageUrl.h"
#include "ScheduleDialog.h"
#include "SetingDialog.h"
#include "RecordingPlan.h"
#include "ConfigStore.h"
#include "FeedbackDialog.h"
#include "Folders.h"
#include "GifControl.h"
#include "InstancePaths.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "RecordingJournal.h"
#include "RecordingText.h"
#include "TextUtil.h"
#include "UpgradeOffer.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QScrollBar>
#include <QSystemTrayIcon>

#include <bit>
#include <chrono>
#include <ctime>

#include <glog/logging.h>

namespace {

// kMsgRecorderLevels carries both levels in lParam: the microphone's float in the high 32 bits,
// the system sound's in the low 32 bits.
static_assert(sizeof(std::intptr_t) >= 2 * sizeof(float), "lParam holds two floats");

std::intptr_t PackLevels(float mic, float system)
{
    const uint64_t packed = uint64_t{std::bit_cast<uint32_t>(mic)} << 32 | std::bit_cast<uint32_t>(system);
    return static_cast<std::intptr_t>(packed);
}

void UnpackLevels(std::intptr_t lParam, float& mic, float& system)
{
    const auto packed = static_cast<uint64_t>(lParam);
    mic = std::bit_cast<float>(static_cast<uint32_t>(packed >> 32));
    system = std::bit_cast<float>(static_cast<uint32_t>(packed));
}

} // namespace

// The task menu's quit message is the close code that always ends the program.
static_assert(CMainWnd::kMsgQuit == kQuitCloseCode);

CMainWnd::CMainWnd(RecoverFunction recover)
    : options_(*this, [this](const QString& folder) { OnOutputFolderChanged(folder); })
    , meters_(*this)
    , recordings_(*this)
    , recover_(recover ? std::move(recover) : RecoverFunction(RecoverUnfinishedRecordings))
    , tray_(*this)
    , instanceServer_(this)
    , notifier_(DesktopBus())
{
}

CMainWnd::~CMainWnd()
{
    FinishRecorder();
}

QString CMainWnd::GetWindowClassName() const
{
    return QString::fromUtf8("音频剪辑");
}

QString CMainWnd::GetSkinFile()
{
    return GuardWindowOperation("CMainWnd::GetSkinFile", [] { return QStringLiteral("MainWindow.xml"); });
}

QWidget* CMainWnd::CreateControl(const QString& className, QWidget* parent, const QString&)
{
    return CreatePaintView(className, parent, this);
}

void CMainWnd::OnCreate()
{
    WindowImplBase::OnCreate();
    AttachBoxShadow(shadow_, this); // the same soft edge as the boxes: the window has no frame
}

void CMainWnd::InitWindow()
{
    GuardWindowOperation("CMainWnd::Init", [this] {
        // 1. No maximising, no resizing: the window keeps its skin's size.
        setFixedSize(size());
        setWindowFlag(Qt::WindowMaximizeButtonHint, false);

        // 2. The mark a second start of the program looks for.
        instanceServer_.SetRemoteHandler([this](const RemoteRequest& request) { return HandleRemote(request); });
        instanceServer_.Listen(InstanceSocketPath());

        // 3. The window icon and the tray icon: the application's, as the desktop entry shows it.
        setWindowIcon(AppIcon());
        tray_.Add(AppIcon());

        // 4. Every control of the window, once.
        login_ = FindControl<QAbstractButton>("login");
        register_ = FindControl<QAbstractButton>("register");
        separator_ = FindControl<QWidget>("separator");
        username_ = FindControl<QAbstractButton>("username");
        feedback_ = FindControl<QAbstractButton>("feedback");
        help_ = FindControl<QAbstractButton>("help");
        menuButton_ = FindControl<QAbstractButton>("main-menu");
        recorderInfo_ = FindControl<QLabel>("recorder-info");
        recorderReady_ = FindControl<QWidget>("recorder-ready");
        recorderStatusInit_ = FindControl<QWidget>("recorder-status-init");
        recorderWorking_ = FindControl<QLabel>("recorder-working");
        recorderStatusWorking_ = FindControl<QLabel>("recorder-status-working");
        recorderProgress_ = FindControl<QLabel>("recorder-progress");
        recorderStart_ = FindControl<QAbstractButton>("recorder-start");
        recorderPause_ = FindControl<QAbstractButton>("recorder-pause");
        recorderStop_ = FindControl<QAbstractButton>("recorder-stop");
        recorderDisabled_ = FindControl<QWidget>("recorder-disabled");
        recordList_ = FindControl<QListWidget>("audio-record-list");
        scheduleInfo_ = FindControl<QLabel>("schedule-info");
        options_.FindControls();
        meters_.FindControls();
        recordings_.FindControls();

        // 5. The options panel from the devices and the configuration.
        options_.Initialise();

        // Recordings a crash left unfinished are repaired before the window shows; the prompt
        // waits until the event loop runs, so that it opens over the shown window.
        if (!recover_().empty()) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    Notice(DesktopNotifier::Event::kRecovered);
                    Prompt(kRecoveredText, kWidePromptWidth);
                },
                Qt::QueuedConnection);
        }

        // 6. One-shot workers start here as their parts arrive: the background upgrade check,
        //    the automatic login, the public address lookup (only while "user-real-ip" is
        //    empty) and the scan of the output folder that fills the recordings list.
        StartSchedule();
        // The desktop's global shortcuts; a binding dialog of the desktop belongs to this window.
        const QString parentWindow = QGuiApplication::platformName() == QLatin1String("xcb")
                                         ? QStringLiteral("x11:%1").arg(winId(), 0, 16)
                                         : QString();
        shortcuts_ = std::make_unique<GlobalShortcuts>(DesktopBus(), parentWindow);
        connect(shortcuts_.get(), &GlobalShortcuts::Activated, this, &CMainWnd::OnShortcut);
        shortcuts_->Start();
        StartAutoLogin(this);
        recordings_.StartScan(GetOutputFolder());
        online_ = std::make_unique<OnlineStartup>(this);
    });
}

std::intptr_t CMainWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled)
{
    handled = false;
    switch (msg) {
    case WM_RECORDER_SECONDS:
        if (recorder_)
            elapsedSeconds_ = lParam;
        // A report can still be queued when the recorder is gone; the idle window keeps 00:00:00.
        if (recorder_ && recorderProgress_)
            recorderProgress_->setText(FormatElapsedTime(lParam));
        if (recorder_)
            tray_.SetElapsed(lParam);
        if (recorder_ && schedule_)
            schedule_->OnRecordedSecond();
        handled = true;
        break;
    case kMsgRecorderError:
        OnRecorderError(static_cast<RecorderError>(lParam));
        handled = true;
        break;
    case kMsgRecorderLevels:
        // While the meters follow the sound server, a report left over from a finished recording
        // is not shown.
        if (!meters_.Monitoring()) {
            float mic = 0.0f;
            float system = 0.0f;
            UnpackLevels(lParam, mic, system);
            meters_.Show(mic, system);
        }
        handled = true;
        break;
    case kMsgRecorderWaiting:
        // A report can still be queued when its recorder is gone.
        if (recorder_ && (lParam != 0) != waiting_) {
            waiting_ = lParam != 0;
            if (recorder_->GetState() == kRecording)
                ShowRecorderView(RecorderView::kRecording);
        }
        handled = true;
        break;
    case kMsgQuit:
        Close(static_cast<int>(kMsgQuit));
        handled = true;
        break;
    case kMsgShow:
        InstanceServer::BringToFront(this);
        handled = true;
        break;
    case kMsgHelp:
        OpenHelpPage(this);
        handled = true;
        break;
    case kMsgSeting:
        ShowSettings();
        handled = true;
        break;
    case kMsgFeedback:
        OnFeedbackRequested();
        handled = true;
        break;
    case kMsgUpgrade:
        OnUpgradeRequested();
        handled = true;
        break;
    case kMsgSchedule:
        ShowSchedule();
        handled = true;
        break;
    case TrayIcon::kMsgTrayCallback:
        handled = tray_.HandleCallback(lParam);
        break;
    default:
        break;
    }
    return 0;
}

void CMainWnd::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (msg.senderName == QLatin1String("recorder-start")) {
            if (!recorder_)
                StartRecording();
            else
                ResumeRecording();
        } else if (msg.senderName == QLatin1String("recorder-pause")) {
            PauseRecording();
        } else if (msg.senderName == QLatin1String("recorder-stop")) {
            StopRecording();
        } else if (msg.senderName == QLatin1String("feedback")) {
            OnFeedbackRequested();
        } else if (msg.senderName == QLatin1String("help")) {
            OpenHelpPage(this);
        } else if (msg.senderName == QLatin1String("main-menu")) {
            OpenMenuBelowButton();
        } else {
            // "login", "register" and "username" are wired by the account part.
            if (!HandleAccountClick(this, msg) && !recordings_.Notify(msg))
                options_.Notify(msg);
        }
    } else {
        options_.Notify(msg);
    }
    WindowImplBase::Notify(msg);
}

void CMainWnd::OnTimer(int id)
{
    if (id != kListScrollTimer)
        return;
    KillTimer(kListScrollTimer);
    if (!recordList_ || recordList_->count() == 0)
        return;
    // The newest recording is the first row.
    const int horizontal = recordList_->horizontalScrollBar()->value();
    recordList_->scrollToTop();
    recordList_->horizontalScrollBar()->setValue(horizontal);
    recordList_->setCurrentRow(0);
}

void CMainWnd::OnClose(int code, bool& handled)
{
    handled = ApplyCloseBehaviour(*this, code, tray_.Shown());
}

void CMainWnd::OnFinalMessage()
{
    GuardWindowOperation("CMainWnd::OnFinalMessage", [this] {
        FinishRecorder();
        tray_.Remove();
        WindowImplBase::OnFinalMessage();
        // The program ends with its main window (a no-op when no event loop runs).
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    });
}

void CMainWnd::PostRecorderSeconds(int64_t seconds)
{
    PostMessage(WM_RECORDER_SECONDS, 0, static_cast<std::intptr_t>(seconds));
}

void CMainWnd::PostRecorderError(RecorderError error)
{
    PostMessage(kMsgRecorderError, 0, static_cast<std::intptr_t>(error));
}

void CMainWnd::PostRecorderLevels(float mic, float system)
{
    PostMessage(kMsgRecorderLevels, 0, PackLevels(mic, system));
}

void CMainWnd::PostRecorderWaiting(bool waiting)
{
    PostMessage(kMsgRecorderWaiting, 0, waiting ? 1 : 0);
}

void CMainWnd::showEvent(QShowEvent* event)
{
    WindowImplBase::showEvent(event);
    UpdateLevelSource();
    UpdateMenuButton();
}

void CMainWnd::hideEvent(QHideEvent* event)
{
    WindowImplBase::hideEvent(event);
    meters_.SetMonitoring(false);
}

void CMainWnd::changeEvent(QEvent* event)
{
    WindowImplBase::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        UpdateLevelSource();
    else if (event->type() == QEvent::ActivationChange)
        UpdateMenuButton(); // a status area may have come or gone meanwhile
}

// ---- Recording ----------------------------------------------------------------------------------

const char* CMainWnd::StartRecording(const PlanOverrides& overrides, bool quiet, Origin origin)
{
    const auto refuse = [&](const char* text, int width) {
        if (!quiet)
            Prompt(text, width);
        else
            LOG(ERROR) << "mainwnd: remote start refused: " << text;
        return text;
    };
    // One program's sound chosen without a program would record every program.
    if (const char* why = overrides.source ? nullptr : options_.StartRefusal())
        return refuse(why, kPromptWidth);
    // The stored settings and the devices as they are now, resolved into the recording's plan.
    // The file is named by the second the start happens in: the precise clock (time() reads a
    // coarse one that can lag a few milliseconds, a scheduled start at hh:mm:00 named hh:mm-1:59).
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const PlanOutcome outcome = ResolveRecordingPlan(overrides, AudioDevices::Current(), now);
    switch (outcome.refusal) {
    case PlanRefusal::kNone:
        break;
    case PlanRefusal::kNoSpeaker:
        return refuse(kNoSpeakerText, kPromptWidth);
    case PlanRefusal::kNoMicrophone:
        return refuse(kNoMicText, kPromptWidth);
    case PlanRefusal::kFolderNotWritable:
        return refuse(kFolderNotWritableText, kPromptWidth);
    case PlanRefusal::kNoFileName:
        return refuse(kDeviceErrorText, kPromptWidth);
    }
    if (outcome.microphoneMissing && !quiet)
        Prompt(kNoMicSystemOnlyText, kWidePromptWidth);
    const RecordingPlan& plan = outcome.plan;
    currentFolder_ = AnsiToWide(plan.folder);
    currentFileName_ = AnsiToWide(plan.fileName);
    gateThresholdDb_ = plan.voiceActivated ? std::optional<double>(plan.voiceThresholdDb) : std::nullopt;
    elapsedSeconds_ = 0;
    waiting_ = false; // the recorder says so from its start on

    recorder_ = std::make_unique<AudioRecorder>(this);
    UpdateLevelSource(); // the recorder reports the levels from here on
    if (recorder_->Open(plan) < 0) {
        LOG(ERROR) << "mainwnd: recorder open failed for \"" << plan.OutputPath() << "\"";
        recorder_.reset();
        UpdateLevelSource();
        return refuse(kDeviceErrorText, kPromptWidth);
    }

    // 9. Recording.
    LOG(INFO) << "mainwnd: recording \"" << plan.OutputPath() << "\" at " << plan.bitRate;
    ShowRecorderView(RecorderView::kRecording);
    recorder_->Run();
    origin_ = origin;
    if (origin == Origin::kSchedule)
        Notice(DesktopNotifier::Event::kScheduledStarted, currentFileName_);
    else if (origin == Origin::kRemote)
        Notice(DesktopNotifier::Event::kRemoteStarted, currentFileName_);
    return nullptr;
}

RemoteAnswer CMainWnd::RemoteState() const
{
    RemoteAnswer answer;
    answer.ok = true;
    const int state = recorder_ ? recorder_->GetState() : kStopped;
    answer.state = state == kRecording ? "recording" : state == kPaused ? "paused" : "idle";
    if (recorder_) {
        answer.seconds = elapsedSeconds_;
        answer.file = (currentFolder_ + "/" + currentFileName_).toStdString();
    }
    return answer;
}

RemoteAnswer CMainWnd::HandleRemote(const RemoteRequest& request)
{
    using Command = RemoteRequest::Command;
    // While a recording that stopped itself waits for its report, the window counts as idle.
    const bool active = recorder_ && recorder_->GetState() != kStopped;
    Command command = request.command;
    if (command == Command::kToggle)
        command = active ? Command::kStop : Command::kStart;
    switch (command) {
    case Command::kStart:
        if (active) {
            ResumeRecording(); // as the start button does on a paused recording
        } else {
            if (recorder_)
                StopRecording(Origin::kRemote);
            PlanOverrides overrides;
            overrides.source = request.source;
            overrides.format = request.format;
            overrides.bitRate = request.bitRate;
            if (const char* refusal = StartRecording(overrides, true, Origin::kRemote)) {
                RemoteAnswer answer;
                answer.message = refusal;
                return answer;
            }
        }
        break;
    case Command::kStop:
        if (recorder_) {
            RemoteAnswer answer = RemoteState(); // the finished file and its length
            StopRecording(Origin::kRemote);
            answer.state = "idle";
            return answer;
        }
        break;
    case Command::kPause:
    case Command::kResume:
        if (!active) {
            RemoteAnswer answer;
            answer.message = kNotRecordingText;
            return answer;
        }
        command == Command::kPause ? PauseRecording() : ResumeRecording();
        break;
    default:
        break;
    }
    return RemoteState();
}

void CMainWnd::ResumeRecording()
{
    if (!recorder_ || recorder_->GetState() != kPaused)
        return;
    ShowRecorderView(RecorderView::kRecording);
    recorder_->Run();
}

void CMainWnd::PauseRecording()
{
    if (!recorder_ || recorder_->GetState() != kRecording)
        return;
    ShowRecorderView(RecorderView::kPaused);
    recorder_->Pause();
}

void CMainWnd::StopRecording(Origin by)
{
    if (!recorder_)
        return;
    ShowRecorderView(RecorderView::kIdle);
    FinishRecorder();
    UpdateLevelSource();
    OnRecordingFinished();
    // The end of a recording the schedule or a command started, or that they stopped.
    const Origin told = origin_ != Origin::kWindow ? origin_ : by;
    origin_ = Origin::kWindow;
    if (told == Origin::kSchedule)
        Notice(DesktopNotifier::Event::kScheduledEnded, currentFileName_);
    else if (told == Origin::kRemote)
        Notice(DesktopNotifier::Event::kRemoteEnded, currentFileName_);
}

bool CMainWnd::InFront() const
{
    // One of the program's windows has the focus (this one, or a dialog over it).
    return isVisible() && !isMinimized() && QApplication::activeWindow() != nullptr;
}

void CMainWnd::Notice(DesktopNotifier::Event event, const QString& detail)
{
    if (!InFront())
        notifier_.Send(event, detail);
}

void CMainWnd::OnShortcut(const QString& id)
{
    if (id == QLatin1String(GlobalShortcuts::kToggleId)) {
        RemoteRequest request;
        request.command = RemoteRequest::Command::kToggle;
        const RemoteAnswer answer = HandleRemote(request);
        if (!answer.ok)
            Prompt(answer.message.c_str(), kPromptWidth); // a refused start: said where the user looks
    } else if (recorder_ && recorder_->GetState() == kRecording) {
        PauseRecording();
    } else {
        ResumeRecording();
    }
}

QString CMainWnd::ShortcutKeysText() const
{
    if (!shortcuts_ || shortcuts_->GetStatus() != GlobalShortcuts::Status::kBound)
        return {};
    const auto keys = [this](const char* id) {
        const QString trigger = shortcuts_->Trigger(QLatin1String(id));
        return trigger.isEmpty() ? QString::fromUtf8(kNoKeyText) : trigger;
    };
    return QString::fromUtf8(GlobalShortcuts::kToggleDescription) + QStringLiteral(": ") + keys(GlobalShortcuts::kToggleId) +
           QStringLiteral("\n") + QString::fromUtf8(GlobalShortcuts::kPauseDescription) + QStringLiteral(": ") +
           keys(GlobalShortcuts::kPauseId);
}

void CMainWnd::OnRecorderError(RecorderError error)
{
    // Only a recorder that stopped itself reports; a report that arrives after the recording
    // ended (or after the next one started) is left alone.
    if (!recorder_ || recorder_->GetState() != kStopped) {
        LOG(INFO) << "mainwnd: late recorder error report " << static_cast<int>(error) << " ignored";
        return;
    }
    const bool diskFull = error == RecorderError::kDiskFull;
    LOG(ERROR) << "mainwnd: recording \"" << (currentFolder_ + "/" + currentFileName_).toStdString()
               << "\" stopped: " << (diskFull ? "disk full" : "write failed");
    // The fault's notice says it ended; no second one for its end.
    Notice(diskFull ? DesktopNotifier::Event::kDiskFull : DesktopNotifier::Event::kWriteFailed, currentFileName_);
    origin_ = Origin::kWindow;
    StopRecording();
    Prompt(diskFull ? kDiskFullText : kWriteFailedText, kWidePromptWidth);
}

void CMainWnd::FinishRecorder()
{
    if (!recorder_)
        return;
    recorder_->Stop();
    recorder_.reset(); // waits for the recorder's threads: the file is complete afterwards
    LOG(INFO) << "mainwnd: recording finished \"" << (currentFolder_ + "/" + currentFileName_).toStdString() << "\"";
}

void CMainWnd::OnRecordingFinished()
{
    // The recorder is destroyed, its threads joined: the file is complete and its duration final.
    // The timer then brings the new entry into view.
    if (recordings_.AddRecordingItem(currentFolder_, currentFileName_) >= 0)
        SetTimer(kListScrollTimer, kListScrollMs);
}

void CMainWnd::UpdateLevelSource()
{
    meters_.SetMonitoring(isVisible() && !isMinimized() && !recorder_);
    // A voice-activated recording's threshold is marked while its levels show: those are the
    // gate's, on the threshold's scale (the idle monitor's peaks are not).
    meters_.SetThreshold(recorder_ ? gateThresholdDb_ : std::nullopt);
}

void CMainWnd::ShowRecorderView(RecorderView view)
{
    const bool idle = view == RecorderView::kIdle;
    const bool recording = view == RecorderView::kRecording;
    const auto setVisible = [](QWidget* control, bool visible) {
        if (control)
            control->setVisible(visible);
    };
    setVisible(recorderStart_, !recording);
    setVisible(recorderPause_, recording);
    setVisible(recorderStop_, !idle);
    setVisible(recorderDisabled_, idle);
    setVisible(recorderReady_, idle);
    setVisible(recorderStatusInit_, idle);
    setVisible(recorderWorking_, !idle);
    setVisible(recorderStatusWorking_, !idle);
    // A recording that waits for sound shows it: its time stands still, its animation too.
    const bool waiting = recording && waiting_;
    for (QLabel* gif : {recorderWorking_, recorderStatusWorking_}) {
        if (recording && !waiting)
            GifControl::Play(gif);
        else if (idle)
            GifControl::Stop(gif);
        else
            GifControl::Pause(gif);
    }
    if (recorderInfo_)
        recorderInfo_->setText(QString::fromUtf8(idle        ? kInfoReady
                                                 : waiting   ? kInfoWaiting
                                                 : recording ? kInfoRecording
                                                             : kInfoPaused));
    if (idle && recorderProgress_)
        recorderProgress_->setText(QString::fromLatin1(kProgressZero));
    options_.SetRecording(!idle);
    tray_.SetState(idle ? TrayState::kIdle : recording ? TrayState::kRecording : TrayState::kPaused);
}

void CMainWnd::StartSchedule()
{
    ScheduleRunner::Hooks hooks;
    hooks.start = [this] { return StartRecording({}, true, Origin::kSchedule); };
    hooks.stop = [this] { StopRecording(Origin::kSchedule); };
    hooks.recording = [this] { return recorder_ && recorder_->GetState() != kStopped; };
    hooks.fileBytes = [this] { return static_cast<int64_t>(QFileInfo(currentFolder_ + "/" + currentFileName_).size()); };
    hooks.tell = [this](const QString& text) {
        // Once the event loop runs (also at start-up), over the shown window.
        const QByteArray utf8 = text.toUtf8();
        QMetaObject::invokeMethod(
            this, [this, utf8] { PromptBoxDialog::Show(this, QString::fromUtf8(utf8), kWidePromptWidth, kPromptHeight); },
            Qt::QueuedConnection);
    };
    hooks.nextChanged = [this](const QString& text) {
        tray_.SetNote(text);
        if (scheduleInfo_) {
            scheduleInfo_->setText(text);
            scheduleInfo_->setVisible(!text.isEmpty());
        }
    };
    schedule_ = std::make_unique<ScheduleRunner>(std::move(hooks));
    schedule_->Reload();
}

void CMainWnd::ShowSchedule()
{
    InstanceServer::BringToFront(this);
    if (QApplication::activeModalWidget())
        return; // a dialog is open already: it stays in front, no second one
    const QPointer<CMainWnd> self(this);
    ScheduleDialog::Show(this);
    if (self && schedule_)
        schedule_->Reload();
}

void CMainWnd::ShowSettings()
{
    InstanceServer::BringToFront(this);
    if (QApplication::activeModalWidget())
        return; // a dialog is open already: it stays in front, no second one
    const QPointer<CMainWnd> self(this);
    SetingDialog::Show(
        this, [this](const QString& folder) { OnOutputFolderChanged(folder); }, recorder_ != nullptr,
        ShortcutKeysText());
    // Also a folder stored meanwhile by other means: the window shows where the next recording goes.
    if (const QString folder = GetOutputFolder(); self && QDir::cleanPath(folder) != QDir::cleanPath(recordings_.Folder()))
        OnOutputFolderChanged(folder);
    if (self && schedule_)
        schedule_->Reload(); // the schedule may have been changed from there
}

void CMainWnd::OnOutputFolderChanged(const QString& folder)
{
    options_.ShowFolder(folder);
    recordings_.StartScan(folder);
}

void CMainWnd::OnFeedbackRequested()
{
    InstanceServer::BringToFront(this);
    if (QApplication::activeModalWidget())
        return; // a dialog is open already: it stays in front, no second one
    RunModalDialog<FeedbackDialog>(this);
}

void CMainWnd::OnUpgradeRequested()
{
    StartUpgradeCheck(this);
}

void CMainWnd::UpdateMenuButton()
{
    if (menuButton_)
        menuButton_->setVisible(!QSystemTrayIcon::isSystemTrayAvailable());
}

void CMainWnd::OpenMenuBelowButton()
{
    if (!menuButton_)
        return;
    auto* menu = new CMainTaskMenu(QString::fromLatin1(CMainTaskMenu::kSkinFile));
    menu->Init(this, menuButton_->mapToGlobal(QPoint(0, menuButton_->height())));
}

void CMainWnd::Prompt(const char* text, int width)
{
    PromptBoxDialog::Show(this, QString::fromUtf8(text), width, kPromptHeight);
}
