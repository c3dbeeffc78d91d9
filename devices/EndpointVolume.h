#pragma once
// Volume and mute of the default microphone (capture) and of the default playback device (render),
// on a 0..100 scale. Each call finds the devices anew and acts on every device of that direction
// whose description equals the default device's (the default itself and any namesake).
//
// Plain functions without state of their own: each asks the server afresh through the process's
// one connection (PulseContext: a round trip of about a millisecond, each wait bounded by its
// kRequestTimeout), so they may be called from any thread but the PulseContext loop thread, also
// on the UI thread for every slider tick. With no server nothing is read or set and the outputs
// keep the caller's value.
//
// Scale: a device's scalar is its volume divided by the normal (100 %) volume, capped at 1.0.

// out = scalar * 100 + 0.5, truncated (0.504 gives 50, 0.506 gives 51). Returns 0 when a
// microphone was read, -1 when none was (out untouched).
int GetMicVolume(unsigned& out);

// out = scalar * 100 + 0.5 as a float (the caller truncates it), written only when the scalar
// exceeds 0.00001, so a device at volume 0 leaves the caller's value. True when out was written.
// Prints "CoCreateInstance Failed!/n" (no server) or "GetCount Failed!/n" (a connected server did
// not send the device list in time). With one shared connection a device list is never refused
// without one of these, so "EnumAudioEndpoints Failed!/n" does not occur here.
bool GetSpeakerVolume(float& out);

// Sets mute to the flag on every matching microphone, then its volume to volume / 100 on every
// channel. A volume outside 0..100 is not set (mute still is). True when every matching
// microphone took both.
bool SetMicVolume(bool mute, float volume);

// Clamps volume to 0..100, then sets every channel of every matching playback device to
// volume / 100. Prints the same failure texts as GetSpeakerVolume. True when at least one device
// was set and none refused.
bool SetSpeakerVolume(float volume);
