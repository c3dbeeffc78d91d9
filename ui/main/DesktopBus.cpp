#include "DesktopBus.h"

#include <QString>

#include <cstdlib>

QDBusConnection DesktopBus()
{
    // Named by the address: a session that changed its bus (a test's private bus, a re-login
    // under the same program) gets a connection of its own instead of the first one's.
    // The address is read here, not by the bus library (which reads it once per process).
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address)
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("tamsu-session"));
    const QString text = QString::fromLocal8Bit(address);
    return QDBusConnection::connectToBus(text, QStringLiteral("tamsu-session ") + text);
}
