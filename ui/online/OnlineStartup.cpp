#include "OnlineStartup.h"

#include "ConfigStore.h"
#include "PublicAddress.h"
#include "UpgradeOffer.h"

#include <QWidget>

OnlineStartup::OnlineStartup(QWidget* mainWindow)
{
    workers_.emplace_back([window = QPointer<QWidget>(mainWindow)] {
        // Background upgrade check: one-shot worker. Owns its request; hands a newer version to
        // the UI thread (dropped there if the main window is gone).
        RunUpgradeCheck(window);
    });
    QString address;
    ReadConfigString(config::kSection, config::kUserRealIp, QString(), address, config::kUserRealIpCapacity);
    if (address.isEmpty())
        workers_.emplace_back(PublicAddressThread);
}

OnlineStartup::~OnlineStartup()
{
    for (std::thread& worker : workers_)
        worker.join();
}
