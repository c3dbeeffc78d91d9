#include "RecordingText.h"

#include <cstdio>

QString FormatElapsedTime(int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    const int64_t hours = seconds / 3600;
    const int64_t minutes = (seconds - hours * 3600) / 60;
    char text[72] = {}; // room for three 64-bit numbers
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds % 60));
    return QString::fromLatin1(text);
}
