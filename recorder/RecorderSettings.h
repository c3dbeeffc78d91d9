#pragma once
// RecorderSettings: what one recording is made of, from the window's RecordParams and the stored
// configuration, every value checked. A stored value out of its range (garbage, negative, huge)
// is logged and replaced by its default, so a damaged configuration file never stops or hangs a
// recording.

#include "RecorderTypes.h"

#include <cstdint>
#include <string>

struct RecorderSettings {
    int noiseSuppression = 0; // "noise-check", 0/1; 0 for WAV
    int gainControl = 0;      // "agc-check", 0/1; 0 for WAV
    int source = kBoth;       // "voice-source", a RecordSource; kSystemSound without a microphone
    int silentMode = 0;       // "audio-mute-check", 0/1
    int micGainDb = 20;       // "voice-size", 0..100
    std::string format;       // "mp3" or "wav"
    int32_t bitRate = 128000; // one of the six qualities

    // Reads the keys and checks everything; false (logged) when the format is neither "mp3" nor
    // "wav", the only thing that has no default.
    static bool Read(const RecordParams& params, RecorderSettings& out);
    // The stored "voice-source" and "audio-mute-check", checked the same way (for the device checks
    // a caller makes before a recording).
    static int StoredSource();
    static int StoredSilentMode();
};
