#pragma once
// LevelMonitor: live peak levels of the default microphone and of what the default playback device
// plays, for the window's meters while no recording runs (a recording reports its own levels).
//
// Two light peak-detecting record streams on the shared PulseContext (the server computes the
// peaks; about 20 values a second each), following the default source and the default sink's
// monitor when they change, and coming back after a server restart. A missing device reads -1.
//
// Thread-safety: Start, Stop and the destructor from one thread (the UI thread); Levels from any
// thread. Start and Stop never wait on the server for more than a few milliseconds.

#include <memory>

class LevelMonitor {
public:
    LevelMonitor();
    ~LevelMonitor(); // Stop()
    LevelMonitor(const LevelMonitor&) = delete;
    LevelMonitor& operator=(const LevelMonitor&) = delete;

    void Start(); // harmless when running
    void Stop();  // closes the streams; harmless when stopped
    bool Running() const;

    // The latest peaks (0..1, linear) of the microphone and of the system sound; -1 for a side
    // that has no device (or no server). Values older than half a second read as 0 (a stalled
    // device is quiet).
    void Levels(float& mic, float& system) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
