#include "FileManagerReveal.h"

#include "DesktopOpen.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QUrl>
#include <QWidget>

#include <glog/logging.h>

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kObjectPath = "/org/freedesktop/FileManager1";
constexpr const char* kInterface = "org.freedesktop.FileManager1";
// A file manager that is started for the call needs a moment; after this the folder opens instead.
constexpr int kCallTimeoutMs = 5000;

} // namespace

void RevealInFileManager(const QString& path, QWidget* parent)
{
    const QString folder = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenWithDesktop(parent, QUrl::fromLocalFile(folder));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kObjectPath),
                                                       QLatin1String(kInterface), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), parent);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, parent, [folder, parent](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            LOG(INFO) << "mainwnd: no file manager on D-Bus (" << w->error().message().toStdString()
                      << "), opening the folder";
            OpenWithDesktop(parent, QUrl::fromLocalFile(folder));
        }
    });
}
