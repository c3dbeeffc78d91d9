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

// The size text of an entry, in the program's one style for sizes (FormatByteSize): "0 B",
// "601.9 KB", "1.0 MB".
QString FormatFileSize(int64_t size);

// Seconds of a recording as "%02d:%02d:%02d", truncated to whole seconds; a duration that could
// not be determined (negative, not finite) shows "00:00:00".
QString FormatDuration(double seconds);
