#pragma once
// Command-line options of tamsu-record and their parser. Every option applies to one run only;
// an option that is not given leaves the stored setting in force. No state; safe from any thread.

#include "RecorderTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RecordOptions {
    std::optional<int> source;          // RecordSource value (--source)
    ProgramChoice programs;             // --source app:NAME, --exclude NAME (with --source)
    bool listApps = false;              // --list-apps: print the programs playing now and stop
    std::optional<std::string> format;  // "mp3" or "wav" (--format)
    std::optional<int32_t> bitRate;     // one of kBitRates (--bitrate)
    int64_t seconds = 10;               // wall-clock length of the run (--seconds)
    bool secondsGiven = false;          // --seconds was given
    std::optional<int> startAt;         // local time of day to start at, seconds (--start-at)
    std::optional<int64_t> stopAfterMs; // length of the run from its start (--stop-after)
    std::optional<int64_t> stopAtSizeMb; // stop once the file holds this many MB (--stop-at-size)
    std::optional<std::string> output;  // output folder (--output)
    bool silent = false;                // record silence (--silent)
    std::optional<bool> echoCancel;     // --echo-cancel on|off
    std::optional<bool> splitTracks;    // --split-tracks
    std::optional<int64_t> pauseAt;     // seconds after the start (--pause-at)
    std::optional<int64_t> resumeAt;    // seconds after the start (--resume-at)
    std::optional<bool> voiceActivated;     // --voice-activated
    std::optional<double> thresholdDb;      // --threshold (with --voice-activated)
    std::optional<double> silenceSeconds;   // --silence (with --voice-activated)
    bool help = false;                  // --help: print the usage and do nothing else
};

// Longest run accepted: 31 days, far beyond any recording and far from any overflow.
inline constexpr int64_t kMaxSeconds = 31LL * 24 * 3600;
// Largest size to stop at: 100 GB, beyond any recording of this program (320 kbit/s for 31 days).
inline constexpr int64_t kMaxSizeMb = 100000;

// Parses the arguments after the program name. False with a one-line reason in error when an
// argument is unknown, lacks its value, has a value out of range, or the options contradict
// each other. Accepts "--name value" and "--name=value"; a repeated option takes its last value.
bool ParseRecordOptions(const std::vector<std::string>& args, RecordOptions& options, std::string& error);

// The usage text printed by --help and after an invalid argument.
std::string RecordUsage();
