// The window and stand-ins of the desktop's services on a private session bus: notices while the
// window is not in front (one table of events), the portal's global shortcuts (keys shown in the
// settings, Activated driving the recording) or, without a portal, the command to copy.

#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "DesktopBus.h"
#include "DesktopNotifier.h"
#include "GlobalShortcuts.h"
#include "MainWndTestSupport.h"
#include "Process.h"
#include "SetingDialog.h"
#include "WindowTestSupport.h"

#include <QClipboard>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr const char* kNotices = "org.freedesktop.Notifications"; // the service, and its interface

// Answers the method calls on one object path of the private bus.
struct StandIn : QDBusVirtualObject {
    explicit StandIn(std::function<QList<QVariant>(const QDBusMessage&)> a) : answer(std::move(a)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override
    {
        return bus.send(call.createReply(answer(call)));
    }
    std::function<QList<QVariant>(const QDBusMessage&)> answer;
};

class DesktopBusTest : public MainWndTest {
protected:
    void SetUp() override
    {
        MainWndTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(bus_.WaitForOutput("\n", std::chrono::seconds(10)));
        const QString address = QString::fromStdString(bus_.Out()).trimmed();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit().constData(), 1); // DesktopBus() reads it
        standIns_ = QDBusConnection::connectToBus(address, "stand-ins " + address);
        ASSERT_TRUE(standIns_.isConnected());
        SetConfig("voice-source", "2");
    }
    void TearDown() override
    {
        MainWndTest::TearDown();
        QDBusConnection::disconnectFromBus(standIns_.name());
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); // the tests' environment has no desktop bus
    }
    void Serve(const char* service, const char* path, std::function<QList<QVariant>(const QDBusMessage&)> answer)
    {
        objects_.push_back(std::make_unique<StandIn>(std::move(answer)));
        ASSERT_TRUE(standIns_.registerService(service));
        ASSERT_TRUE(standIns_.registerVirtualObject(path, objects_.back().get()));
    }
    // The settings dialog's "shortcut-keys" once the shortcuts settled as status, and whether
    // "copy-command" shows; copy clicks it.
    std::pair<QString, bool> SettingsShortcuts(GlobalShortcuts::Status status, bool copy = false)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return window_->Shortcuts()->GetStatus() == status; }, kDeliveryTimeoutMs));
        std::pair<QString, bool> seen;
        WhenShown<SetingDialog>([&seen, copy](SetingDialog* settings) {
            seen = {settings->FindControl<QLabel>("shortcut-keys")->text(),
                    settings->FindControl<QWidget>("copy-command")->isVisible()};
            if (copy)
                QTest::mouseClick(settings->FindControl<QAbstractButton>("copy-command"), Qt::LeftButton);
            QTest::mouseClick(settings->FindControl<QAbstractButton>("closebtn"), Qt::LeftButton);
        });
        window_->PostMessage(CMainWnd::kMsgSeting, 0, 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.first.isEmpty() && !VisibleWindow<SetingDialog>(); },
                                    kDeliveryTimeoutMs));
        return seen;
    }

    Process bus_{{"dbus-daemon", "--session", "--nofork", "--print-address"}};
    QDBusConnection standIns_{QString()};
    std::vector<std::unique_ptr<StandIn>> objects_;
};

