#include "InstanceServer.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <glog/logging.h>

InstanceServer::InstanceServer(QWidget* window, QObject* parent)
    : QObject(parent)
    , window_(window)
    , server_(new QLocalServer(this))
{
    // The socket lives in the user's private runtime folder; the option keeps it private also
    // when that folder is not.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::OnNewConnection);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::Listen(const QString& path)
{
    if (path.isEmpty()) {
        LOG(ERROR) << "mainwnd: no runtime folder, a second start cannot find this window";
        return false;
    }
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) {
        LOG(ERROR) << "mainwnd: cannot listen on \"" << path.toStdString()
                   << "\": " << server_->errorString().toStdString();
        return false;
    }
    return true;
}

bool InstanceServer::IsListening() const
{
    return server_->isListening();
}

QString InstanceServer::SocketPath() const
{
    return server_->fullServerName();
}

void InstanceServer::BringToFront(QWidget* window)
{
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    // The last active pop-up: a modal box above the window keeps the focus.
    QWidget* popup = QApplication::activeModalWidget();
    if (!popup)
        popup = QApplication::activePopupWidget();
    if (popup && popup != window) {
        popup->raise();
        popup->activateWindow();
    }
}

void InstanceServer::OnNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        if (socket->bytesAvailable() > 0)
            OnReadyRead(socket);
    }
}

void InstanceServer::OnReadyRead(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kMaxRequestBytes + 1);
    const std::optional<RemoteRequest> request = line.endsWith('\n') ? RemoteRequest::Parse(line.toStdString())
                                                                      : std::nullopt;
    const bool show = request && request->command == RemoteRequest::Command::kShow;
    if (!request || (!show && !remoteHandler_)) {
        LOG(ERROR) << "mainwnd: unknown request on the instance socket";
        socket->abort();
        return;
    }
    if (show) {
        BringToFront(window_);
        LOG(INFO) << "mainwnd: window brought to the front for a second start";
        socket->write(kShownReply);
    } else {
        LOG(INFO) << "mainwnd: remote request " << line.trimmed().toStdString();
        // The handler may run a nested event loop (a dialog): the connection may be gone after it.
        const QPointer<QLocalSocket> alive(socket);
        const std::string answer = remoteHandler_(*request).ToLine();
        if (!alive)
            return;
        socket->write(answer.c_str(), static_cast<qint64>(answer.size()));
    }
    socket->flush();
    socket->disconnectFromServer();
    if (show)
        emit ShowRequested();
}
