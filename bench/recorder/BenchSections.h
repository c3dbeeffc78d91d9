#pragma once
// The benchmark's sections. Each runs its measurements and prints its table to ctx.report.
// They run one after another on the main thread, against the private sound server that
// PULSE_SERVER names, in a temporary home (TestEnv) whose configuration they may change.

#include <cstdio>
#include <string>
#include <vector>

struct BenchContext {
    std::string recordTool;          // path of tamsu-record
    std::string ffmpeg = "ffmpeg";   // the reference command line's program
    std::string folder;              // recordings go here (temporary)
    int seconds = 10;                // length of each CPU measurement
    int shortSeconds = 2;            // length of the short runs that take out the start and end
    int repeats = 5;                 // CPU runs of each command (ours and ffmpeg interleaved)
    int latencyRuns = 20;            // stop-to-complete-file measurements per format
    double latencyRecordSeconds = 1; // recorded before each of them
    int offsetSeconds = 5;           // length of each offset recording
    int offsetRepeats = 3;           // offset recordings of each kind
    FILE* report = stdout;           // where the tables go
    bool keepRecordings = false;     // leave the recordings in folder for a closer look
};

// Silent recorder: stop-to-complete-file latency, and CPU per recorded second for MP3 320 kbit/s
// and WAV against ffmpeg encoding anullsrc.
void RunSilentBench(const BenchContext& ctx);
// CPU per recorded second, system sound alone and both sources (with and without voice
// processing) to MP3 320 kbit/s, against ffmpeg's pulse input (and amix).
void RunCaptureCpuBench(const BenchContext& ctx);
// Offset between microphone and system sound in a mixed recording, ours and ffmpeg's amix.
void RunOffsetBench(const BenchContext& ctx);
