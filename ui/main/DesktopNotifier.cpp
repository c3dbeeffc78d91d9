#include "DesktopNotifier.h"

#include "AppIcon.h"
#include "CMainWnd.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include <glog/logging.h>

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kAppName = "TAMSU电脑录音软件";
// -1: the desktop's own display time for a notice.
constexpr int kDesktopTimeout = -1;
// A notification service answers at once; one started for the call needs a moment.
constexpr int kCallTimeoutMs = 5000;

} // namespace

const char* DesktopNotifier::Summary(Event event)
{
    switch (event) {
    case Event::kScheduledStarted:
        return "定时录音已开始";
    case Event::kScheduledEnded:
        return "定时录音已结束";
    case Event::kRemoteStarted:
        return "录音已开始";
    case Event::kRemoteEnded:
        return "录音已结束";
    case Event::kDiskFull:
        return CMainWnd::kDiskFullText;
    case Event::kWriteFailed:
        return CMainWnd::kWriteFailedText;
    case Event::kRecovered:
        return CMainWnd::kRecoveredText;
    }
    return "";
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

void DesktopNotifier::Send(Event event, const QString& detail)
{
    const QString summary = QString::fromUtf8(Summary(event));
    if (!bus_.isConnected()) {
        if (!missingLogged_)
            LOG(INFO) << "mainwnd: no session bus, notices are not shown";
        missingLogged_ = true;
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kObjectPath),
                                                       QLatin1String(kInterface), QStringLiteral("Notify"));
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    // The icon and the desktop entry are the application id's: the desktop groups the notices
    // under the program.
    call << QString::fromUtf8(kAppName) << 0u << QString::fromLatin1(kAppId) << summary << detail << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QString::fromLatin1(kAppId)}} << kDesktopTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    const std::string text = summary.toStdString();
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, text](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (!w->isError()) {
            LOG(INFO) << "mainwnd: notice \"" << text << "\" shown";
        } else if (!missingLogged_) {
            missingLogged_ = true;
            LOG(INFO) << "mainwnd: no notification service (" << w->error().message().toStdString()
                      << "), notices are not shown";
        }
    });
}
