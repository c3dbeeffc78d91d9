// The window and the desktop's services on a private session bus: the notices a stand-in
// notification service receives while the window is not in front (one table of events), and the
// global shortcuts of a stand-in portal (bound keys shown in the settings, its Activated signal
// driving the recording) or, without a portal, the command to bind in the settings.

#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "DesktopBus.h"
#include "DesktopNotifier.h"
#include "GlobalShortcuts.h"
#include "MainWndTestSupport.h"
#include "Process.h"
#include "RemoteRequest.h"
#include "SetingDialog.h"
#include "WindowTestSupport.h"

#include <QClipboard>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Answers method calls on one object path of the private bus with handler's reply.
class StandIn : public QDBusVirtualObject {
public:
    using Handler = std::function<QList<QVariant>(const QDBusMessage&)>;
    explicit StandIn(Handler handler) : handler_(std::move(handler)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QDBusMessage reply = message.createReply(handler_(message));
        return connection.send(reply);
    }

private:
    Handler handler_;
};

class DesktopBusTest : public MainWndTest {
protected:
    void SetUp() override
    {
        MainWndTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        bus_ = std::make_unique<Process>(std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address"});
        ASSERT_TRUE(bus_->WaitForOutput("\n", std::chrono::seconds(10)));
        address_ = QString::fromStdString(bus_->Out()).trimmed();
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            savedAddress_ = old;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.toLocal8Bit().constData(), 1);
        standIns_ = QDBusConnection::connectToBus(address_, QStringLiteral("stand-ins ") + address_);
        ASSERT_TRUE(standIns_.isConnected());
    }
    void TearDown() override
    {
        MainWndTest::TearDown();
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-ins ") + address_);
        if (savedAddress_)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress_->c_str(), 1);
        else
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void Serve(const char* service, const char* path, StandIn::Handler handler)
    {
        objects_.push_back(std::make_unique<StandIn>(std::move(handler)));
        ASSERT_TRUE(standIns_.registerService(QLatin1String(service)));
        ASSERT_TRUE(standIns_.registerVirtualObject(QLatin1String(path), objects_.back().get()));
    }
    // The global shortcuts' state once they settled.
    GlobalShortcuts::Status Settled()
    {
        const auto settled = [this] { return window_->Shortcuts()->GetStatus() > GlobalShortcuts::Status::kAsking; };
        EXPECT_TRUE(QTest::qWaitFor(settled, kDeliveryTimeoutMs));
        return window_->Shortcuts()->GetStatus();
    }
    // "shortcut-keys" and whether "copy-command" shows, read in the settings dialog (which is closed).
    std::pair<QString, bool> SettingsShortcuts(bool copy)
    {
        std::pair<QString, bool> seen;
        WhenShown<SetingDialog>([&seen, copy](SetingDialog* settings) {
            seen.first = settings->FindControl<QLabel>("shortcut-keys")->text();
            seen.second = settings->FindControl<QWidget>("copy-command")->isVisible();
            if (copy)
                QTest::mouseClick(settings->FindControl<QAbstractButton>("copy-command"), Qt::LeftButton);
            QTest::mouseClick(settings->FindControl<QAbstractButton>("closebtn"), Qt::LeftButton);
        });
        window_->PostMessage(CMainWnd::kMsgSeting, 0, 0);
        EXPECT_TRUE(QTest::qWaitFor([&seen] { return !seen.first.isEmpty() && !VisibleWindow<SetingDialog>(); },
                                    kDeliveryTimeoutMs));
        return seen;
    }

    std::unique_ptr<Process> bus_;
    QString address_;
    QDBusConnection standIns_{QString()};
    std::vector<std::unique_ptr<StandIn>> objects_;

private:
    std::optional<std::string> savedAddress_;
};

