#pragma once
// The benchmark's sections. Each runs its measurements and prints its table to ctx.report.
// They run one after another on the main thread, against the private sound server that
// PULSE_SERVER names (drift needs none), in a temporary home (TestEnv) whose configuration they
// may change.

#include <cstdio>
#include <string>
#include <vector>

class BenchTable;
class SoundPlayer;

struct BenchContext {
    std::string recordTool;          // path of tamsu-record
    std::string ffmpeg = "ffmpeg";   // the reference command line's program
    std::string folder;              // recordings go here (temporary)
    int seconds = 30;                // length of each CPU measurement
    int shortSeconds = 2;            // length of the short runs that take out the start and end
    int repeats = 3;                 // CPU runs of each command (ours and ffmpeg interleaved)
    int latencyRuns = 10;            // latency measurements per kind of recording
    double latencyRecordSeconds = 2; // recorded before each stop
    int offsetSeconds = 60;          // length of the long offset take
    int offsetRepeats = 3;           // offset recordings of each kind
    FILE* report = stdout;           // where the tables go
    bool keepRecordings = false;     // leave the recordings in folder for a closer look
};

// Puts the server's standard layout back and plays the standard signals (440 Hz, peak 0.5, into
// "speaker"; 1 kHz, peak 0.3, into "mic-feed", heard by "mic") through the players until they
// are closed. False when it could not: a row saying why is then in table, and table printed.
bool StartStandardSignals(const BenchContext& ctx, BenchTable& table, SoundPlayer& speaker, SoundPlayer& mic);

// Silent recorder: CPU per recorded second for MP3 320 kbit/s and WAV against ffmpeg encoding
// anullsrc.
void RunSilentBench(const BenchContext& ctx);
// CPU per recorded second, system sound alone and both sources (with and without voice
// processing) to MP3 320 kbit/s, against ffmpeg's pulse input (and amix); wake-ups per source and
// the sound server's CPU during the same runs.
void RunCaptureCpuBench(const BenchContext& ctx);
// Offset between microphone and system sound in a mixed recording: idle, with busy cores, across
// a pause.
void RunOffsetBench(const BenchContext& ctx);
// tamsu-record from outside: start of capture to first audio in the file, SIGTERM to complete file.
void RunLatencyBench(const BenchContext& ctx);
// Echo cancellation of the microphone on the loopback rig: suppression, near end, convergence, CPU.
void RunEchoBench(const BenchContext& ctx);
// One program's sound: another program's tone under the chosen one's, the chosen one restarted
// mid-take, CPU of ten monitored streams against the system sound.
void RunProgramBench(const BenchContext& ctx);
// A device clock 200 ppm off through CaptureSource for one simulated hour (no sound server).
void RunDriftBench(const BenchContext& ctx);
