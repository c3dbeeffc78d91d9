#include "CloseBehaviour.h"

#include "ConfigStore.h"
#include "TranslucencySupport.h"

#include <QWidget>

#include <glog/logging.h>

CloseAction DecideCloseAction(int code, uint32_t windowClose, bool trayShown, bool minimisedCanReturn)
{
    if (code == kQuitCloseCode || windowClose == 0)
        return CloseAction::kExit;
    if (trayShown)
        return CloseAction::kHideToTray;
    return minimisedCanReturn ? CloseAction::kMinimise : CloseAction::kLower;
}

bool ApplyCloseBehaviour(QWidget& window, int code, bool trayShown)
{
    const uint32_t windowClose = ReadConfigInt(config::kSection, config::kWindowClose, 0);
    switch (DecideCloseAction(code, windowClose, trayShown, PlatformRestoresMinimisedWindows())) {
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
    case CloseAction::kLower:
        LOG(INFO) << "mainwnd: closed behind the other windows (nothing here brings a hidden or minimised one back)";
        window.lower();
        return true;
    }
    return false;
}
