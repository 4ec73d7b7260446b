#include "app/SingleInstance.h"

#include "platform/AtomicWrite.h"
#include "platform/InstanceSocket.h"
#include "platform/LockLeftovers.h"
#include "platform/Logging.h"
#include "platform/RegularFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {
// How long a start waits for the Kelvo holding the lock to answer: it may have just taken the lock itself.
constexpr int claimTimeoutMs = 5000;
constexpr int retryIntervalMs = 50;
constexpr int socketTimeoutMs = 1000;
// Kelvo's own clients are done in milliseconds; a connection left open is closed after this.
constexpr int connectionLifetimeMs = 5000;

// Whether the process at the other end of a connected local socket runs as this user. A socket of another user
// must never make Kelvo leave, nor tell it what to do.
bool peerIsThisUser(qintptr descriptor)
{
#ifdef SO_PEERCRED
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return descriptor >= 0 && ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::getuid();
#else
    return descriptor >= 0; // the socket's own permissions keep other users out
#endif
}
} // namespace

SingleInstance::SingleInstance(QString preferencesDirectory, QObject* parent)
    : QObject(parent)
    , m_directory(std::move(preferencesDirectory))
    , m_name(InstanceSocket::path(m_directory))
{}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::claim()
{
    QString reason;
    makePrivateFolders(m_directory, &reason); // the settings folder on a first start
    QDir().mkpath(QFileInfo(m_name).absolutePath());
    const QString lockPath = InstanceSocket::lockPath(m_directory);
    m_lock = std::make_unique<QLockFile>(lockPath);
    m_lock->setStaleLockTime(0); // held for a whole run: stale only when its process is gone
    if (const QString problem = RegularFile::lockFileProblem(lockPath); !problem.isEmpty()) {
        // Qt would wait for ever reading a FIFO there. Run unguarded rather than not at all, as without a lock.
        std::fprintf(stderr, "Kelvo: %s; a second Kelvo on these settings will not be kept out.\n",
                     qPrintable(problem));
        qCDebug(lcPrefs) << "instance lock refused:" << problem;
        listen();
        return Role::First;
    }
    const QDeadlineTimer deadline(claimTimeoutMs);
    while (true) {
        if (m_lock->tryLock(0)) {
            listen();
            return Role::First;
        }
        if (removeLockLeftover(*m_lock)) {
            continue; // nobody answers behind it, whatever listens at the socket
        }
        if (askRunningInstanceToOpen()) {
            return Role::HandedOver;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            // No lock can be taken here (a read-only folder): run unguarded rather than not at all.
            qCDebug(lcPrefs) << "instance lock refused:" << lockPath << "error" << m_lock->error();
            listen();
            return Role::First;
        }
        if (deadline.hasExpired()) {
            qCDebug(lcPrefs) << "instance lock held by a Kelvo that does not answer:" << lockPath;
            return Role::Unreachable;
        }
        QThread::msleep(retryIntervalMs);
    }
}

QString SingleInstance::unreachableMessage() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    m_lock->getLockInfo(&pid, &host, &application);
    return QStringLiteral("Another Kelvo (process %1) is running with the same settings folder but does not answer "
                          "at %2. Quit it, or end that process, and start Kelvo again.")
        .arg(pid)
        .arg(QDir::toNativeSeparators(m_name));
}

bool SingleInstance::askRunningInstanceToOpen()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(socketTimeoutMs)) {
        return false;
    }
    if (!peerIsThisUser(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
    socket.write(InstanceSocket::openMessage);
    socket.waitForBytesWritten(socketTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(socketTimeoutMs);
    }
    return true;
}

void SingleInstance::listen()
{
    // Under the lock nobody else listens here: a socket file left by a crashed Kelvo (or anything else) goes.
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        std::fprintf(stderr, "Kelvo: cannot listen at %s (%s); a second start will not find this one.\n",
                     qPrintable(m_name), qPrintable(m_server->errorString()));
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            if (!peerIsThisUser(client->socketDescriptor())) {
                client->abort();
                client->deleteLater();
                continue;
            }
            serve(client);
        }
    });
}

// Reads the client's lines as they come. Qt buffers no more than one line's worth, so a client that never sends a
// newline, or sends without end, costs a few hundred bytes and is closed.
void SingleInstance::serve(QLocalSocket* client)
{
    client->setReadBufferSize(InstanceSocket::maxLineLength);
    QTimer::singleShot(connectionLifetimeMs, client, &QLocalSocket::abort);
    auto lines = std::make_shared<int>(0);
    connect(client, &QLocalSocket::readyRead, this, [this, client, lines] {
        while (client->canReadLine()) {
            const QByteArray line = client->readLine(InstanceSocket::maxLineLength + 1);
            if (++*lines > InstanceSocket::maxLinesPerConnection) {
                client->abort();
                return;
            }
            if (line == InstanceSocket::openMessage) {
                Q_EMIT activationRequested();
            } else if (line == InstanceSocket::refreshMessage) {
                Q_EMIT refreshRequested();
            } else if (line == InstanceSocket::reloadKeyMessage) {
                Q_EMIT keyReloadRequested();
            }
        }
        if (client->bytesAvailable() >= InstanceSocket::maxLineLength) {
            client->abort(); // a full line's worth and no end to it
        }
    });
}
