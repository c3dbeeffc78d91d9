#include "CloseBehaviour.h"

#include "ConfigStore.h"

#include <QWidget>

#include <glog/logging.h>

CloseAction DecideCloseAction(int code, uint32_t windowClose, bool trayShown)
{
    if (code == kQuitCloseCode || windowClose == 0)
        return CloseAction::kExit;
    return trayShown ? CloseAction::kHideToTray : CloseAction::kMinimise;
}

bool ApplyCloseBehaviour(QWidget& window, int code, bool trayShown)
{
    const uint32_t windowClose = ReadConfigInt(config::kSection, config::kWindowClose, 0);
    switch (DecideCloseAction(code, windowClose, trayShown)) {
    case CloseAction::kExit:
        return false;
    case CloseAction::kHideToTray:
        LOG(INFO) << "mainwnd: closed to the tray";
        window.hide();
        return true;
    case CloseAction::kMinimise:
        LOG(INFO) << "mainwnd: closed to the task bar (no tray)";
        window.showMinimized();
        return true;
    }
    return false;
}
