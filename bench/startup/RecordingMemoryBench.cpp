// recording_memory_bench: resident memory of the main window, idle and while it records, in one
// process: after the application and skin are up (reference), with the window shown, during a
// recording (sampled every 200 ms), and after the stop; also how long the stop click blocks the
// window until the file is complete.
//
//   eval "$(scripts/sound-server.sh start build)"   # a sound server with a speaker and a microphone
//   recording_memory_bench [seconds]                  (default 10)
//
// Runs in fresh temporary data and home folders on Qt's offscreen platform (unless
// QT_QPA_PLATFORM says otherwise); the default source (system sound and microphone, MP3 64 kbit/s).

#include "CMainWnd.h"
#include "CWndShadow.h"
#include "RecordingPlan.h"
#include "SkinResources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Resident memory of this process in KiB: all of it (VmRSS) and the anonymous part (RssAnon:
// heap, stacks; the rest is shared file pages such as libraries and fonts). 0 when unreadable.
struct Resident {
    long total = 0;
    long anon = 0;
};

Resident ResidentKiB()
{
    Resident resident;
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return resident;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const auto value = [&line](int prefix) { return line.mid(prefix).trimmed().split(' ').first().toLong(); };
        if (line.startsWith("VmRSS:"))
            resident.total = value(6);
        else if (line.startsWith("RssAnon:"))
            resident.anon = value(8);
    }
    return resident;
}

// How often the memory is sampled while recording.
constexpr int kSampleMs = 200;

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    QTemporaryDir root;
    if (!root.isValid())
        return 2;
    QDir().mkpath(root.path() + "/home/Documents");
    QDir().mkpath(root.path() + "/run");
    QFile::setPermissions(root.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::setenv("XDG_DATA_HOME", (root.path() + "/data").toLocal8Bit().constData(), 1);
    ::setenv("HOME", (root.path() + "/home").toLocal8Bit().constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root.path() + "/run").toLocal8Bit().constData(), 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("TAMSU_SKIN_DIR"))
        ::setenv("TAMSU_SKIN_DIR", TAMSU_BENCH_SKIN_DIR, 1);

    if (const AudioDevices devices = AudioDevices::Current(); !devices.speaker || !devices.microphone) {
        std::fprintf(stderr, "recording_memory_bench: needs a sound server with a default sink and source\n");
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(QFont("Noto Sans CJK SC"));
    CWndShadow::RegisterShadowClass();
    LoadSkinResources(FindSkinFolder());
    QTest::qWait(100);
    const Resident reference = ResidentKiB();

    auto* window = new CMainWnd;
    if (!window->Create(nullptr, QString::fromUtf8(CMainWnd::kWindowTitle)))
        return 1;
    window->CenterWindow();
    window->ShowWindow();
    (void)QTest::qWaitForWindowExposed(window);
    QTest::qWait(500);
    const Resident idle = ResidentKiB();

    QTest::mouseClick(window->FindControl<QAbstractButton>("recorder-start"), Qt::LeftButton);
    if (!window->Recorder()) {
        std::fprintf(stderr, "recording_memory_bench: the recording did not start\n");
        return 1;
    }
    Resident peak;
    double sumTotal = 0;
    double sumAnon = 0;
    int samples = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL) {
        QTest::qWait(kSampleMs);
        const Resident now = ResidentKiB();
        peak.total = std::max(peak.total, now.total);
        peak.anon = std::max(peak.anon, now.anon);
        sumTotal += static_cast<double>(now.total);
        sumAnon += static_cast<double>(now.anon);
        ++samples;
    }
    const Resident last = ResidentKiB();
    QElapsedTimer stopClock;
    stopClock.start();
    QTest::mouseClick(window->FindControl<QAbstractButton>("recorder-stop"), Qt::LeftButton);
    const double stopMs = static_cast<double>(stopClock.nsecsElapsed()) / 1e6; // UI thread blocked
    QTest::qWait(500);
    const Resident after = ResidentKiB();

    const auto row = [](const char* what, double total, double anon) {
        std::printf("  %-44s %8.1f %8.1f\n", what, total / 1024.0, anon / 1024.0);
    };
    std::printf("resident memory (MiB), %d s recording, system sound + microphone, MP3\n", seconds);
    std::printf("  %-44s %8s %8s\n", "", "VmRSS", "RssAnon");
    row("application and skin, no window (reference)", reference.total, reference.anon);
    row("main window shown, idle", idle.total, idle.anon);
    row("recording: mean", sumTotal / samples, sumAnon / samples);
    row("recording: peak", peak.total, peak.anon);
    row("recording: at the end", last.total, last.anon);
    row("after the stop", after.total, after.anon);
    std::printf("stop click to idle window with a complete file: %.1f ms\n", stopMs);
    window->Close(0);
    QTest::qWait(100);
    return 0;
}
