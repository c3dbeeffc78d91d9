#pragma once
// The main window's account area ("login" | "register" while signed out, the phone number in
// "username" while signed in) and what its controls open: the login dialog, the registration
// dialog and the account panel with its sign-out. Also the automatic login at start-up.
//
// The main window hooks in with two calls:
//   InitWindow:  StartAutoLogin(this);
//   Notify:      if (HandleAccountClick(this, msg)) ... (a "click" from "login", "register" or
//                "username" was handled)
//
// Thread: UI thread.

#include <QString>

class QWidget;
class WindowImplBase;
struct TNotifyUI;

// "username" shows phone and appears; "login", "separator" and "register" disappear.
void ShowSignedIn(QWidget* mainWindow, const QString& phone);
// The reverse: "login", "separator" and "register" appear, "username" disappears.
void ShowSignedOut(QWidget* mainWindow);
// Forgets the stored credentials and the current account's phone number and shows the window
// signed out. A running automatic login can no longer sign the user in.
void SignOut(QWidget* mainWindow);

// Starts the automatic login from the stored credentials; its result reaches mainWindow on the
// UI thread. The worker belongs to mainWindow (a child object that waits for it when destroyed).
void StartAutoLogin(QWidget* mainWindow);

// A "click" from "login" (login dialog), "register" (registration dialog) or "username" (account
// panel below the label). False for any other notification.
bool HandleAccountClick(QWidget* mainWindow, const TNotifyUI& msg);

// Opens the account panel below the "username" label of mainWindow, without a modal loop.
void OpenPersonCenter(QWidget* mainWindow);
