#pragma once
// Which capture devices exist and which default devices the sound server has.
//
// Plain functions without state of their own: each asks the server afresh through the process's
// one connection (PulseContext::Refresh, bounded by its kRequestTimeout; no server spawned), so
// they may be called from any thread but the PulseContext loop thread, also at the same time.
// With no server running every function answers "no device" at once (the first call of the
// process may wait up to PulseContext::kFirstConnectWait for the first connection).

#include <QString>

#include <string>
#include <vector>

// One capture device (a source that is not a monitor).
struct AudioInputDevice {
    // Longest friendlyName / displayName kept, in UTF-16 code units (the record widths less the
    // terminator of the fixed-size fields this record stands for).
    static constexpr int kFriendlyNameMax = 127;
    static constexpr int kDisplayNameMax = 255;

    QString friendlyName; // the source's description, e.g. "Virtual Microphone"
    QString displayName;  // the source's name, which opens it, e.g. "mic"
};

// Results of EnumAudioInputDevices.
constexpr int kEnumDevicesFound = 0;     // the list has entries
constexpr int kEnumDevicesNone = 1;      // the server answered, but has no capture device
constexpr int kEnumDevicesNoServer = -1; // no server answered

// Clears list, then appends one entry per capture device in the server's order. The microphone
// is opened by the first entry; a caller must not take one from an empty list.
int EnumAudioInputDevices(std::vector<AudioInputDevice>& list);

// True when the server has a default source that is not a monitor; name = its description.
// name is empty whenever the result is false.
bool GetDefaultMicName(QString& name);

// True when the server has a default sink. Otherwise logs "Get Default Audio Endpoint error".
bool HasDefaultSpeaker();

// The default sink's monitor source name and the sink's sample rate and channel count, for
// recording what the computer plays. False (outputs untouched) when there is no default sink.
bool GetDefaultSinkMonitor(std::string& monitorSource, int& rate, int& channels);

// text cut to at most maxUnits UTF-16 code units, never between the two halves of a surrogate pair.
QString CutToWidth(const QString& text, int maxUnits);