TEST_F(DesktopBusTest, NoticesTellWhatTheUserDidNotSeeHappen)
{
    using Event = DesktopNotifier::Event;
    std::vector<std::string> notices; // "summary: body"
    Serve("org.freedesktop.Notifications", "/org/freedesktop/Notifications", [&notices](const QDBusMessage& call) {
        const QList<QVariant> args = call.arguments();
        if (call.member() == QLatin1String("Notify") && args.size() == 8)
            notices.push_back((args[3].toString() + ": " + args[4].toString()).toStdString());
        return QList<QVariant>{QVariant::fromValue(uint(notices.size()))};
    });
    SetConfig("voice-source", "2");
    // A once schedule a few seconds ahead, for one second (the window reads it as it opens).
    const QDateTime at = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 3);
    for (const auto& [key, value] : {std::pair<const char*, QString>{"enabled", "1"}, {"repeat", "once"},
                                     {"date", at.toString("yyyy-MM-dd")}, {"start", at.toString("HH:mm:ss")},
                                     {"stop", "duration"}, {"duration", "1"}})
        WriteConfigString("schedule", key, value);
    BoxResponder boxes;
    OpenWindow([] { return std::vector<std::string>{"/tmp/a.wav"}; }); // shown, not activated

    const auto remote = [this](RemoteRequest::Command command) {
        RemoteRequest request;
        request.command = command;
        return window_->HandleRemote(request);
    };
    QString scheduled;
    QString started;
    const struct {
        const char* what;
        std::function<void()> act;
        std::vector<Event> told; // with the recording's file as the body
    } steps[] = {
        {"recovered at start", [&] { ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.texts.isEmpty(); }, kDeliveryTimeoutMs)); },
         {Event::kRecovered}},
        {"schedule",
         [&] {
             window_->hide();
             ASSERT_TRUE(QTest::qWaitFor([&] { return notices.size() == 3; }, kDeliveryTimeoutMs));
             scheduled = QString::fromStdString(notices[1]);
         },
         {Event::kScheduledStarted, Event::kScheduledEnded}},
        {"remote start", [&] { remote(RemoteRequest::Command::kStart); }, {Event::kRemoteStarted}},
        {"remote stop", [&] { remote(RemoteRequest::Command::kStop); }, {Event::kRemoteEnded}},
        {"fault", [&] {
             remote(RemoteRequest::Command::kStart);
             window_->Recorder()->Stop(); // as a failed write does, then the report
             window_->PostRecorderError(RecorderError::kDiskFull);
             ASSERT_TRUE(QTest::qWaitFor([this] { return !window_->Recorder(); }, kDeliveryTimeoutMs));
         },
         {Event::kRemoteStarted, Event::kDiskFull}},
        {"in front", [&] {
             window_->show();
             window_->activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(window_));
             remote(RemoteRequest::Command::kToggle);
             remote(RemoteRequest::Command::kToggle);
         },
         {}},
    };
    size_t seen = 0; // notices compared so far
    for (const auto& step : steps) {
        step.act();
        started = window_->CurrentFileName();
        // The notices are sent at once, their calls answered later: all of them have arrived
        // once a later call on the same connection has been answered.
        QDBusPendingCall later = DesktopBus().asyncCall(QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
            "GetServerInformation"));
        ASSERT_TRUE(QTest::qWaitFor([&later] { return later.isFinished(); }, kDeliveryTimeoutMs)) << step.what;
        std::vector<std::string> expected;
        for (Event event : step.told)
            expected.push_back(DesktopNotifier::Summary(event) +
                               (": " + (event == Event::kRecovered ? std::string() : started.toStdString())));
        EXPECT_EQ(std::vector<std::string>(notices.begin() + seen, notices.end()), expected) << step.what;
        seen = notices.size();
    }
    // The scheduled file is named by the second it started in.
    EXPECT_TRUE(scheduled.contains(at.toString("yyyyMMddHHmmss"))) << scheduled.toStdString() << " for "
                                                                   << at.toString("HH:mm:ss").toStdString();
}

TEST_F(DesktopBusTest, PortalShortcutsDriveTheRecordingAndShowTheirKeysElseTheCommandToBind)
{
    const QString session = QStringLiteral("/org/freedesktop/portal/desktop/session/1/tamsu");
    int binds = 0;
    Serve("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", [&](const QDBusMessage& call) {
        if (call.member() == QLatin1String("Get"))
            return QList<QVariant>{QVariant::fromValue(QDBusVariant(1u))};
        // The request's answer on its path: this caller's name and the handle token it chose.
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().last());
        QString sender = call.service().mid(1);
        sender.replace('.', '_');
        const QString request = "/org/freedesktop/portal/desktop/request/" + sender + "/" +
                                options.value("handle_token").toString();
        QVariantMap results;
        if (call.member() == QLatin1String("CreateSession")) {
            results.insert("session_handle", QVariant::fromValue(QDBusObjectPath(session)));
        } else if (call.member() == QLatin1String("BindShortcuts")) {
            ++binds;
            const QList<PortalShortcut> bound{{"toggle", {{"trigger_description", "Ctrl+Alt+R"}}},
                                              {"pause", {{"trigger_description", "Ctrl+Alt+P"}}}};
            results.insert("shortcuts", QVariant::fromValue(bound));
        } else {
            results.insert("shortcuts", QVariant::fromValue(QList<PortalShortcut>{})); // none yet
        }
        QDBusMessage response = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        response << 0u << results;
        QMetaObject::invokeMethod(qApp, [this, response] { standIns_.send(response); }, Qt::QueuedConnection);
        return QList<QVariant>{QVariant::fromValue(QDBusObjectPath(request))};
    });
    SetConfig("voice-source", "2");
    OpenWindow();
    ASSERT_EQ(Settled(), GlobalShortcuts::Status::kBound);
    EXPECT_EQ(binds, 1) << "asks the desktop for keys only when it has none";
    const auto [keys, copyShown] = SettingsShortcuts(false);
    EXPECT_TRUE(keys.contains("Ctrl+Alt+R") && keys.contains("Ctrl+Alt+P")) << keys.toStdString();
    EXPECT_FALSE(copyShown);

    const auto press = [&](const char* id, const QString& from) {
        QDBusMessage activated = QDBusMessage::createSignal("/org/freedesktop/portal/desktop",
                                                            "org.freedesktop.portal.GlobalShortcuts", "Activated");
        activated << QVariant::fromValue(QDBusObjectPath(from)) << QString(id) << quint64(0) << QVariantMap();
        standIns_.send(activated);
    };
    const auto state = [this] { return window_->Recorder() ? window_->Recorder()->GetState() : -1; };
    const std::pair<const char*, int> presses[] = {
        {"toggle", kRecording}, {"pause", kPaused}, {"pause", kRecording}, {"toggle", -1}};
    for (const auto& [id, after] : presses) {
        press(id, session + "_other"); // another session's key: not this program's
        press(id, session);
        EXPECT_TRUE(QTest::qWaitFor([&, after = after] { return state() == after; }, kDeliveryTimeoutMs)) << id;
    }
}

TEST_F(DesktopBusTest, WithoutAPortalTheSettingsOfferTheCommandToCopy)
{
    SetConfig("voice-source", "2");
    OpenWindow();
    ASSERT_EQ(Settled(), GlobalShortcuts::Status::kUnavailable);
    QGuiApplication::clipboard()->clear();
    const auto [keys, copyShown] = SettingsShortcuts(true);
    EXPECT_TRUE(keys.contains(SetingDialog::kToggleCommand)) << keys.toStdString();
    EXPECT_TRUE(copyShown);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), SetingDialog::kToggleCommand);
}

} // namespace
