#pragma once
// The help page: the web service's base address + "/help", opened in the default browser.
// Thread: UI thread (OpenHelpPage); HelpPageUrl from any thread.

#include <QUrl>

class QWidget;

// ServiceUrl("/help"): follows $TAMSU_SERVICE_URL like every request of the program.
QUrl HelpPageUrl();

// Opens HelpPageUrl() in the default browser; when the desktop cannot, says so over parent and
// returns false.
bool OpenHelpPage(QWidget* parent);
