#include "platform/Preferences.h"
#include "platform/ConfigHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace {
constexpr auto fileName = "preferences.json";
constexpr auto dateTag = "$date";

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
    QFile file(filePath());
    if (!file.exists()) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable (permissions): start from defaults, but leave the file alone; writes will try to replace it.
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && document.isObject()) {
        m_values = document.object();
        return;
    }
    if (m_access == Access::ReadOnly) {
        return;
    }
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

void Preferences::setText(const QString& key, const QString& value)
{
    write(key, value);
}

void Preferences::setBool(const QString& key, bool value)
{
    write(key, value);
}

void Preferences::setDate(const QString& key, const QDateTime& value)
{
    write(key, encodeDate(value));
}

void Preferences::write(const QString& key, const QJsonValue& value)
{
    // The value counts at once for this run even if the disk refuses it; the next write tries the whole file again.
    m_values.insert(key, value);
    save();
}

bool Preferences::save() const
{
    if (m_access == Access::ReadOnly) {
        return false;
    }
    if (!QDir().mkpath(m_directory)) {
        return false;
    }
    QFile::setPermissions(m_directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    // Restrict before any byte is written: the file holds the API key.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented));
    return file.commit();
}
