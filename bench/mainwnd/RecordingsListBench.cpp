// recordings_list_bench: the recordings list filling from an output folder of many recordings
// (half MP3 of 60 s, half WAV of 10 s, hard links of two files made with the ffmpeg program),
// on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//   recordings_list_bench [files] [repeats]      (default 2000 files, 3 repeats; medians printed)
//
// Measured, per 1,000 files:
//   list     the window's scan: from StartScan until the last entry is in the list (wall time),
//            the UI thread's CPU time meanwhile, and the longest the event loop went without a
//            turn (what a user would feel as a frozen window);
//   probe    reference: the same folder listed, sized and probed in one plain loop, no list (the
//            least any scan that shows durations needs);
//   text     reference: the UI thread appending the same entries as plain text rows of a
//            QListWidget (the least any list of this many rows costs the UI thread);
//   widgets  reference: the UI thread showing the same number of entries built from the element
//            skin in a plain scroll area, all in one go (what the skinned entries cost by
//            themselves, shown, styled and laid out, without a list around them);
//   blocking comparison: every entry added on the UI thread in one go (AddRecordingItem per
//            file, no scan thread), whose whole time is one frozen stretch.
// Ratios: list wall / probe wall, list UI CPU / text and / widgets UI CPU, longest stall list /
// blocking.

#include "CWndShadow.h"
#include "MediaProbe.h"
#include "RecordingFiles.h"
#include "RecordingsList.h"
#include "SkinResources.h"
#include "WindowImplBase.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProcess>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// How often the event loop is sampled for stalls: finer than anything a user notices.
constexpr int kTickMs = 2;

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

class BenchWindow : public WindowImplBase {
public:
    BenchWindow()
        : list(*this, Quiet())
    {
    }
    QString GetWindowClassName() const override { return QStringLiteral("RecordingsListBench"); }
    QString GetSkinFile() override { return QStringLiteral("MainWindow.xml"); }
    static RecordingsList::Actions Quiet()
    {
        RecordingsList::Actions actions;
        actions.play = actions.reveal = actions.prompt = [](const QString&) {};
        actions.confirm = [](const QString&) { return false; };
        return actions;
    }
    RecordingsList list;
};

// Longest gap between two turns of the event loop while it runs: in wall time (what the user
// sees, including time the busy machine gave to other processes) and in the UI thread's own CPU
// time (the work the list did in one go).
class StallMeter {
public:
    StallMeter()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.restart());
            const double cpu = ThreadCpuMs();
            longestCpu_ = std::max(longestCpu_, cpu - lastCpu_);
            lastCpu_ = cpu;
        });
        clock_.start();
        timer_.start(kTickMs);
    }
    double LongestMs() { return static_cast<double>(std::max(longest_, clock_.elapsed())); }
    double LongestCpuMs() { return std::max(longestCpu_, ThreadCpuMs() - lastCpu_); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
    double lastCpu_ = ThreadCpuMs();
    double longestCpu_ = 0;
};

struct Figures {
    double listWall = 0, listUiCpu = 0, listStall = 0, listStallCpu = 0;
    double probeWall = 0, textUiCpu = 0, elementsUiCpu = 0, blockingStall = 0;
};

bool MakeSource(const QString& path, const QStringList& args)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y"} + args + QStringList{path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

bool MakeFolder(const QString& sources, const QString& folder, int files)
{
    const QString mp3 = sources + "/source.mp3";
    const QString wav = sources + "/source.wav";
    if (!MakeSource(mp3, {"-f", "lavfi", "-i", "sine=frequency=440:duration=60", "-ac", "2", "-ar", "44100", "-b:a", "128k"}) ||
        !MakeSource(wav, {"-f", "lavfi", "-i", "sine=frequency=440:duration=10", "-ac", "2", "-ar", "44100"}))
        return false;
    QDir().mkpath(folder);
    for (int i = 0; i < files; ++i) {
        const bool isMp3 = i % 2 == 0;
        const QString name = QStringLiteral("新录音-20260101%1.%2").arg(i, 6, 10, QLatin1Char('0')).arg(isMp3 ? "mp3" : "wav");
        if (::link((isMp3 ? mp3 : wav).toLocal8Bit().constData(), (folder + "/" + name).toLocal8Bit().constData()) != 0)
            return false;
    }
    return true;
}

void MeasureList(const QString& folder, Figures& f)
{
    BenchWindow window;
    window.Create(nullptr, QString());
    window.list.FindControls();
    window.ShowWindow();
    (void)QTest::qWaitForWindowExposed(&window);
    StallMeter stalls;
    QElapsedTimer wall;
    const double cpu0 = ThreadCpuMs();
    wall.start();
    window.list.StartScan(folder);
    while (!window.list.ScanDone())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    f.listWall = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    f.listUiCpu = ThreadCpuMs() - cpu0;
    f.listStall = stalls.LongestMs();
    f.listStallCpu = stalls.LongestCpuMs();
}

