#include "platform/LockLeftovers.h"
#include "platform/Logging.h"

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
    if (!lock.removeStaleLockFile()) {
        return false; // a living process holds it
    }
    qCDebug(lcPrefs) << "removed a lock file left empty by a killed process:" << lock.fileName();
    return true;
}
