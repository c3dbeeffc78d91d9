#pragma once
// What processes and their threads cost, read from /proc: CPU time, and voluntary context switches
// (each one a sleep the thread was woken from: its wake-ups). And which processes are the sound
// server the environment points at.
//
// No state; safe from any thread. A process or thread that is gone reads as nothing.

#include <string>
#include <vector>

struct ThreadStats {
    int tid = 0;
    std::string name;       // the thread's comm
    long long wakeups = 0;  // voluntary context switches so far
    double cpuSeconds = 0;  // user + system time so far
};

// The threads of pid, in the order of their ids (the first is the main thread).
std::vector<ThreadStats> ReadThreads(int pid);

// User + system time of the processes (every thread of them) so far.
double ProcessCpuSeconds(const std::vector<int>& pids);

// The processes of the sound server PULSE_SERVER names: the one that listens on that socket
// (pulseaudio, or pipewire-pulse) and, when PIPEWIRE_RUNTIME_DIR is set, the one that listens on
// the PipeWire socket there (pipewire). Found by the credentials of a connection to each socket.
std::vector<int> SoundServerPids();
