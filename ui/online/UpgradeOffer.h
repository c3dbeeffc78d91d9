#pragma once
// The upgrade check as the user meets it: the question to the service, the offer of a newer
// version ("发现新版本啦!", a confirmation, or for a forced upgrade a notice with one button) and
// the download dialog.
//
//   RunUpgradeCheck(mainWindow, true);   // task menu "main_menu_item_upgrade" (UI thread)
//   StartBackgroundUpgradeCheck(...)     // see OnlineStartup: at start-up, on a worker thread
//
// The interactive check blocks the UI thread for the post (at most the request's time-outs) and
// says "没有发现新版本!" when there is nothing new; the background check stays silent unless it has
// something to offer. Failures end both silently. Only one offer is open at a time: a second one
// while the first is showing is dropped.

#include "UpgradeCheck.h"

#include <QPointer>

class QWidget;

// The check. interactive: on the UI thread; returns -1 when the post failed, else 0.
// Background (interactive false): on a worker thread; the offer, if any, is handed to the UI
// thread and shown there over mainWindow, or dropped when mainWindow is gone by then.
int RunUpgradeCheck(QPointer<QWidget> mainWindow, bool interactive);

// UI thread: asks the user (unless forced) and runs the download dialog. Does nothing while
// another offer is open.
void ShowUpgradeOffer(QWidget* mainWindow, const UpgradeInfo& info);

// UI thread: true while an offer or its download dialog is open.
bool UpgradeOfferOpen();
