#include "platform/Preferences.h"
#include "platform/AtomicWrite.h"
#include "platform/ConfigHome.h"
#include "platform/LockLeftovers.h"
#include "platform/Logging.h"
#include "platform/RegularFile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr auto fileName = "preferences.json";
constexpr auto dateTag = "$date";
// A writer holds the lock for a few milliseconds; waiting longer means it is stuck, and the write fails instead.
constexpr int lockTimeoutMs = 2000;

enum class StoreOnDisk {
    Missing,
    Parsed,
    Unusable,   // not parsable, or not a regular file of a sane size: moved aside, it costs nothing
    Unreadable, // there but not readable: replacing it could lose a key that is only hidden for a moment
};

StoreOnDisk readStore(const QString& path, QJsonObject& values, QString* problem)
{
    using Outcome = RegularFile::Contents::Outcome;
    const RegularFile::Contents contents = RegularFile::read(path);
    *problem = contents.problem;
    switch (contents.outcome) {
    case Outcome::Missing:
        return StoreOnDisk::Missing;
    case Outcome::NotRegular:
    case Outcome::TooLarge:
        return StoreOnDisk::Unusable;
    case Outcome::Failed:
        return StoreOnDisk::Unreadable;
    case Outcome::Read:
        break;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(contents.bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        *problem = QStringLiteral("not valid settings (%1)")
                       .arg(error.error != QJsonParseError::NoError ? error.errorString()
                                                                    : QStringLiteral("not a JSON object"));
        return StoreOnDisk::Unusable;
    }
    values = document.object();
    return StoreOnDisk::Parsed;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        done += written;
    }
    return true;
}

// Qt says no more than "could not create" when it cannot make the lock file; a full disk is the usual cause. A
// small file written and removed beside it tells the real one.
QString lockCreationFailure(const QString& lockPath)
{
    QByteArray probe = QFile::encodeName(lockPath) + "-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        return qt_error_string(errno);
    }
    int error = writeAll(fd, QByteArray(64, 'x')) ? 0 : errno; // what a lock file holds
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    ::close(fd);
    ::unlink(probe.constData());
    return error != 0 ? qt_error_string(error) : QStringLiteral("could not create %1").arg(lockPath);
}

QString lockFailure(QLockFile::LockError error, const QString& lockPath)
{
    switch (error) {
    case QLockFile::PermissionError:
        return qt_error_string(EACCES);
    case QLockFile::LockFailedError:
        return QStringLiteral("another program holds %1").arg(lockPath);
    default:
        return lockCreationFailure(lockPath);
    }
}

// Waits for another writer to finish; a lock left by a writer that was killed while taking it is taken over.
bool takeLock(QLockFile& lock)
{
    const QDeadlineTimer deadline(lockTimeoutMs);
    while (!lock.tryLock(100)) {
        if (lock.error() != QLockFile::LockFailedError) {
            return false;
        }
        removeLockLeftover(lock);
        if (deadline.hasExpired()) {
            return false;
        }
    }
    return true;
}

// Takes group and other access away from the folder; never gives any.
void tightenFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    struct stat info {
    };
    if (::stat(name.constData(), &info) == 0 && (info.st_mode & 077) != 0) {
        ::chmod(name.constData(), info.st_mode & 0700);
    }
}

QJsonValue encodeDate(const QDateTime& date)
{
    return QJsonObject{{QLatin1String(dateTag), date.toUTC().toString(Qt::ISODateWithMs)}};
}

std::optional<QDateTime> decodeDate(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    if (object.size() != 1 || !object.value(QLatin1String(dateTag)).isString()) {
        return std::nullopt;
    }
    QDateTime date = QDateTime::fromString(object.value(QLatin1String(dateTag)).toString(), Qt::ISODateWithMs);
    if (!date.isValid()) {
        return std::nullopt;
    }
    return date;
}
} // namespace

Preferences::Preferences(QString directory, Access access, QObject* parent)
    : QObject(parent)
    , m_directory(std::move(directory))
    , m_access(access)
{
    load();
}

QString Preferences::defaultDirectory()
{
    return configHome() + QStringLiteral("/kelvo");
}

QString Preferences::filePath() const
{
    return m_directory + QLatin1Char('/') + QLatin1String(fileName);
}

void Preferences::load()
{
    QString problem;
    switch (readStore(filePath(), m_values, &problem)) {
    case StoreOnDisk::Missing:
    case StoreOnDisk::Parsed:
        return;
    case StoreOnDisk::Unusable:
        if (m_access == Access::ReadWrite && moveAside(problem)) {
            return;
        }
        break;
    case StoreOnDisk::Unreadable:
        break;
    }
    // Whatever is there stays untouched: the store starts empty and, for this run, writes nothing.
    qCDebug(lcPrefs) << "cannot read" << filePath() << "-" << problem;
    m_unreadable = problem;
}

bool Preferences::moveAside(const QString& why)
{
    // Keep what was there for the user to recover, without ever overwriting an earlier copy. A link is moved, not
    // what it leads to.
    QString aside = filePath() + QStringLiteral(".corrupt");
    for (int n = 1; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n) {
        aside = filePath() + QStringLiteral(".corrupt.%1").arg(n);
    }
    if (::rename(QFile::encodeName(filePath()).constData(), QFile::encodeName(aside).constData()) != 0) {
        qCDebug(lcPrefs) << "could not move" << filePath() << "aside:" << qt_error_string(errno);
        return false;
    }
    qCDebug(lcPrefs) << "moved" << filePath() << "to" << aside << "-" << why;
    m_movedAsideTo = aside;
    m_movedAsideBecause = why;
    return true;
}

