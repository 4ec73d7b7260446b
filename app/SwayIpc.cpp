#include "app/SwayIpc.h"

#include <QDeadlineTimer>
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

constexpr quint32 runCommandType = 0;
constexpr quint32 getWorkspacesType = 1;
constexpr int answerMs = 250; // sway answers at once; a sway that does not is not waited for longer

QByteArray message(quint32 type, const QByteArray& payload)
{
    const quint32 header[] = {quint32(payload.size()), type}; // in the machine's byte order, as sway reads them
    return QByteArray("i3-ipc") + QByteArray(reinterpret_cast<const char*>(header), sizeof header) + payload;
}

QByteArray runCommand(const QString& command)
{
    return message(runCommandType, command.toUtf8());
}

// The payload of sway's answer to one message, or nothing when it does not come within answerMs.
QJsonDocument ask(quint32 type)
{
    QLocalSocket socket;
    const QDeadlineTimer deadline(answerMs);
    socket.connectToServer(qEnvironmentVariable("SWAYSOCK"));
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        return {};
    }
    socket.write(message(type, {}));
    QByteArray answer;
    quint32 length = 0;
    while (answer.size() < headerSize || answer.size() < headerSize + qint64(length)) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime()))) {
            return {};
        }
        answer += socket.readAll();
        if (answer.size() >= headerSize) {
            std::memcpy(&length, answer.constData() + 6, sizeof length);
        }
    }
    return QJsonDocument::fromJson(answer.mid(headerSize, length));
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

std::optional<QRect> SwayIpc::usableArea(const QRect& screen)
{
    for (const QJsonValue& workspace : ask(getWorkspacesType).array()) {
        const QJsonObject rect = workspace[QLatin1String("rect")].toObject();
        const QRect area(rect[QLatin1String("x")].toInt(), rect[QLatin1String("y")].toInt(),
                         rect[QLatin1String("width")].toInt(), rect[QLatin1String("height")].toInt());
        if (workspace[QLatin1String("visible")].toBool() && area.intersects(screen)) {
            return area;
        }
    }
    return std::nullopt;
}
