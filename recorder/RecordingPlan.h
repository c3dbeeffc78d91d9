#pragma once
// RecordingPlan: everything one recording is made of, resolved once before it starts.
//
// ResolveRecordingPlan turns the stored settings (every value checked: a value out of its range is
// logged and replaced by its default, so a damaged configuration never stops a recording), the
// caller's overrides (tamsu-record's options; the window has none) and the sound server's devices
// into a typed plan, or into a refusal with its reason, which the window and tamsu-record each
// tell in their own words. AudioRecorder::Open takes the plan and reads neither the configuration
// nor the device list.
//
// Thread-safety: ResolveRecordingPlan reads the configuration file; call it from one thread at a
// time (the window's or the tool's main thread).

#include "RecorderTypes.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct RecordingPlan {
    std::string folder;       // without a trailing separator
    std::string fileName;     // with its extension
    std::string format = "mp3"; // "mp3" or "wav"
    int32_t bitRate = 128000; // MP3 bit rate, one of kBitRates
    int source = kBoth;       // a RecordSource: what is recorded (after the fall-back without a microphone)
    bool silent = false;      // silence instead of the sources; no device is opened
    bool noiseSuppression = false; // the microphone's; never for WAV
    bool gainControl = false;      // the microphone's; never for WAV
    int micGainDb = 20;            // gain control's compression gain
    // Voice activation: only what is at or above the threshold (with its pre-roll, and quiet
    // stretches shorter than silenceSeconds) reaches the file (VoiceGate).
    bool voiceActivated = false;
    double voiceThresholdDb = -40;
    double voiceSilenceSeconds = 3;
    // The microphone's echo of the system sound is cancelled (the system sound is captured as its
    // reference, also when only the microphone is recorded); never for WAV, never on headphones.
    bool echoCancel = false;
    // Whose sound stands in for the system sound (when it is recorded): every program by default.
    ProgramChoice programs;
    // Both sources recorded: each is also written to a file of its own (RecordingTracks).
    bool splitTracks = false;

    std::string OutputPath() const { return folder + "/" + fileName; }
};

// The qualities offered, in bits per second, in the order of "voice-bitrate-index".
inline constexpr int32_t kBitRates[] = {64000, 96000, 128000, 192000, 256000, 320000};

// Why a recording cannot start.
enum class PlanRefusal {
    kNone,
    kNoSpeaker,        // the system sound is to be recorded and there is no playback device
    kNoMicrophone,     // only the microphone is to be recorded and there is none
    kFolderNotWritable, // the output folder cannot be created or written
    kNoFileName,       // every name of the next minute is taken
};

// What the caller overrides for this recording only (the stored settings are not changed).
struct PlanOverrides {
    std::optional<std::string> format; // "mp3" or "wav"
    std::optional<int32_t> bitRate;    // one of kBitRates
    std::optional<int> source;         // a RecordSource; with it, programs replaces the stored choice
    ProgramChoice programs;            // whose sound stands in for the system sound
    bool silent = false;
    std::optional<std::string> folder; // created when missing
    std::optional<bool> voiceActivated;
    std::optional<double> voiceThresholdDb;    // kMinThresholdDb..0
    std::optional<double> voiceSilenceSeconds; // kMinSilenceSeconds..kMaxSilenceSeconds
    std::optional<bool> echoCancel;
    std::optional<bool> splitTracks;
};

// Ranges of the voice activation's settings: below -90 dBFS lies the noise of any device; a quiet
// stretch of less than a tenth of a second is a gap between syllables, more than ten minutes no
// longer a pause.
inline constexpr double kMinThresholdDb = -90;
inline constexpr double kMinSilenceSeconds = 0.1;
inline constexpr double kMaxSilenceSeconds = 600;

// The sound server's devices as the plan needs them.
struct AudioDevices {
    bool speaker = false;    // a default playback device
    bool microphone = false; // a capture device that is not a monitor
    bool headphones = false; // the playback device's active port is headphones or a headset (no echo)
    static AudioDevices Current();
};

struct PlanOutcome {
    PlanRefusal refusal = PlanRefusal::kNone;
    // "both" was asked for without a microphone: the plan records the system sound only.
    bool microphoneMissing = false;
    RecordingPlan plan; // complete when refusal is kNone; plan.folder also names the refused folder
};

// "新录音-" + the local time of at as "%Y%m%d%H%M%S" + "." + format (新录音-20200315143005.mp3).
// The plan takes the first second from now whose name is still free in the folder, so a recording
// started within the same second as the last one never overwrites it.
std::string RecordingFileName(std::time_t at, const std::string& format);

PlanOutcome ResolveRecordingPlan(const PlanOverrides& overrides, const AudioDevices& devices, std::time_t now);
