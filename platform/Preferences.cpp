#include "platform/Preferences.h"
#include "platform/AtomicWrite.h"
#include "platform/ConfigHome.h"
#include "platform/LockLeftovers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>

#include <cerrno>
#include <sys/stat.h>

namespace {
constexpr auto fileName = "preferences.json";
constexpr auto dateTag = "$date";
// A writer holds the lock for a few milliseconds; waiting longer means it is stuck, and the write fails instead.
constexpr int lockTimeoutMs = 2000;

enum class StoreOnDisk { Missing, Parsed, Corrupt, Unreadable };

StoreOnDisk readStore(const QString& path, QJsonObject& values)
{
    if (!QFileInfo::exists(path)) {
        return StoreOnDisk::Missing;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return StoreOnDisk::Unreadable;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return StoreOnDisk::Unreadable;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return StoreOnDisk::Corrupt;
    }
    values = document.object();
    return StoreOnDisk::Parsed;
}

QString lockFailure(QLockFile::LockError error, const QString& lockPath)
{
    switch (error) {
    case QLockFile::PermissionError:
        return qt_error_string(EACCES);
    case QLockFile::LockFailedError:
        return QStringLiteral("another program holds %1").arg(lockPath);
    default:
        return QStringLiteral("could not create %1").arg(lockPath);
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

Preferences::Preferences(QString directory, Access access)
    : m_directory(std::move(directory))
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
    // Unreadable (permissions): start from defaults, but leave the file alone; writes will try to replace it.
    if (readStore(filePath(), m_values) == StoreOnDisk::Corrupt && m_access == Access::ReadWrite) {
        moveAside();
    }
}

void Preferences::moveAside()
{
    // Keep what was there for the user to recover, without ever overwriting an earlier corrupt copy.
    QString aside = filePath() + QStringLiteral(".corrupt");
    for (int n = 1; QFile::exists(aside); ++n) {
        aside = filePath() + QStringLiteral(".corrupt.%1").arg(n);
    }
    if (QFile::rename(filePath(), aside)) {
        m_movedAsideTo = aside;
    }
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
    QString reason;
    if (!save(&reason)) {
        m_lastError = filePath() + QStringLiteral(": ") + reason;
        return false;
    }
    m_lastError.clear();
    return true;
}

bool Preferences::save(QString* reason)
{
    if (m_access == Access::ReadOnly) {
        *reason = QStringLiteral("opened for reading only");
        return false;
    }
    if (!makePrivateFolders(m_directory, reason)) {
        return false;
    }
    tightenFolder(m_directory);
    // Another program may write the same file: read what it holds now, and change only the keys this run changed.
    const QString lockPath = filePath() + QStringLiteral(".lock");
    QLockFile lock(lockPath);
    if (!takeLock(lock)) {
        *reason = lockFailure(lock.error(), lockPath);
        return false;
    }
    QJsonObject merged;
    switch (readStore(filePath(), merged)) {
    case StoreOnDisk::Missing:
    case StoreOnDisk::Parsed:
        break;
    case StoreOnDisk::Corrupt:
        moveAside();
        merged = m_values;
        break;
    case StoreOnDisk::Unreadable:
        merged = m_values;
        break;
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