std::optional<QString> Preferences::problem() const
{
    if (m_unreadable) {
        return QStringLiteral("Nothing is saved this session: cannot read %1 (%2)").arg(filePath(), *m_unreadable);
    }
    if (!m_lastError.isEmpty()) {
        return QStringLiteral("Could not save settings: ") + m_lastError;
    }
    return std::nullopt;
}

std::optional<QString> Preferences::loadNotice() const
{
    if (m_unreadable) {
        return QStringLiteral("cannot read %1 (%2); using the default settings%3")
            .arg(filePath(), *m_unreadable,
                 m_access == Access::ReadWrite ? QStringLiteral(", and saving nothing this session") : QString());
    }
    if (m_movedAsideTo) {
        return QStringLiteral("%1 was %2; moved it to %3 and started from the default settings")
            .arg(filePath(), m_movedAsideBecause, *m_movedAsideTo);
    }
    return std::nullopt;
}

std::optional<QString> Preferences::text(const QString& key) const
{
    const QJsonValue stored = m_values.value(key);
    if (!stored.isString()) {
        return std::nullopt;
    }
    return stored.toString();
}

bool Preferences::boolValue(const QString& key) const
{
    const QJsonValue stored = m_values.value(key);
    return stored.isBool() && stored.toBool();
}

std::optional<PreferenceValue> Preferences::value(const QString& key) const
{
    if (!m_values.contains(key)) {
        return std::nullopt;
    }
    const QJsonValue stored = m_values.value(key);
    if (stored.isString()) {
        return PreferenceValue(stored.toString());
    }
    if (stored.isBool()) {
        return PreferenceValue(stored.toBool());
    }
    if (const auto date = decodeDate(stored)) {
        return PreferenceValue(*date);
    }
    return PreferenceValue(stored);
}

bool Preferences::setText(const QString& key, const QString& value)
{
    return write(key, value);
}

bool Preferences::setBool(const QString& key, bool value)
{
    return write(key, value);
}

bool Preferences::setDate(const QString& key, const QDateTime& value)
{
    return write(key, encodeDate(value));
}

bool Preferences::remove(const QString& key)
{
    return write(key, std::nullopt);
}

bool Preferences::write(const QString& key, const std::optional<QJsonValue>& value)
{
    // The value counts at once for this run even if the disk refuses it; the next write carries it again.
    if (value) {
        m_values.insert(key, *value);
    } else {
        m_values.remove(key);
    }
    m_unsaved.insert(key);
    const std::optional<QString> problemBefore = problem();
    QString reason;
    if (save(&reason)) {
        m_lastError.clear();
    } else {
        m_lastError = filePath() + QStringLiteral(": ") + reason;
        qCDebug(lcPrefs) << "could not save" << key << "-" << m_lastError; // the key's name, never its value
    }
    if (problem() != problemBefore) {
        Q_EMIT problemChanged();
    }
    return m_lastError.isEmpty();
}

bool Preferences::save(QString* reason)
{
    if (m_access == Access::ReadOnly) {
        *reason = QStringLiteral("opened for reading only");
        return false;
    }
    if (m_unreadable) {
        // Nothing at all is written: not the file, not its lock, not a temporary file beside it.
        *reason = *m_unreadable + QStringLiteral(" when read at start; it is not replaced");
        return false;
    }
    if (!makePrivateFolders(m_directory, reason)) {
        return false;
    }
    tightenFolder(m_directory);
    // Another program may write the same file: read what it holds now, and change only the keys this run changed.
    const QString lockPath = filePath() + QStringLiteral(".lock");
    if (const QString problem = RegularFile::lockFileProblem(lockPath); !problem.isEmpty()) {
        *reason = problem; // a FIFO there would make Qt wait for ever reading it
        return false;
    }
    QLockFile lock(lockPath);
    if (!takeLock(lock)) {
        *reason = lockFailure(lock.error(), lockPath);
        return false;
    }
    QJsonObject merged;
    QString problem;
    switch (readStore(filePath(), merged, &problem)) {
    case StoreOnDisk::Missing:
    case StoreOnDisk::Parsed:
        break;
    case StoreOnDisk::Unusable:
        if (!moveAside(problem)) {
            *reason = problem + QStringLiteral(", and it could not be moved aside");
            return false;
        }
        merged = m_values;
        break;
    case StoreOnDisk::Unreadable:
        *reason = problem; // never replaced: what is there may come back readable
        return false;
    }
    for (const QString& key : std::as_const(m_unsaved)) {
        if (m_values.contains(key)) {
            merged.insert(key, m_values.value(key));
        } else {
            merged.remove(key);
        }
    }
    if (!replaceFileAtomically(filePath(), QJsonDocument(merged).toJson(QJsonDocument::Indented), 0600, reason)) {
        return false;
    }
    m_values = merged;
    m_unsaved.clear();
    return true;
}
