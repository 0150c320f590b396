#pragma once

#include "FileLock.h"

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

// One running instance per user and display. The first instance holds a
// lock and listens on a local socket; a later one finds the lock taken and
// asks the first, through the socket, to come forward.
class SingleInstance : public QObject
{
public:
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance. The lock of a
    // process that no longer runs is free again.
    bool tryToBecomeTheInstance();
    // Asks the running instance to bring itself forward; waits a moment
    // for the message to be delivered.
    void activateRunningInstance();

    // Called in the running instance when another start asked for it.
    std::function<void()> onActivationRequest;

private:
    QString m_basePath;
    FileLock m_lock;
    QLocalServer *m_server = nullptr;
};
