#pragma once
// The help page: the web service's base address + "/help", opened in the default browser.
// Thread: UI thread (OpenHelpPage); HelpPageUrl from any thread.

#include <QUrl>

// The service's base address without a trailing "/": $TAMSU_SERVICE_URL when set and not empty,
// else the local reference service.
QString ServiceBaseAddress();

// ServiceBaseAddress() + "/help".
QUrl HelpPageUrl();

// Opens HelpPageUrl() in the default browser; false (logged) when the desktop could not.
bool OpenHelpPage();
