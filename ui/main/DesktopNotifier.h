#pragma once
// DesktopNotifier: short notices through the desktop's notification service
// (org.freedesktop.Notifications) about a recording the user did not start or end in the window:
// a scheduled or remote-started recording that began or ended, a recording stopped by a fault,
// recordings repaired at start. The window sends them only while it is not in front.
//
// A notice is one asynchronous call; a desktop without the service is logged (once) and the
// notice dropped: the window's own prompts stay the record of what happened.
//
// Thread: UI thread.

#include <QDBusConnection>
#include <QObject>
#include <QString>

class DesktopNotifier : public QObject {
public:
    enum class Event {
        kScheduledStarted,
        kScheduledEnded,
        kRemoteStarted,
        kRemoteEnded,
        kDiskFull,
        kWriteFailed,
        kRecovered,
    };

    // The notice's title for event (its body is the file concerned, when there is one).
    static const char* Summary(Event event);

    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

    // Sends the notice of event, with detail (a file name; may be empty) as its body.
    void Send(Event event, const QString& detail = {});

private:
    QDBusConnection bus_;
    bool missingLogged_ = false;
};
