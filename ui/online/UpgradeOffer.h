#pragma once
// The upgrade check as the user meets it: the question to the service, the offer of a newer
// version ("发现新版本啦!" with the version, a confirmation, or for a forced upgrade a notice with
// one button), the download dialog and what follows it.
//
//   StartUpgradeCheck(mainWindow);       // task menu "main_menu_item_upgrade" (UI thread)
//   RunUpgradeCheck(mainWindow)          // see OnlineStartup: at start-up, on a worker thread
//
// Both run the request on a worker; the window stays responsive. The check the user asked for
// always answers: the offer, "没有发现新版本!", or "网络错误!" when the service could not be asked
// or gave no usable answer. The background check stays silent unless it has something to offer.
// Only one offer is open at a time: a second one while the first is showing is dropped.

#include "UpgradeCheck.h"

#include <QPointer>
#include <QString>

class QWidget;

// Worker thread: the background check. A newer version is handed to the UI thread and offered
// there over mainWindow, or dropped when mainWindow is gone by then. -1 when the post failed.
int RunUpgradeCheck(QPointer<QWidget> mainWindow);

// UI thread: the check the user asked for. A request while one runs is ignored.
void StartUpgradeCheck(QWidget* mainWindow);
// UI thread: true while a check the user asked for waits for the service.
bool UpgradeCheckRunning();

// UI thread: asks the user (unless forced) and runs the download dialog; then tells what happens
// (installer opened and the program quits, download failed, package refused, forced upgrade
// refused) and quits the program through mainWindow's quit message where it must. Does nothing
// while another offer is open.
void ShowUpgradeOffer(QWidget* mainWindow, const UpgradeInfo& info);

// UI thread: true while an offer or its download dialog is open.
bool UpgradeOfferOpen();

// The offer's text: "发现新版本啦!" and which version it is.
QString UpgradeOfferText(const UpgradeInfo& info);
