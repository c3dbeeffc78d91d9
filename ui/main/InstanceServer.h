#pragma once
// InstanceServer: the main window's side of the single-instance protocol. It listens on the
// per-user local socket (InstanceSocketPath) and answers a second start of the program: that one
// connects, sends kShowRequest, and the server restores, shows and activates the window (and the
// dialog that is active on top of it), then replies kShownReply. The remote commands of the
// program (RemoteRequest: start, stop, pause, resume, toggle, status) go to the remote handler and
// its answer goes back as one line. Anything else, or a line longer than
// RemoteRequest::kMaxRequestBytes, closes the connection and touches nothing.
//
// Thread: UI thread (a QObject of the window's thread).

#include "RemoteRequest.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;
class QWidget;

class InstanceServer : public QObject {
    Q_OBJECT
public:
    // The request a second start sends and the answer it waits for.
    static constexpr const char* kShowRequest = "show\n";
    static constexpr const char* kShownReply = "shown\n";
    // Longest request line accepted; a client that sends more is cut off.
    static constexpr int kMaxRequestBytes = RemoteRequest::kMaxRequestBytes;
    // Carries out a remote command (UI thread); none set: remote commands are refused.
    using RemoteHandler = std::function<RemoteAnswer(const RemoteRequest&)>;

    // window: brought forward on request (not owned).
    explicit InstanceServer(QWidget* window, QObject* parent = nullptr);
    ~InstanceServer() override;

    // Starts listening on path, replacing a socket file that an ended instance left behind (the
    // caller holds the instance lock, so no live instance owns it). False, logged, on failure.
    bool Listen(const QString& path);
    bool IsListening() const;
    QString SocketPath() const;
    void SetRemoteHandler(RemoteHandler handler) { remoteHandler_ = std::move(handler); }

    // Restores window when minimised, shows, raises and activates it, then the modal dialog or
    // pop-up that is active above it. Also what a request does.
    static void BringToFront(QWidget* window);

signals:
    // A second start asked for the window (after it was brought forward).
    void ShowRequested();

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);

    QPointer<QWidget> window_;
    QLocalServer* server_ = nullptr; // child of this object
    RemoteHandler remoteHandler_;
};
