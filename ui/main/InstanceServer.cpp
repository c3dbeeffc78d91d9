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
    if (line != kShowRequest) {
        LOG(ERROR) << "mainwnd: unknown request on the instance socket";
        socket->abort();
        return;
    }
    BringToFront(window_);
    LOG(INFO) << "mainwnd: window brought to the front for a second start";
    socket->write(kShownReply);
    socket->flush();
    socket->disconnectFromServer();
    emit ShowRequested();
}
