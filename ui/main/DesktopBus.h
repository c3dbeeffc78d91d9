#pragma once
// The desktop's session bus, as the environment names it now (DBUS_SESSION_BUS_ADDRESS). The
// connection is opened once per address and kept; a failed one reports !isConnected() and costs
// nothing further. The notices and the global shortcuts talk to the desktop through it.
//
// Thread: UI thread.

#include <QDBusConnection>

QDBusConnection DesktopBus();