QStringList Recordings(const QString& folder)
{
    QStringList names;
    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        if (IsRecordingName(entries.fileName()))
            names << entries.fileName();
    }
    return names;
}

void MeasureReferences(const QString& folder, Figures& f)
{
    // Plain loop: list, size and probe.
    QElapsedTimer wall;
    wall.start();
    std::vector<std::pair<int64_t, double>> figures;
    const QStringList names = Recordings(folder);
    for (const QString& name : names)
        figures.emplace_back(RecordingFileSize(folder + "/" + name), ProbeMediaDuration(folder + "/" + name));
    f.probeWall = static_cast<double>(wall.nsecsElapsed()) / 1e6;

    // Plain text rows, then the first paint.
    {
        QListWidget list;
        list.resize(600, 300);
        list.show();
        (void)QTest::qWaitForWindowExposed(&list);
        const double cpu0 = ThreadCpuMs();
        for (int i = 0; i < names.size(); ++i)
            list.addItem(names[i] + "  " + FormatFileSize(figures[i].first) + "  " + FormatDuration(figures[i].second));
        list.scrollToBottom();
        QCoreApplication::processEvents();
        f.textUiCpu = ThreadCpuMs() - cpu0;
    }

    BenchWindow window;
    window.Create(nullptr, QString());

    // Skinned entries alone, in a plain scroll area.
    {
        QScrollArea area;
        auto* column = new QWidget;
        auto* layout = new QVBoxLayout(column);
        area.setWidgetResizable(true);
        area.setWidget(column);
        area.resize(560, 200);
        area.show();
        (void)QTest::qWaitForWindowExposed(&area);
        const double cpu0 = ThreadCpuMs();
        for (int i = 0; i < names.size(); ++i)
            layout->addWidget(window.LoadSkinWidget(QLatin1String(RecordingsList::kElementSkin)));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        f.elementsUiCpu = ThreadCpuMs() - cpu0;
    }

    // Everything on the UI thread at once.
    window.list.FindControls();
    window.ShowWindow();
    (void)QTest::qWaitForWindowExposed(&window);
    wall.restart();
    for (const QString& name : names)
        window.list.AddRecordingItem(folder, name);
    QCoreApplication::processEvents();
    f.blockingStall = static_cast<double>(wall.nsecsElapsed()) / 1e6;
}

double LoadAverage()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("TAMSU_SKIN_DIR"))
        ::setenv("TAMSU_SKIN_DIR", TAMSU_BENCH_SKIN_DIR, 1);
    QApplication app(argc, argv);
    LoadSkinResources(FindSkinFolder());
    CWndShadow::RegisterShadowClass();

    QTemporaryDir root;
    const QString folder = root.path() + "/recordings";
    if (!root.isValid() || !MakeFolder(root.path(), folder, files)) {
        std::fprintf(stderr, "recordings_list_bench: cannot make the folder of recordings (needs the ffmpeg program)\n");
        return 2;
    }
    // One untimed pass warms the page cache and the libraries.
    Figures warm;
    MeasureReferences(folder, warm);

    std::vector<Figures> runs(repeats);
    for (Figures& f : runs) {
        MeasureList(folder, f);
        MeasureReferences(folder, f);
    }
    const auto median = [&runs](double Figures::*field) {
        std::vector<double> values;
        for (const Figures& f : runs)
            values.push_back(f.*field);
        return Median(values);
    };
    const double per = 1000.0 / files;
    const Figures m{median(&Figures::listWall),  median(&Figures::listUiCpu), median(&Figures::listStall),
                    median(&Figures::listStallCpu), median(&Figures::probeWall), median(&Figures::textUiCpu), median(&Figures::elementsUiCpu),
                    median(&Figures::blockingStall)};
    std::printf("recordings list, %d files (half MP3 60 s, half WAV 10 s), median of %d runs, per 1,000 files:\n",
                files, repeats);
    std::printf("  list scan, wall          %8.1f ms   reference probe loop %8.1f ms   ratio %.2f\n",
                m.listWall * per, m.probeWall * per, m.listWall / m.probeWall);
    std::printf("  list UI thread CPU       %8.1f ms   reference text rows  %8.1f ms   ratio %.2f\n",
                m.listUiCpu * per, m.textUiCpu * per, m.listUiCpu / m.textUiCpu);
    std::printf("  list UI thread CPU       %8.1f ms   reference widgets    %8.1f ms   ratio %.2f\n",
                m.listUiCpu * per, m.elementsUiCpu * per, m.listUiCpu / m.elementsUiCpu);
    std::printf("  longest UI stall (whole folder) %6.1f ms   all on the UI thread %8.1f ms   ratio %.3f\n",
                m.listStall, m.blockingStall, m.listStall / m.blockingStall);
    std::printf("  longest UI turn, its CPU time   %6.1f ms   (load average %.1f)\n", m.listStallCpu, LoadAverage());
    return 0;
}
