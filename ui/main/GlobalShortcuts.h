#pragma once
// GlobalShortcuts: the recorder's two keys anywhere on the desktop, through the XDG desktop
// portal's global shortcuts (org.freedesktop.portal.GlobalShortcuts): "toggle" (start/stop) and
// "pause" (pause/resume). The desktop owns the keys: this asks for a session, uses the shortcuts
// the desktop already keeps for it (ListShortcuts) or asks it to bind them (BindShortcuts; the
// desktop lets the user choose the keys), and is told when one is pressed (Activated). No key is
// grabbed. Where the portal has no such interface (an older desktop, no session bus), the status
// ends as kUnavailable and the settings dialog offers the command to bind instead.
//
//   shortcuts_.Start();                               // once the window exists
//   connect(&shortcuts_, &GlobalShortcuts::Activated, ...);   // "toggle" or "pause"
//
// Every portal call is asynchronous; a request's answer is its Response signal.
//
// Thread: UI thread.

#include <QDBusConnection>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusArgument;
class QDBusMessage;

class GlobalShortcuts : public QObject {
    Q_OBJECT
public:
    // One shortcut of the portal's a(sa{sv}) lists: its id and its properties ("description",
    // "trigger_description").
    struct Shortcut {
        QString id;
        QVariantMap properties;
    };

    static constexpr const char* kToggleId = "toggle";
    static constexpr const char* kPauseId = "pause";
    // What the desktop shows the user for each shortcut.
    static constexpr const char* kToggleDescription = "开始/停止录音";
    static constexpr const char* kPauseDescription = "暂停/继续录音";

    enum class Status { kIdle, kAsking, kBound, kUnavailable };

    // parentWindow: the portal's identifier of the window a binding dialog belongs to
    // ("x11:<hex id>", or empty).
    GlobalShortcuts(QDBusConnection bus, QString parentWindow, QObject* parent = nullptr);

    void Start();
    Status GetStatus() const { return status_; }
    // The keys the desktop bound to id, as it describes them; empty when none.
    QString Trigger(const QString& id) const { return triggers_.value(id); }

signals:
    // A shortcut was pressed: kToggleId or kPauseId.
    void Activated(const QString& id);

private slots:
    void OnSessionCreated(const QDBusMessage& response);
    void OnListed(const QDBusMessage& response);
    void OnBound(const QDBusMessage& response);
    void OnActivated(const QDBusMessage& signal);
    void OnShortcutsChanged(const QDBusMessage& signal);

private:
    // Calls method on the portal with args; options gets the request's handle token. The
    // request's Response goes to slot (a SLOT() of this taking a QDBusMessage).
    void Ask(const QString& method, QList<QVariant> args, QVariantMap options, const char* slot);
    // Starts (on) or stops listening for the Response on a request's path, for slot.
    void Listen(const QString& path, const char* slot, bool on);
    // The answer to what has come to slot: stops listening; true with its results when it
    // succeeded, else logs, ends as kUnavailable (unless already ended) and returns false.
    bool Answered(const QDBusMessage& response, const char* slot, const char* what, QVariantMap& results);
    void Fail(const QString& why);
    // Keeps the trigger descriptions of shortcuts (a QDBusArgument of a(sa{sv})).
    void KeepTriggers(const QVariant& shortcuts);

    QDBusConnection bus_;
    QString parentWindow_;
    Status status_ = Status::kIdle;
    QString session_;
    int requests_ = 0;
    QMap<QString, QString> triggers_;
};

Q_DECLARE_METATYPE(GlobalShortcuts::Shortcut)
QDBusArgument& operator<<(QDBusArgument& argument, const GlobalShortcuts::Shortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, GlobalShortcuts::Shortcut& shortcut);
