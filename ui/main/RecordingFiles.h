#pragma once
// Which files of the output folder are recordings, and the size and duration texts of an entry.
// Stateless; safe from any thread.

#include <QString>

#include <cstdint>

// The name has a dot and the text after its last dot is exactly "mp3", "MP3", "wav" or "WAV".
bool IsRecordingName(const QString& name);

// The byte count of the regular file at path, read without opening its data; 0 for anything else
// (missing, unreadable, a folder).
int64_t RecordingFileSize(const QString& path);

// "%dB" below 1024 (negative counts too), "%dKB" (truncated) below 1048576, "%.2fM" below
// 1073741824, else "%.2fG"; the M and G figures are computed in single precision.
QString FormatFileSize(int64_t size);

// Seconds of a recording as "%02d:%02d:%02d", truncated to whole seconds; a duration that could
// not be determined (negative, not finite) shows "00:00:00".
QString FormatDuration(double seconds);
