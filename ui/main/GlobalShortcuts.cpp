#include "GlobalShortcuts.h"

#include "AppIcon.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <glog/logging.h>

#include <algorithm>
#include <utility>

namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kRegistryInterface = "org.freedesktop.host.portal.Registry";
// The portal answers its methods at once (the user's choice comes later, as the Response); one
// started for the call needs a moment.
constexpr int kCallTimeoutMs = 5000;
// Tokens of this program's requests and session (valid object path elements).
constexpr const char* kTokenPrefix = "tamsu";

QString Path(const QVariant& value)
{
    // The session handle is an object path, which some portals send as a string.
    return value.metaType() == QMetaType::fromType<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                                                        : value.toString();
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const GlobalShortcuts::Shortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, GlobalShortcuts::Shortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

GlobalShortcuts::GlobalShortcuts(QDBusConnection bus, QString parentWindow, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , parentWindow_(std::move(parentWindow))
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

void GlobalShortcuts::Start()
{
    if (status_ != Status::kIdle)
        return;
    if (!bus_.isConnected()) {
        Fail(QStringLiteral("no session bus"));
        return;
    }
    status_ = Status::kAsking;
    // A program outside a sandbox names itself (its desktop entry) before its first request, so
    // the desktop lists its shortcuts under it. Nothing waits for the answer: a portal without
    // the registry answers with an error, and the requests below follow on the same connection.
    QDBusMessage registration = QDBusMessage::createMethodCall(
        QLatin1String(kPortalService), QLatin1String(kPortalPath), QLatin1String(kRegistryInterface), "Register");
    registration << QString::fromLatin1(kAppId) << QVariantMap();
    bus_.asyncCall(registration, kCallTimeoutMs);
    // A portal without the interface answers the version with an error.
    QDBusMessage get = QDBusMessage::createMethodCall(QLatin1String(kPortalService), QLatin1String(kPortalPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(kInterface) << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            Fail(w->error().message());
            return;
        }
        QVariantMap options;
        options.insert(QStringLiteral("session_handle_token"), QString::fromLatin1(kTokenPrefix));
        Ask(QStringLiteral("CreateSession"), {}, options, SLOT(OnSessionCreated(QDBusMessage)));
    });
}

void GlobalShortcuts::Ask(const QString& method, QList<QVariant> args, QVariantMap options, const char* slot)
{
    // The Response may come before the call's reply: its path is known in advance (the portal's
    // request path of this connection and token), so the slot listens from before the call.
    const QString token = QStringLiteral("%1%2").arg(QLatin1String(kTokenPrefix)).arg(++requests_);
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = QStringLiteral("%1/request/%2/%3").arg(QLatin1String(kPortalPath), sender, token);
    Listen(path, slot, true);
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kPortalService), QLatin1String(kPortalPath),
                                                       QLatin1String(kInterface), method);
    args.append(options);
    call.setArguments(args);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    const std::string name = method.toStdString();
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path, slot, name](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            Listen(path, slot, false);
            Fail(QString::fromStdString(name) + QStringLiteral(": ") + reply.error().message());
        } else if (reply.value().path() != path) {
            Listen(reply.value().path(), slot, true); // an older portal chose its own request path
        }
    });
}

void GlobalShortcuts::Listen(const QString& path, const char* slot, bool on)
{
    const QString service = QLatin1String(kPortalService);
    const QString interface = QLatin1String(kRequestInterface);
    if (on)
        bus_.connect(service, path, interface, QStringLiteral("Response"), this, slot);
    else
        bus_.disconnect(service, path, interface, QStringLiteral("Response"), this, slot);
}

bool GlobalShortcuts::Answered(const QDBusMessage& response, const char* slot, const char* what, QVariantMap& results)
{
    Listen(response.path(), slot, false); // one answer per request
    if (status_ != Status::kAsking)
        return false;
    const QList<QVariant> args = response.arguments();
    if (args.size() < 2) {
        Fail(QStringLiteral("%1: no results").arg(QLatin1String(what)));
        return false;
    }
    // 0: done; 1: the user cancelled; 2: ended otherwise.
    const uint code = args[0].toUInt();
    results = qdbus_cast<QVariantMap>(args[1]);
    if (code != 0) {
        Fail(QStringLiteral("%1: response %2").arg(QLatin1String(what)).arg(code));
        return false;
    }
    return true;
}

