#pragma once
// The texts of a recording as the main window shows and names it. Stateless; safe from any thread.

#include <QString>

#include <cstdint>
#include <ctime>

// Elapsed whole seconds as "%02d:%02d:%02d" (hours, minutes, seconds); hours grow beyond two
// digits, negative counts show as 00:00:00.
QString FormatElapsedTime(int64_t seconds);
