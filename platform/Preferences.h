#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>
#include <variant>

// A stored preference as read back: text, Bool, date, or something else (a value some other program or a newer
// Kelvo wrote), which the caller treats as "not the type I want".
using PreferenceValue = std::variant<QString, bool, QDateTime, QJsonValue>;

// The per-user preference store: one JSON file, preferences.json, in the given folder. Values keep their type
// (text → JSON string, Bool → true/false, date → {"$date": "<ISO 8601 UTC with ms>"}), so a reader can tell a
// stored false from the text "false". Every write is durable when it returns: the file is written to a temporary
// file and renamed over the old one, readable by the user only, and a write that fails leaves the old file as it
// was and says so. Other programs may share the folder (a second Kelvo, the command line): a write re-reads the
// file under a lock and changes only the keys this store changed, so that neither erases what the other saved.
// Only a regular file of at most 1 MiB is read. A file that cannot be parsed, and anything else in the file's
// place (a FIFO, a link to a device, a huge file), is moved aside (never deleted) and the store starts empty. A file
// that is there but cannot be read (permissions) is never replaced: the store starts empty and writes nothing for
// the whole run.
class Preferences : public QObject
{
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> problem READ problem NOTIFY problemChanged)

public:
    // ReadOnly never touches the disk: an unparsable file stays where it is, and writes count for this run only.
    // For readers beside the running Kelvo, such as the command line.
    enum class Access { ReadWrite, ReadOnly };

    explicit Preferences(QString directory = defaultDirectory(), Access access = Access::ReadWrite,
                         QObject* parent = nullptr);

    // $XDG_CONFIG_HOME/kelvo, or ~/.config/kelvo.
    static QString defaultDirectory();

    QString filePath() const;

    std::optional<QString> text(const QString& key) const;
    bool boolValue(const QString& key) const; // false when nothing, or no Bool, is stored
    std::optional<PreferenceValue> value(const QString& key) const;

    // Each tells whether the value reached the disk; when not, lastError() says why. Either way the value counts
    // for this run, and the next write tries to store it again.
    bool setText(const QString& key, const QString& value);
    bool setBool(const QString& key, bool value);
    bool setDate(const QString& key, const QDateTime& value);
    // Takes the key out of the store (`kelvo logout`); the same as a write otherwise.
    bool remove(const QString& key);

    // Why the last write failed: "<file>: <reason>"; empty after a write that succeeded.
    const QString& lastError() const { return m_lastError; }

    // What keeps the settings from being saved, in words for the user: the file could not be read at start (then
    // nothing is written this run), or the last write failed. Absent while writes succeed.
    std::optional<QString> problem() const;

    // What became of the file at start, for standard error: it could not be read, or it was moved aside. Absent
    // when it loaded (or was not there).
    std::optional<QString> loadNotice() const;

    // Where a file that could not be used was moved, at load or before a write, if one was.
    std::optional<QString> movedAsideTo() const { return m_movedAsideTo; }

Q_SIGNALS:
    void problemChanged();

private:
    void load();
    bool moveAside(const QString& why);
    bool write(const QString& key, const std::optional<QJsonValue>& value); // none: remove the key
    bool save(QString* reason);

    QString m_directory;
    Access m_access;
    QJsonObject m_values;
    QSet<QString> m_unsaved; // changed by this run, not on disk yet
    QString m_lastError;
    std::optional<QString> m_unreadable; // why the file could not be read at start; it is then never written
    std::optional<QString> m_movedAsideTo;
    QString m_movedAsideBecause;
};
