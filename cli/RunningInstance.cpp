#include "cli/RunningInstance.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

void askRunningInstance(const QString& socketPath, const QByteArray& message, int timeoutMs)
{
    // The command line has no event loop of its own to keep responsive: waiting here, briefly, is fine.
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath, QIODevice::WriteOnly);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        return;
    }
    socket.write(message);
    socket.waitForBytesWritten(int(deadline.remainingTime()));
    socket.disconnectFromServer();
}
