#include "SingleInstance.h"

#include "SessionScope.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent)
{
    QString display = currentDisplay();
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    m_basePath = runtimeFolder() + QLatin1Char('/') + name + QLatin1Char('-')
                 + QString::number(getuid()) + QLatin1Char('-') + display;
    m_lock = std::make_unique<QLockFile>(m_basePath + QStringLiteral(".lock"));
    // The lock is held for the whole life of the clock; only a dead owner
    // makes it stale, which QLockFile detects by its process id.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryToBecomeTheInstance()
{
    if (!m_lock->tryLock(0))
        return false;
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
