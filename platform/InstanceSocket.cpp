#include "platform/InstanceSocket.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// $XDG_RUNTIME_DIR only when it is what the base-directory rules promise: an absolute path to a folder that
// belongs to this user and that nobody else may enter.
QString privateRuntimeDirectory()
{
    const QByteArray dir = qgetenv("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !dir.startsWith('/')) {
        return {};
    }
    struct stat info {
    };
    if (::stat(dir.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
        (info.st_mode & 077) != 0) {
        return {};
    }
    return QString::fromLocal8Bit(dir);
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
