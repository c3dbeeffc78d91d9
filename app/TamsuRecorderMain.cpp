// tamsu-recorder: the TAMSU电脑录音软件 window program.
//
// Start-up, in this order: one instance per user (a second start brings the first one's window
// forward and ends with 0, before it has written anything), the log folder without the files of
// earlier days, logging, the application, window shadows, the skin, the main window centred at
// its skin's size; then the event loop until the main window has gone; then shutdown in reverse
// order. Exit status 0, or -1 when the log folder cannot be listed (nothing else has happened
// then), or 1 when the main window cannot be built from the skin.
//
// Remote commands (--start, --stop, --pause, --resume, --toggle, --status; RemoteCommand) act on
// the running program's recording and end; they never show a window of this process.
//
// Options (for measurements and tests; a user passes none):
//   --background        start with the window hidden to the tray when the desktop has one (how a
//                       remote start without a running program begins)
//   --quit-after-show   print "main window shown <monotonic ns>" once the window has been painted,
//                       then end as if the user had closed it

#include "AppIcon.h"
#include "CMainWnd.h"
#include "ConfigStore.h"
#include "InstancePaths.h"
#include "CWndShadow.h"
#include "LogCleanup.h"
#include "LogSetup.h"
#include "PlatformChoice.h"
#include "QuitSignalNotifier.h"
#include "RemoteCommand.h"
#include "SingleInstance.h"
#include "SkinResources.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <glog/logging.h>

namespace {

// The application font: the skin's texts are Chinese.
constexpr const char* kAppFontFamily = "Noto Sans CJK SC";
// Log folder below the per-user data folder.
constexpr const char* kLogSubfolder = "TamsuAudioRecorder/Log";

// The skin folder: TAMSU_SKIN_DIR, the program's folder + "/skin/", the installed one, and last
// the source tree's, so that the program also runs straight from its build folder.
QString ChooseSkinFolder()
{
    const QString found = FindSkinFolder();
    if (QFileInfo::exists(found + "res.xml"))
        return found;
    return QStringLiteral(TAMSU_SOURCE_SKIN_DIR);
}

// Prints the start-up marker once the window has been painted, then closes it.
class ShownMarker : public QObject {
public:
    explicit ShownMarker(CMainWnd* window)
        : QObject(window)
        , window_(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::Paint && !done_) {
            done_ = true;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("main window shown %lld\n",
                        static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
            window_->Close(static_cast<int>(CMainWnd::kMsgQuit));
        }
        return false;
    }

private:
    CMainWnd* window_;
    bool done_ = false;
};

bool HasOption(int argc, char** argv, const char* option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const bool quitAfterShow = HasOption(argc, argv, "--quit-after-show");
    const bool background = HasOption(argc, argv, RemoteCommand::kBackgroundOption);

    if (HasOption(argc, argv, "--help")) {
        std::fputs(RemoteCommand::Usage().c_str(), stdout);
        return 0;
    }
    // A remote command: to the running program, then end.
    std::optional<RemoteRequest> remote;
    std::string error;
    if (!RemoteCommand::Parse(std::vector<std::string>(argv + 1, argv + argc), remote, error)) {
        std::fprintf(stderr, "tamsu-recorder: %s\n\n%s", error.c_str(), RemoteCommand::Usage().c_str());
        return RemoteCommand::kExitUsage;
    }
    SingleInstance instance;
    if (remote) {
        std::string out;
        const int code = RemoteCommand::Run(*remote, instance, InstanceLockPath(), InstanceSocketPath(),
                                            RemoteCommand::StartInBackground, out, error);
        std::fputs((code == RemoteCommand::kExitDone ? out : error).append("\n").c_str(),
                   code == RemoteCommand::kExitDone ? stdout : stderr);
        return code;
    }

    // 1. One instance per user.
    if (!instance.Acquire()) {
        SingleInstance::ActivateRunningInstance();
        return 0;
    }

    // 2.-4. Log folder, clean-up of earlier days, logging.
    const QString logFolder = GetAppDataSubfolder(kLogSubfolder);
    if (CleanOldLogFiles(logFolder, TodayLogDate()) != 0)
        return -1;
    InitLogging(logFolder);
    LOG(INFO) << "TamsuAudioRecorder starting";

    // 5. The application, through X11 unless the user chose a platform; it ends when the main
    //    window has gone, not with the last visible window (the window may live in the tray).
    std::vector<char*> args = ArgumentsWithPlatform(argc, argv, std::getenv("DISPLAY"), std::getenv("QT_QPA_PLATFORM"));
    int argCount = static_cast<int>(args.size()) - 1;
    QApplication app(argCount, args.data());
    LOG(INFO) << "platform " << QGuiApplication::platformName().toStdString();
    // Qt's own texts (the folder chooser's buttons, context menus) in Chinese.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    else
        LOG(ERROR) << "Qt's Chinese texts (qtbase_zh_CN.qm, package qt6-translations-l10n) not found";
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(QFont(kAppFontFamily));
    // The icon of every window, the tray and the dialogs; the desktop shell matches the windows
    // with the desktop entry by its name.
    QApplication::setWindowIcon(AppIcon());
    QGuiApplication::setDesktopFileName(QLatin1String(kAppId));

    // 6. Window shadows.
    CWndShadow::RegisterShadowClass();

    // 10. The skin's resources (style sheet, fonts, images).
    const QString skinFolder = ChooseSkinFolder();
    LOG(INFO) << "skin folder \"" << skinFolder.toStdString() << "\"";
    if (!LoadSkinResources(skinFolder))
        LOG(ERROR) << "skin resources in \"" << skinFolder.toStdString() << "\" incomplete";

    // 13. The main window, centred at its skin's size.
    QPointer<CMainWnd> window = new CMainWnd;
    if (!window->Create(nullptr, QString::fromUtf8(CMainWnd::kWindowTitle))) {
        LOG(ERROR) << "main window could not be built from \"" << skinFolder.toStdString() << "\"";
        delete window;
        return 1;
    }
    window->CenterWindow();
    // Started for a remote command: to the tray, where there is one.
    if (!background || !QSystemTrayIcon::isSystemTrayAvailable())
        window->ShowWindow();
    if (quitAfterShow)
        new ShownMarker(window);

    // Ending by a signal goes the way of the quit command: a running recording is finished.
    QuitSignalNotifier quitSignals;
    QObject::connect(&quitSignals, &QuitSignalNotifier::QuitRequested, window, [window](int number) {
        LOG(INFO) << "signal " << number << ": quitting";
        if (window)
            window->Close(static_cast<int>(CMainWnd::kMsgQuit));
    });

    // 14. The event loop, until the main window's final message.
    const int code = QApplication::exec();

    // 15. Shutdown: the window's deferred deletion, or the window itself when the loop ended
    //     another way (it finishes a running recording in its destructor).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete window;
    LOG(INFO) << "TamsuAudioRecorder ended";
    return code;
}
