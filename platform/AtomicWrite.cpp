#include "platform/AtomicWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A chain of links longer than this is a loop; the rename then replaces the link itself.
constexpr int maxLinkHops = 40;

// The file a write to `path` is meant for: links are followed, so that a store kept elsewhere (a dotfiles folder)
// is updated where it lives instead of being cut loose from it.
QString followLinks(QString path)
{
    for (int hop = 0; hop < maxLinkHops; ++hop) {
        const QFileInfo info(path);
        if (!info.isSymLink()) {
            break;
        }
        path = info.symLinkTarget();
    }
    return path;
}

bool fail(QString* reason, int error)
{
    if (reason) {
        *reason = qt_error_string(error);
    }
    return false;
}

// Writes everything or reports why not. With SIGXFSZ ignored, a file size limit shows as a short write followed
// by EFBIG; a full disk as ENOSPC.
int writeAll(int fd, const QByteArray& contents)
{
    const char* data = contents.constData();
    qsizetype left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        data += written;
        left -= written;
    }
    return 0;
}
} // namespace

bool replaceFileAtomically(const QString& path, const QByteArray& contents, mode_t mode, QString* reason)
{
    const QByteArray target = QFile::encodeName(followLinks(path));
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(reason, errno);
    }
    // Restricted before any byte is written: the file may hold a secret.
    int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
    if (error == 0) {
        error = writeAll(fd, contents);
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    // What the disk holds is what was meant, or the old file stays.
    struct stat written {
    };
    if (error == 0 && ::fstat(fd, &written) != 0) {
        error = errno;
    } else if (error == 0 && written.st_size != contents.size()) {
        error = EIO;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.constData());
        return fail(reason, error);
    }
    // The rename itself reaches the disk with its folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

bool makePrivateFolders(const QString& path, QString* reason)
{
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    if (QFileInfo(folder).isDir()) {
        return true;
    }
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder && !makePrivateFolders(parent, reason)) {
        return false;
    }
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        return fail(reason, errno);
    }
    return QFileInfo(folder).isDir() || fail(reason, ENOTDIR);
}
