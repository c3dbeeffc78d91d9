#pragma once
// Text conversions at library borders, the "?timestamp=" query and the standard-output trace.
// Stateless; safe from any thread.

#include <QString>
#include <cstdint>
#include <ctime>
#include <string>

// QString to the system's narrow encoding (the locale's, UTF-8 on current desktops).
std::string WideToAnsi(const QString& text);
// QString to UTF-8.
std::string WideToUtf8(const QString& text);
// Narrow text in the system encoding to QString; stops at an embedded terminator.
QString AnsiToWide(const std::string& text);

// "?timestamp=" + ((local time as seconds since the epoch) * 1000 + milliseconds) mod 2^32.
std::string MakeTimestampQuery();
// The same for a given local time (broken-down, tm_isdst ignored) and milliseconds.
std::string MakeTimestampQueryAt(std::tm localTime, int milliseconds);

// printf-style trace to standard output.
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
