#pragma once
// The duration of a recording, read with the media libraries. Safe from any thread (each call has
// its own input).

#include <QString>

// Seconds of the first audio or video stream of the file at path: the stream's duration in its
// time base, else the container's duration. -1 when the file cannot be opened or read, has no
// such stream, or states no duration.
double ProbeMediaDuration(const QString& path);
