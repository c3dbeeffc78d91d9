#pragma once
// LevelMeters: the two small level meters of the main window, "mic-level" (microphone) and
// "sys-level" (system sound). While no recording runs and the window is on screen, they follow a
// LevelMonitor polled every kPollMs; while recording, the window hands them the recorder's
// reports through Show. A level of -1 (no such device, source not recorded) shows the meter
// disabled and empty.
//
//   LevelMeters meters_{*this};     // a member of the main window
//   meters_.FindControls();         // InitWindow, with the other controls
//   meters_.SetMonitoring(true);    // window shown and idle; false when hidden or recording
//   meters_.Show(mic, system);      // a recorder's report
//   meters_.SetThreshold(-40);      // a voice-activated recording: its threshold on both meters
//
// Thread: UI thread. Polling only reads the monitor's latest values; starting and stopping the
// monitor never waits on the sound server for more than a few milliseconds.

#include <QTimer>

#include <memory>
#include <optional>

class LevelMonitor;
class QProgressBar;
class WindowImplBase;

class LevelMeters {
public:
    // Poll interval of the idle monitor: the 20 values a second the monitor (and a recorder)
    // delivers; faster polls would only show the same value twice.
    static constexpr int kPollMs = 50;
    // The meters show peaks in decibels from kFloorDb (empty) to 0 dB (full): a linear scale
    // leaves speech at a few percent of the bar.
    static constexpr double kFloorDb = -60.0;
    // Steps of a meter from empty to full (a meter is about 200 pixels wide).
    static constexpr int kSteps = 100;
    // How far a meter may fall per update (3 steps = 1.8 dB, about 36 dB a second at 20 updates):
    // peaks rise at once and fall back smoothly instead of flickering between syllables.
    static constexpr int kFallPerUpdate = 3;

    explicit LevelMeters(WindowImplBase& window);
    ~LevelMeters(); // stops the monitor
    LevelMeters(const LevelMeters&) = delete;
    LevelMeters& operator=(const LevelMeters&) = delete;

    // Looks up "mic-level" and "sys-level" in the window's skin and sets their range; missing
    // ones are logged by the framework and then left alone.
    void FindControls();
    // Shows peak levels (0..1 linear; -1 = no source).
    void Show(float mic, float system);
    // Starts (true) or stops (false) the idle monitor and its poll timer. The monitor is created
    // at the first start.
    void SetMonitoring(bool on);
    bool Monitoring() const { return timer_.isActive(); }
    // Marks a level (dBFS) on both meters: the sound that voice activation records reaches past
    // the mark. The window marks it only while such a recording runs: its reports are the gate's
    // own RMS levels, so bar and mark compare as the gate does; the idle monitor's peaks lie above
    // them (by 3 dB for a tone, 10 to 20 dB for speech). nullopt: no mark.
    void SetThreshold(std::optional<double> db);

private:
    void Poll();

    WindowImplBase& window_;
    QProgressBar* mic_ = nullptr;    // "mic-level"
    QProgressBar* system_ = nullptr; // "sys-level"
    QTimer timer_;
    std::unique_ptr<LevelMonitor> monitor_;
};
