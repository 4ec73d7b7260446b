#include "app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
constexpr int handOverTimeoutMs = 1000;
const QByteArray openMessage = QByteArrayLiteral("open\n");
} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
{}

QString SingleInstance::defaultName()
{
    return QStringLiteral("app.kelvo.Kelvo-%1").arg(::getuid());
}

bool SingleInstance::handOverToRunningInstance()
{
    {
        // Runs once at start-up, before any window exists; a running instance answers at once.
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(handOverTimeoutMs)) {
            socket.write(openMessage);
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
                if (client->readAll().contains("open")) {
                    Q_EMIT activationRequested();
                }
            });
        }
    });
    return false;
}
