#include "platform/InstanceSocket.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// An absolute path to a folder that belongs to this user and that nobody else may enter. In a folder anyone may
// write to, a link to such a folder does not count.
bool isPrivateFolder(const QByteArray& dir, bool followLink = true)
{
    struct stat info {
    };
    const int found = followLink ? ::stat(dir.constData(), &info) : ::lstat(dir.constData(), &info);
    return dir.startsWith('/') && found == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & 077) == 0;
}

// The user's runtime folder. $XDG_RUNTIME_DIR when it is what the base-directory rules promise; without it (cron,
// su, ssh without a session) the folder a login session gets, /run/user/UID, and else a folder of our own under
// /tmp. Both sides take the same path whichever of them lacks the variable, so that the command line finds the
// tray. Empty when none of them is private.
QString privateRuntimeDirectory()
{
    const QByteArray variable = qgetenv("XDG_RUNTIME_DIR");
    if (isPrivateFolder(variable)) {
        return QString::fromLocal8Bit(variable);
    }
    const QByteArray session = "/run/user/" + QByteArray::number(::getuid());
    if (isPrivateFolder(session)) {
        return QString::fromLatin1(session);
    }
    const QByteArray own = "/tmp/kelvo-" + QByteArray::number(::getuid());
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    // Someone else may have made it first: it counts only when it is ours and closed to others.
    return isPrivateFolder(own, false) ? QString::fromLatin1(own) : QString();
}
} // namespace

QString InstanceSocket::path(const QString& preferencesDirectory)
{
    const QString folder = QDir::cleanPath(QFileInfo(preferencesDirectory).absoluteFilePath());
    const QString runtime = privateRuntimeDirectory();
    if (runtime.isEmpty()) {
        return folder + QStringLiteral("/instance.socket");
    }
    const QByteArray key = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return runtime + QStringLiteral("/kelvo-") + QString::fromLatin1(key) + QStringLiteral(".socket");
}

QString InstanceSocket::lockPath(const QString& preferencesDirectory)
{
    return QDir::cleanPath(QFileInfo(preferencesDirectory).absoluteFilePath()) + QStringLiteral("/instance.lock");
}
