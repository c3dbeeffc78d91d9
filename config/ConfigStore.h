#pragma once
// The program's settings: one key each in section "global" of "configure.ini", in the per-user
// folder "TamsuAudioRecorder/Config". Nothing is cached: a key is read at the moment of use and
// written at the moment the user changes it. All functions are safe to call from any thread.

#include <QString>
#include <cstdint>

// Section and keys of the configuration file, with the defaults their readers pass.
namespace config {
inline constexpr const char* kSection = "global";
inline constexpr const char* kOutputDir = "output-dir";               // text, default empty
inline constexpr const char* kVoiceSource = "voice-source";           // 0 both, 1 mic, 2 system
inline constexpr const char* kAudioFormat = "audio-format";           // 0 mp3, 1 wav
inline constexpr const char* kVoiceBitrateIndex = "voice-bitrate-index"; // 0..5
inline constexpr const char* kVoiceBitrate = "voice-bitrate";         // written, never read
inline constexpr const char* kVoiceSize = "voice-size";               // mic gain in dB
inline constexpr const char* kAgcCheck = "agc-check";
inline constexpr const char* kNoiseCheck = "noise-check";
inline constexpr const char* kEchoCheck = "echo-check";               // default 1 (on); never on headphones or a headset
inline constexpr const char* kSplitTracks = "split-tracks";           // default 0; 1: each source also on its own track
inline constexpr const char* kAudioMuteCheck = "audio-mute-check";
inline constexpr const char* kMicVolumeSize = "mic-volume-size";      // written, never read
inline constexpr const char* kSysVolumeSize = "sys-volume-size";      // written, never read
inline constexpr const char* kWindowClose = "window-close";           // 0 exit, else minimise
inline constexpr const char* kUserRealIp = "user-real-ip";            // text, default empty
// Voice activation ("有声音时录音"): 0 off, 1 on; its threshold in dBFS (-90..0, default -40) and
// the quiet stretch in seconds that pauses the recording (1..600, default 3).
inline constexpr const char* kVoiceActivation = "voice-activation";
inline constexpr const char* kVoiceActivationThreshold = "voice-activation-threshold";
inline constexpr const char* kVoiceActivationSilence = "voice-activation-silence";
inline constexpr const char* kAppSource = "app-source";   // one program recorded instead of the system sound
// Programs left out of the system sound, '|' between ('|' alone: none yet, the whole system sound).
inline constexpr const char* kAppExclude = "app-exclude";

inline constexpr int kOutputDirCapacity = 260; // characters including the terminator
inline constexpr int kUserRealIpCapacity = 56;
// A program's binary or application.name: file names are at most 255 bytes.
inline constexpr int kAppNameCapacity = 256;
} // namespace config

// Path of "configure.ini"; computed once per process (under a lock), its folder is re-created on
// every call.
const QString& GetConfigFilePath();

// Tests only: forget the computed path so the next call derives it from the environment again.
void ResetConfigFilePathForTesting();

uint32_t ReadConfigInt(const QString& section, const QString& key, int32_t defaultValue);
bool ReadConfigString(const QString& section, const QString& key, const QString& defaultText,
                      QString& out, int capacity);
bool WriteConfigString(const QString& section, const QString& key, const QString& value);

// $XDG_DATA_HOME (default ~/.local/share) + "/" + subPath, with every missing folder created.
QString GetAppDataSubfolder(const QString& subPath);

// Creates every missing folder along path, level by level; prints one standard-output line per
// folder that cannot be created. Returns path unchanged.
QString MakeDirectories(const QString& path);
