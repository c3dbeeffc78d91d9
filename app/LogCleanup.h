#pragma once
// The clean-up of the log folder at every start: files of earlier days go. Stateless.

#include <QString>

// Today's local date as "%Y%m%d", the form of characters 5 to 12 of a log file's name
// ("log.YYYYMMDD-HHMMSS.pid").
QString TodayLogDate();

// Deletes every file (not folder) in folder whose name, from its fifth character on, does not
// continue with today (up to 8 characters are compared, so short names always go). Failures to
// delete are ignored. Returns 0, or -1 when the folder cannot be listed.
int CleanOldLogFiles(const QString& folder, const QString& today);
