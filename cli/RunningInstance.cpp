#include "cli/RunningInstance.h"

#include "platform/InstanceSocket.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

void askRunningInstanceToRefresh(const QString& socketPath, int timeoutMs)
{
    // The command line has no event loop of its own to keep responsive: waiting here, briefly, is fine.
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath, QIODevice::WriteOnly);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        return;
    }
    socket.write(InstanceSocket::refreshMessage);
    socket.waitForBytesWritten(int(deadline.remainingTime()));
    socket.disconnectFromServer();
}
