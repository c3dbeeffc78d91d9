#pragma once
// Sizes of files and downloads as the program shows them, in one style everywhere: the figure, a
// blank and the unit; whole bytes below 1 KB, from there one decimal, cut off rather than rounded
// up (so 1,048,575 bytes stay "1023.9 KB" and never read "1024.0 KB"):
//   0 B, 1023 B, 1.5 KB, 601.9 KB, 1.0 MB, 3.0 GB
// Stateless; safe from any thread.

#include <QString>

#include <cstdint>

QString FormatByteSize(int64_t bytes);
