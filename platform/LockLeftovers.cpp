#include "platform/LockLeftovers.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLockFile>

bool removeLockLeftover(QLockFile& lock)
{
    constexpr qint64 leftoverAgeMs = 1000;
    qint64 pid = 0;
    QString host;
    QString application;
    if (lock.getLockInfo(&pid, &host, &application)) {
        return false; // named: Qt judges it by its process
    }
    const QFileInfo info(lock.fileName());
    if (!info.exists() || info.lastModified().msecsTo(QDateTime::currentDateTime()) <= leftoverAgeMs) {
        return false;
    }
    return lock.removeStaleLockFile(); // refuses while a living process holds it
}
