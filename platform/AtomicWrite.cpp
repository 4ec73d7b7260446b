#include "platform/AtomicWrite.h"
#include "platform/Logging.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A chain of links longer than this is a loop; the rename then replaces the link itself.
constexpr int maxLinkHops = 40;
// A living writer takes milliseconds; its temporary file is held besides. One left for longer by nobody is a
// writer's that was killed.
constexpr time_t leftoverAgeSeconds = 60;
constexpr qsizetype temporarySuffixLength = 6; // mkostemp's XXXXXX

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

bool fail(QString* reason, const QString& why)
{
    if (reason) {
        *reason = why;
    }
    return false;
}

bool fail(QString* reason, int error)
{
    return fail(reason, qt_error_string(error));
}

bool isTemporarySuffix(QStringView suffix)
{
    return suffix.size() == temporarySuffixLength && std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
               return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
           });
}

// Removes the temporary files "<name>.XXXXXX" beside `target` that writers killed mid-write left behind: a whole
// copy of what they were writing, a key included. Each writer holds an flock on its temporary file until it is
// renamed or removed, so one that can be locked, and is over a minute old, belongs to nobody.
void removeWriteLeftovers(const QString& target)
{
    const QFileInfo info(target);
    const QString prefix = info.fileName() + QLatin1Char('.');
    QDirIterator it(info.absolutePath(), QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (!name.startsWith(prefix) || !isTemporarySuffix(QStringView(name).mid(prefix.size()))) {
            continue;
        }
        const QByteArray encoded = QFile::encodeName(path);
        struct stat leftover {
        };
        if (::lstat(encoded.constData(), &leftover) != 0 || !S_ISREG(leftover.st_mode) ||
            std::time(nullptr) - leftover.st_mtime < leftoverAgeSeconds) {
            continue;
        }
        const int fd = ::open(encoded.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(encoded.constData()) == 0) {
            qCDebug(lcPrefs) << "removed a temporary file left by a killed writer:" << path;
        }
        ::close(fd);
    }
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
    const QString targetPath = followLinks(path);
    const QByteArray target = QFile::encodeName(targetPath);
    // Only a regular file is replaced: a FIFO or a device in its place (or at the end of its link) stays.
    struct stat existing {
    };
    if (::lstat(target.constData(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return fail(reason, QStringLiteral("it is not a regular file"));
    }
    removeWriteLeftovers(targetPath);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(reason, errno);
    }
    // Held until the file is renamed or removed: a writer's file is nobody's leftover while it lives.
    ::flock(fd, LOCK_EX | LOCK_NB);
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
    // The flock goes with the close; the file was written moments ago, too young to pass for a leftover.
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
