#pragma once
// glog set-up shared by the program and the command-line tools: files "log.YYYYMMDD-HHMMSS.pid"
// in one folder, nothing on standard error, every line written at once, a new file after 10 MB,
// no logging on a full disk. Call once, from the main thread, before any log line.

#include <QString>

void InitLogging(const QString& logFolder);
