// Manual look at the main window (not run by ctest): starts the window as the program does and,
// by the argument, clicks through to a state, so a screenshot can be taken of it.
//
//   eval "$(scripts/sound-server.sh start build)"
//   xvfb-run -s "-screen 0 1280x800x24" sh -c 'build/tests/mainwnd/tamsu_mainwnd_demo paused &
//     sleep 4; import -window root /tmp/paused.png; kill $!'
//
// Arguments: idle (default) | recording (clicks "recorder-start") | paused (start, then
// "recorder-pause" after 2 s) | quality (opens the quality list) | diskfull (start, then the
// recorder stops itself after 1.5 s and reports a full disk) | recovered (a recording counts as
// recovered at start-up). A prompt shows when the device layout asks for one (for instance
// after `pactl unload-module module-remap-source`, "recording" shows the no-microphone prompt).
// Uses the real configuration and output folder of the environment it runs in.

#include "AudioRecorder.h"
#include "CMainWnd.h"
#include "CWndShadow.h"
#include "SkinResources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(QFont("Noto Sans CJK SC"));
    CWndShadow::RegisterShadowClass();
    LoadSkinResources(FindSkinFolder());

    const char* state = argc > 1 ? argv[1] : "idle";
    CMainWnd::RecoverFunction recover;
    if (std::strcmp(state, "recovered") == 0)
        recover = [] { return std::vector<std::string>{"/tmp/新录音-demo.wav"}; };
    auto* window = new CMainWnd(recover);
    if (!window->Create(nullptr, QString::fromUtf8(CMainWnd::kWindowTitle)))
        return 1;
    window->CenterWindow();
    window->ShowWindow();

    const auto click = [window](const char* name) {
        if (auto* button = window->FindControl<QAbstractButton>(name))
            QTest::mouseClick(button, Qt::LeftButton);
    };
    if (std::strcmp(state, "recording") == 0 || std::strcmp(state, "paused") == 0 ||
        std::strcmp(state, "diskfull") == 0)
        QTimer::singleShot(500, window, [click] { click("recorder-start"); });
    if (std::strcmp(state, "paused") == 0)
        QTimer::singleShot(2500, window, [click] { click("recorder-pause"); });
    if (std::strcmp(state, "diskfull") == 0) {
        QTimer::singleShot(2000, window, [window] {
            if (window->Recorder()) {
                window->Recorder()->Stop(); // as the recorder does after a failed write
                window->PostRecorderError(RecorderError::kDiskFull);
            }
        });
    }
    if (std::strcmp(state, "quality") == 0) {
        QTimer::singleShot(500, window, [window] {
            if (auto* combo = window->FindControl<QComboBox>("record-audio-quality"))
                combo->showPopup();
        });
    }
    return QApplication::exec();
}
