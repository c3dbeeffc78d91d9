#pragma once
// Values shared by the recorder and its callers.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// Values of the configuration key "voice-source".
enum RecordSource : int {
    kBoth = 0,        // system sound and microphone, mixed
    kMicrophone = 1,
    kSystemSound = 2,
};

// Which programs' sound stands in for the whole system sound. A program is named by its binary
// (application.process.binary) or its application.name.
struct ProgramChoice {
    std::string only;                  // this program alone
    std::vector<std::string> excluded; // every program but these (when only is empty)

    // Anything else than the whole system sound.
    bool Narrowed() const { return !only.empty() || !excluded.empty(); }
    // A playback stream of the program appName / binary belongs to the choice.
    bool Takes(const std::string& appName, const std::string& binary) const
    {
        const auto named = [&](const std::string& name) { return !name.empty() && (name == appName || name == binary); };
        if (!only.empty())
            return named(only);
        return std::none_of(excluded.begin(), excluded.end(), named);
    }
};

enum RecorderState : int {
    kIdle = 0,      // opened, not yet running
    kRecording = 1,
    kPaused = 2,
    kStopped = 3,
};

// Message number of the elapsed-seconds report in the window (wParam 0, lParam seconds).
inline constexpr int WM_RECORDER_SECONDS = 1724;

// Why a recording stopped on its own.
enum class RecorderError : int {
    kDiskFull = 1,    // the output file could not grow: no space left (or quota)
    kWriteFailed = 2, // any other write failure (file removed, device gone, I/O error)
};

// Whoever owns a recorder. Called from the recorder's encode thread; every method must return at
// once and must not call back into the recorder (the window posts a message to itself).
class RecorderOwner {
public:
    virtual ~RecorderOwner() = default;
    // The elapsed whole seconds of recorded audio changed.
    virtual void PostRecorderSeconds(int64_t seconds) = 0;
    // The recording stopped itself: the file is finalised up to what could be written, the
    // recorder is in kStopped and only waits to be destroyed. Reported once per recorder.
    virtual void PostRecorderError(RecorderError error) {}
    // Peak levels (0..1, linear, of the last ~50 ms) of the microphone and of the system sound,
    // about 20 times a second from Open to Stop; a source that is not recorded reports -1. With
    // voice activation the levels are the gate's (RMS of each encoder frame), the scale of its
    // threshold.
    virtual void PostRecorderLevels(float mic, float system) {}
    // Voice activation: the recording waits for sound (true: from Open on, and after each pause
    // for silence) or records again (false). While it waits, the seconds stand still.
    virtual void PostRecorderWaiting(bool waiting) {}
};
