#include "platform/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Qt's lock files hold a process id, a host name and an application name.
constexpr qint64 maxLockFileSize = 4096;

QString notRegular(mode_t mode)
{
    const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISDIR(mode)  ? "a folder"
                       : S_ISLNK(mode)  ? "a symbolic link"
                                        : "something";
    return QLatin1String(kind) + QStringLiteral(", not a regular file");
}

QString tooLarge(qsizetype maxSize)
{
    return QStringLiteral("larger than %1 KiB").arg(maxSize / 1024);
}

RegularFile::Contents failed(RegularFile::Contents::Outcome outcome, QString problem)
{
    return {outcome, {}, std::move(problem)};
}
} // namespace

RegularFile::Contents RegularFile::read(const QString& path, qsizetype maxSize)
{
    using Outcome = Contents::Outcome;
    const QByteArray name = QFile::encodeName(path);
    // Looked at before it is opened: opening a device may already do something.
    struct stat info {
    };
    if (::stat(name.constData(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? Contents{} : failed(Outcome::Failed, qt_error_string(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return failed(Outcome::Failed, qt_error_string(EISDIR)); // a folder is never taken for something else's
    }
    if (!S_ISREG(info.st_mode)) {
        return failed(Outcome::NotRegular, notRegular(info.st_mode));
    }
    if (info.st_size > maxSize) {
        return failed(Outcome::TooLarge, tooLarge(maxSize));
    }
    // Non-blocking, in case something else took the file's place in between.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return failed(Outcome::Failed, qt_error_string(errno));
    }
    Contents contents{Outcome::Read, {}, {}};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        contents = failed(Outcome::NotRegular, notRegular(info.st_mode));
    }
    // Room for one byte more than the file holds tells whether it grew since it was looked at; it may grow to one
    // byte past the cap, which tells a file too large.
    QByteArray bytes(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    qsizetype total = 0;
    while (contents.outcome == Outcome::Read && total <= maxSize) {
        if (total == bytes.size()) {
            bytes.resize(maxSize + 1);
        }
        const ssize_t got = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            contents = failed(Outcome::Failed, qt_error_string(errno));
        } else if (got == 0) {
            break;
        } else {
            total += got;
        }
    }
    ::close(fd);
    if (contents.outcome != Outcome::Read) {
        return contents;
    }
    if (total > maxSize) {
        return failed(Outcome::TooLarge, tooLarge(maxSize));
    }
    bytes.truncate(total);
    contents.bytes = std::move(bytes);
    return contents;
}

QString RegularFile::lockFileProblem(const QString& path)
{
    struct stat info {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return {}; // nothing there: the lock makes it
    }
    if (!S_ISREG(info.st_mode)) {
        return path + QStringLiteral(" is ") + notRegular(info.st_mode);
    }
    if (info.st_size > maxLockFileSize) {
        return path + QStringLiteral(" is too large to be a lock file");
    }
    return {};
}
