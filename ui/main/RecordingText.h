#pragma once
// The texts of a recording as the main window shows and names it. Stateless; safe from any thread.

#include <QString>

#include <cstdint>
#include <ctime>

// "新录音-" + the local time of at as "%Y%m%d%H%M%S" + "." + extension
// (新录音-20200315143005.mp3).
QString MakeRecordingFileName(std::time_t at, const QString& extension);

// MakeRecordingFileName for the first second from at on whose name is still free in folder, so a
// recording started within the same second as the last one never overwrites it. Tries
// kRecordingNameTries seconds; empty when all are taken.
inline constexpr int kRecordingNameTries = 60;
QString ChooseRecordingFileName(const QString& folder, std::time_t at, const QString& extension);

// Bit rate of a quality entry's text: "64kbps" 64000 … "320kbps" 320000; any other text 128000.
int32_t BitRateForQuality(const QString& qualityText);

// Elapsed whole seconds as "%02d:%02d:%02d" (hours, minutes, seconds); hours grow beyond two
// digits, negative counts show as 00:00:00.
QString FormatElapsedTime(int64_t seconds);
