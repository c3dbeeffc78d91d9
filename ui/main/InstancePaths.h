#pragma once
// Where the running instance of the program marks itself: a lock file held for the life of the
// process and the local socket its main window listens on. Both live in the per-user runtime
// folder, so another user's instance never counts and nobody else can talk to ours.
// Stateless; safe from any thread.

#include <QString>

// Name of the lock file that only the first instance of a user holds.
inline constexpr const char* kInstanceMutexName = "TamsuAudioRecorderProcessMutex";
// Name of the main window's local socket, through which a second start asks it to come forward.
inline constexpr const char* kInstanceMarkerName = "TamsuAudioRecorder";

// $XDG_RUNTIME_DIR when it is set, else "<temp>/tamsu-<uid>", created with mode 0700. Empty when
// the fall-back folder cannot be created or is not a private folder of this user (then the
// program runs without single-instance protection rather than not at all).
QString GetRuntimeFolder();

// Runtime folder + "/" + the name; empty when the runtime folder is.
QString InstanceLockPath();
QString InstanceSocketPath();