TEST_F(DesktopBusTest, NoticesTellWhatTheUserDidNotSeeAndWithoutAPortalTheCommandCanBeCopied)
{
    using Event = DesktopNotifier::Event;
    std::vector<std::string> notices; // "summary: body"
    Serve(kNotices, "/org/freedesktop/Notifications", [&notices](const QDBusMessage& call) {
        const QList<QVariant> args = call.arguments();
        if (call.member() == "Notify" && args.size() == 8)
            notices.push_back((args[3].toString() + ": " + args[4].toString()).toStdString());
        return QList<QVariant>{uint(notices.size())};
    });
    // A once schedule a few seconds ahead, for one second (the window reads it as it opens).
    const QDateTime at = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 3);
    for (const auto& [key, value] : {std::pair<const char*, QString>{"enabled", "1"}, {"repeat", "once"},
                                     {"date", at.toString("yyyy-MM-dd")}, {"start", at.toString("HH:mm:ss")},
                                     {"stop", "duration"}, {"duration", "1"}})
        WriteConfigString("schedule", key, value);
    SetConfig("voice-activation", "1"); // the private server plays nothing: recordings wait for sound
    BoxResponder boxes;
    OpenWindow([] { return std::vector<std::string>{"/tmp/a.wav"}; }); // shown, not activated

    using Command = RemoteRequest::Command;
    const auto remote = [this](Command command) {
        RemoteRequest request;
        request.command = command;
        window_->HandleRemote(request);
    };
    // A recording that stops itself: ended by the window (its file kept), the reason prompted.
    const auto fault = [&](RecorderError error) {
        remote(Command::kStart);
        window_->Recorder()->Stop(); // as a failed write does, then the report
        window_->PostRecorderError(error);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->Recorder(); }, kDeliveryTimeoutMs));
        EXPECT_TRUE(QFileInfo::exists(window_->CurrentFolder() + "/" + window_->CurrentFileName()));
    };
    const struct {
        const char* what;
        std::function<void()> act;
        std::vector<Event> told; // with the recording's file as the body
    } steps[] = {
        {"recovered at start",
         [&] { EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.texts.isEmpty(); }, kDeliveryTimeoutMs)); },
         {Event::kRecovered}},
        {"schedule",
         [&] {
             window_->hide();
             EXPECT_TRUE(QTest::qWaitFor([&] { return notices.size() == 3; }, kDeliveryTimeoutMs));
         },
         {Event::kScheduledStarted, Event::kScheduledEnded}},
        {"remote start, waiting for sound",
         [&] {
             remote(Command::kStart);
             auto* info = Control<QLabel>("recorder-info");
             EXPECT_TRUE(QTest::qWaitFor([=] { return info->text() == CMainWnd::kInfoWaiting; }, kDeliveryTimeoutMs));
             window_->PostRecorderWaiting(false); // as the recorder reports a sound
             QCoreApplication::sendPostedEvents(window_);
             EXPECT_EQ(info->text(), CMainWnd::kInfoRecording);
         },
         {Event::kRemoteStarted}},
        {"remote stop", [&] { remote(Command::kStop); }, {Event::kRemoteEnded}},
        {"disk full", [&] { fault(RecorderError::kDiskFull); }, {Event::kRemoteStarted, Event::kDiskFull}},
        {"write failed", [&] { fault(RecorderError::kWriteFailed); }, {Event::kRemoteStarted, Event::kWriteFailed}},
        {"in front",
         [&] {
             window_->show(), window_->activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(window_));
             remote(Command::kToggle), remote(Command::kToggle);
         },
         {}},
    };
    size_t seen = 0; // notices compared so far
    for (const auto& step : steps) {
        step.act();
        // The notices are sent at once and answered later: all have arrived once a later call on
        // the same connection has been answered.
        QDBusPendingCall later = DesktopBus().asyncCall(
            QDBusMessage::createMethodCall(kNotices, "/org/freedesktop/Notifications", kNotices, "Ping"));
        ASSERT_TRUE(QTest::qWaitFor([&later] { return later.isFinished(); }, kDeliveryTimeoutMs)) << step.what;
        std::vector<std::string> expected;
        for (Event event : step.told)
            expected.push_back(std::string(DesktopNotifier::Summary(event)) + ": " +
                               (event == Event::kRecovered ? "" : window_->CurrentFileName().toStdString()));
        EXPECT_EQ(std::vector<std::string>(notices.begin() + seen, notices.end()), expected) << step.what;
        seen = notices.size();
    }
    // The scheduled file is named by the second it started in; each prompt showed once.
    EXPECT_NE(notices.at(1).find(at.toString("yyyyMMddHHmmss").toStdString()), std::string::npos) << notices[1];
    EXPECT_EQ(boxes.texts,
              QStringList({CMainWnd::kRecoveredText, CMainWnd::kDiskFullText, CMainWnd::kWriteFailedText}));

    // No portal on this bus: the settings offer the command to bind, and copy it.
    QGuiApplication::clipboard()->clear();
    const auto [keys, copyShown] = SettingsShortcuts(GlobalShortcuts::Status::kUnavailable, true);
    EXPECT_TRUE(keys.contains(SetingDialog::kToggleCommand) && copyShown) << keys.toStdString();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), SetingDialog::kToggleCommand);
}

TEST_F(DesktopBusTest, PortalShortcutsShowTheirKeysAndDriveTheRecording)
{
    const QString session = "/org/freedesktop/portal/desktop/session/1/tamsu";
    Serve("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", [&](const QDBusMessage& call) {
        if (call.member() == "Get") // the interface's version
            return QList<QVariant>{QVariant::fromValue(QDBusVariant(1u))};
        if (call.member() == "Register") // the program's name
            return QList<QVariant>{};
        // The answer comes on the request's path: the caller's name and the token it chose.
        const QString request = "/org/freedesktop/portal/desktop/request/" + call.service().mid(1).replace('.', '_') +
                                "/" + qdbus_cast<QVariantMap>(call.arguments().last()).value("handle_token").toString();
        QList<GlobalShortcuts::Shortcut> shortcuts; // ListShortcuts: none yet
        if (call.member() == "BindShortcuts")
            shortcuts = {{"toggle", {{"trigger_description", "Ctrl+Alt+R"}}},
                         {"pause", {{"trigger_description", "Ctrl+Alt+P"}}}};
        QVariantMap results{{"shortcuts", QVariant::fromValue(shortcuts)}};
        if (call.member() == "CreateSession")
            results = {{"session_handle", QVariant::fromValue(QDBusObjectPath(session))}};
        const QDBusMessage response =
            QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response") << 0u << results;
        QMetaObject::invokeMethod(qApp, [this, response] { standIns_.send(response); }, Qt::QueuedConnection);
        return QList<QVariant>{QVariant::fromValue(QDBusObjectPath(request))};
    });
    OpenWindow();
    const auto [keys, copyShown] = SettingsShortcuts(GlobalShortcuts::Status::kBound);
    EXPECT_TRUE(keys.contains("Ctrl+Alt+R") && keys.contains("Ctrl+Alt+P") && !copyShown) << keys.toStdString();

    const auto press = [&](const char* id, const QString& from) {
        const char* interface = "org.freedesktop.portal.GlobalShortcuts";
        standIns_.send(QDBusMessage::createSignal("/org/freedesktop/portal/desktop", interface, "Activated")
                       << QVariant::fromValue(QDBusObjectPath(from)) << QString(id) << quint64(0) << QVariantMap());
    };
    const auto state = [this] { return window_->Recorder() ? window_->Recorder()->GetState() : -1; };
    for (const auto& [id, after] : {std::pair<const char*, int>{"toggle", kRecording}, {"pause", kPaused},
                                    {"pause", kRecording}, {"toggle", -1}}) {
        press(id, session + "_other"); // another session's key: not this program's
        press(id, session);
        EXPECT_TRUE(QTest::qWaitFor([&, after = after] { return state() == after; }, kDeliveryTimeoutMs)) << id;
    }
}

} // namespace
