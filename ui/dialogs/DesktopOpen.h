#pragma once
// Opening a file, a folder or a web page with the desktop's program for it (xdg-open). When the
// desktop has none, the user is told in a notice box over parent instead of nothing happening.
//
//   OpenWithDesktop(this, QUrl::fromLocalFile(path));
//
// Thread: UI thread.

class QUrl;
class QWidget;

// Notices when nothing can open what was asked for: a web page, or a file or folder.
inline constexpr const char* kNoBrowserText = "找不到可以打开网页的浏览器!";
inline constexpr const char* kNoProgramText = "找不到可以打开它的程序!";

// True when the desktop took url; otherwise logs, shows the notice over parent and returns false.
bool OpenWithDesktop(QWidget* parent, const QUrl& url);
