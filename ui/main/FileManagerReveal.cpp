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

constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
constexpr const char* kFileManagerInterface = "org.freedesktop.FileManager1";
// A file manager that is started for the call needs a moment; after this the folder opens instead.
constexpr int kRevealTimeoutMs = 5000;

} // namespace

void RevealInFileManager(const QString& path, QWidget* parent)
{
    const QString folder = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenWithDesktop(parent, QUrl::fromLocalFile(folder));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kFileManagerService), QLatin1String(kFileManagerPath),
                                                       QLatin1String(kFileManagerInterface), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kRevealTimeoutMs), parent);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, parent, [folder, parent](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            LOG(INFO) << "mainwnd: no file manager on D-Bus (" << w->error().message().toStdString()
                      << "), opening the folder";
            OpenWithDesktop(parent, QUrl::fromLocalFile(folder));
        }
    });
}
