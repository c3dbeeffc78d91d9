#pragma once
// Showing a file in the desktop's file manager. Thread: UI thread.

#include <QString>

class QWidget;

// Asks the file manager over D-Bus (org.freedesktop.FileManager1.ShowItems) to open the file's
// folder with the file selected; when no file manager answers, opens the folder with the desktop's
// default program instead (OpenWithDesktop: a notice over parent when there is none). Returns at
// once; the answer is awaited in the event loop, with parent as the owner of the wait. No path
// goes through a shell.
void RevealInFileManager(const QString& path, QWidget* parent);