void GlobalShortcuts::Fail(const QString& why)
{
    status_ = Status::kUnavailable;
    LOG(INFO) << "mainwnd: no global shortcuts (" << why.toStdString() << "); the command can be bound instead";
}

void GlobalShortcuts::OnSessionCreated(const QDBusMessage& response)
{
    QVariantMap results;
    if (!Answered(response, SLOT(OnSessionCreated(QDBusMessage)), "CreateSession", results))
        return;
    session_ = Path(results.value(QStringLiteral("session_handle")));
    bus_.connect(QLatin1String(kPortalService), QLatin1String(kPortalPath), QLatin1String(kInterface),
                 QStringLiteral("Activated"), this, SLOT(OnActivated(QDBusMessage)));
    bus_.connect(QLatin1String(kPortalService), QLatin1String(kPortalPath), QLatin1String(kInterface),
                 QStringLiteral("ShortcutsChanged"), this, SLOT(OnShortcutsChanged(QDBusMessage)));
    Ask(QStringLiteral("ListShortcuts"), {QVariant::fromValue(QDBusObjectPath(session_))}, {},
        SLOT(OnListed(QDBusMessage)));
}

void GlobalShortcuts::OnListed(const QDBusMessage& response)
{
    QVariantMap results;
    if (!Answered(response, SLOT(OnListed(QDBusMessage)), "ListShortcuts", results))
        return;
    const auto listed = qdbus_cast<QList<Shortcut>>(results.value(QStringLiteral("shortcuts")));
    const auto has = [&](const char* id) {
        return std::any_of(listed.begin(), listed.end(),
                           [id](const Shortcut& shortcut) { return shortcut.id == QLatin1String(id); });
    };
    if (has(kToggleId) && has(kPauseId)) {
        KeepTriggers(results.value(QStringLiteral("shortcuts")));
        status_ = Status::kBound;
        LOG(INFO) << "mainwnd: global shortcuts kept by the desktop";
        return;
    }
    // Not bound yet: the desktop asks the user for the keys.
    QList<Shortcut> wanted;
    for (const auto& [id, description] :
         {std::pair{kToggleId, kToggleDescription}, std::pair{kPauseId, kPauseDescription}})
        wanted.append({QString::fromLatin1(id), {{QStringLiteral("description"), QString::fromUtf8(description)}}});
    Ask(QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(wanted), parentWindow_}, {},
        SLOT(OnBound(QDBusMessage)));
}

void GlobalShortcuts::OnBound(const QDBusMessage& response)
{
    QVariantMap results;
    if (!Answered(response, SLOT(OnBound(QDBusMessage)), "BindShortcuts", results))
        return;
    KeepTriggers(results.value(QStringLiteral("shortcuts")));
    status_ = Status::kBound;
    LOG(INFO) << "mainwnd: global shortcuts bound: " << Trigger(QLatin1String(kToggleId)).toStdString() << ", "
              << Trigger(QLatin1String(kPauseId)).toStdString();
}

void GlobalShortcuts::OnActivated(const QDBusMessage& signal)
{
    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QList<QVariant> args = signal.arguments();
    if (args.size() < 2 || session_.isEmpty() || Path(args[0]) != session_)
        return;
    const QString id = args[1].toString();
    if (id == QLatin1String(kToggleId) || id == QLatin1String(kPauseId)) {
        LOG(INFO) << "mainwnd: global shortcut " << id.toStdString();
        emit Activated(id);
    }
}

void GlobalShortcuts::OnShortcutsChanged(const QDBusMessage& signal)
{
    // ShortcutsChanged(o session_handle, a(sa{sv}) shortcuts): the user chose other keys.
    const QList<QVariant> args = signal.arguments();
    if (args.size() >= 2 && !session_.isEmpty() && Path(args[0]) == session_)
        KeepTriggers(args[1]);
}

void GlobalShortcuts::KeepTriggers(const QVariant& shortcuts)
{
    triggers_.clear();
    for (const Shortcut& shortcut : qdbus_cast<QList<Shortcut>>(shortcuts))
        triggers_.insert(shortcut.id, shortcut.properties.value(QStringLiteral("trigger_description")).toString());
}
