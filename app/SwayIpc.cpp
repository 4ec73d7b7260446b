#include "app/SwayIpc.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTimer>

#include <cstring>

namespace {
constexpr int headerSize = 14; // "i3-ipc", the payload's length, the message type
// A window is sway's only once its first picture has arrived, a moment after it maps: until then no window matches.
constexpr int attempts = 20;
constexpr int retryMs = 50;

QByteArray runCommand(const QString& command)
{
    const QByteArray payload = command.toUtf8();
    const quint32 header[] = {quint32(payload.size()), 0}; // in the machine's byte order, as sway reads them
    return QByteArray("i3-ipc") + QByteArray(reinterpret_cast<const char*>(header), sizeof header) + payload;
}

void run(const QString& command, int attemptsLeft)
{
    auto* socket = new QLocalSocket(qApp);
    QObject::connect(socket, &QLocalSocket::connected, socket,
                     [socket, command] { socket->write(runCommand(command)); });
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, command, attemptsLeft] {
        quint32 length = 0;
        if (socket->bytesAvailable() < headerSize) {
            return;
        }
        std::memcpy(&length, socket->peek(headerSize).constData() + 6, sizeof length);
        if (socket->bytesAvailable() < headerSize + qint64(length)) {
            return;
        }
        const QJsonArray results = QJsonDocument::fromJson(socket->readAll().mid(headerSize)).array();
        socket->disconnectFromServer();
        if (!results.first().toObject().value(QLatin1String("success")).toBool() && attemptsLeft > 1) {
            QTimer::singleShot(retryMs, qApp, [command, attemptsLeft] { run(command, attemptsLeft - 1); });
        }
    });
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::errorOccurred, socket, &QObject::deleteLater);
    socket->connectToServer(qEnvironmentVariable("SWAYSOCK"));
}
} // namespace

bool SwayIpc::available()
{
    return !qEnvironmentVariableIsEmpty("SWAYSOCK") && QGuiApplication::platformName() == QLatin1String("xcb");
}

void SwayIpc::moveWindow(WId window, const QPoint& position)
{
    run(QStringLiteral("[id=%1] move absolute position %2 %3").arg(window).arg(position.x()).arg(position.y()),
        attempts);
}
