#include "SingleInstance.h"

#include "SessionScope.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <unistd.h>

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent)
{
    QString display = currentDisplay();
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    m_basePath = runtimeFolder() + QLatin1Char('/') + name + QLatin1Char('-')
                 + QString::number(getuid()) + QLatin1Char('-') + display;
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryToBecomeTheInstance()
{
    // An advisory lock held for the whole life of the instance: the kernel
    // lets go of it when the process ends, however it ends, so a start
    // killed at any moment never keeps the next one out.
    const QByteArray lockPath = QFile::encodeName(m_basePath + QStringLiteral(".lock"));
    const int error = m_lock.acquire(lockPath);
    if (error == EWOULDBLOCK)
        return false;
    // No lock to be had at all: better a start that may be a second one
    // than a program that never starts.
    if (error)
        qWarning("%s: %s; started without checking for another instance", lockPath.constData(), strerror(error));
    const QString socketPath = m_basePath + QStringLiteral(".socket");
    QLocalServer::removeServer(socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains("activate") && onActivationRequest)
                    onActivationRequest();
                socket->disconnectFromServer();
            });
        }
    });
    m_server->listen(socketPath);
    return true;
}

void SingleInstance::activateRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(m_basePath + QStringLiteral(".socket"));
    if (!socket.waitForConnected(500))
        return;
    socket.write("activate\n");
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
}
