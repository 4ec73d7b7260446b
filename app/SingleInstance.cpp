#include "app/SingleInstance.h"

#include "platform/InstanceSocket.h"
#include "platform/Preferences.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {
constexpr int handOverTimeoutMs = 1000;
} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
{}

QString SingleInstance::defaultName()
{
    return InstanceSocket::path(Preferences::defaultDirectory());
}

bool SingleInstance::handOverToRunningInstance()
{
    {
        // Runs once at start-up, before any window exists; a running instance answers at once.
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(handOverTimeoutMs)) {
            socket.write(InstanceSocket::openMessage);
            socket.waitForBytesWritten(handOverTimeoutMs);
            socket.disconnectFromServer();
            return true;
        }
    }
    // Nobody answered: a socket file left by a crashed instance is stale.
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(m_name);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    const QByteArray line = client->readLine();
                    if (line == InstanceSocket::openMessage) {
                        Q_EMIT activationRequested();
                    } else if (line == InstanceSocket::refreshMessage) {
                        Q_EMIT refreshRequested();
                    }
                }
            });
        }
    });
    return false;
}
