#pragma once
// Recordings made up for the list's tests.

#include <QString>

// A silent WAV of seconds (44100 Hz, stereo, 16-bit) at path, its file time minutesAgo in the
// past. False when it cannot be written.
bool WriteSilentWav(const QString& path, double seconds, int minutesAgo = 0);
// A file with text as its whole content.
bool WriteTextFile(const QString& path, const QByteArray& text);
