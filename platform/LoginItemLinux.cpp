#include "platform/AtomicWrite.h"
#include "platform/ConfigHome.h"
#include "platform/Logging.h"
#include "platform/LoginItem.h"
#include "platform/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

// Launch at login on freedesktop systems: an XDG autostart entry, $XDG_CONFIG_HOME/autostart/app.kelvo.Kelvo.desktop.
// The session starts every entry there that is not hidden.

namespace {
constexpr auto entryFileName = "app.kelvo.Kelvo.desktop";

QString autostartDirectory()
{
    return configHome() + QStringLiteral("/autostart");
}

// The program as one Exec argument: quoted when it holds anything a desktop entry reserves, with '%' doubled as
// the field codes demand, then escaped once more as a desktop entry string (backslash, newline, tab, return).
QString execArgument(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`");
    QString argument = program;
    if (std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted;
        for (const QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')) {
                quoted += QLatin1Char('\\');
            }
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    argument.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    argument.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    return argument;
}

QByteArray desktopEntry(const QString& executable)
{
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Kelvo\n"
                                        "Comment=Control your Sensibo air conditioners from the system tray\n"
                                        "Exec=%1\n"
                                        "Icon=app.kelvo.Kelvo\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(execArgument(executable));
    return text.toUtf8();
}

// An entry the user switched off in the desktop's own settings stays on disk: it hides itself instead.
bool isSwitchedOff(const QByteArray& entry)
{
    bool inMainGroup = false;
    for (const QByteArray& bytes : entry.split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true")) ||
            (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))) {
            return true;
        }
    }
    return false;
}

class XdgAutostartItem : public LoginItem
{
public:
    explicit XdgAutostartItem(QString executable)
        : m_executable(std::move(executable))
        , m_directory(autostartDirectory())
    {}

    // The entry says which program the session starts: only the user may change it, whatever the umask. A folder
    // that exists keeps its permissions; missing ones are made private.
    bool registerItem() override
    {
        QString reason;
        if (makePrivateFolders(m_directory, &reason) &&
            replaceFileAtomically(entryPath(), desktopEntry(m_executable), 0600, &reason)) {
            return true;
        }
        return failed(reason);
    }

    bool unregisterItem() override
    {
        QFile entry(entryPath());
        if ((!QFileInfo::exists(entryPath()) && !QFileInfo(entryPath()).isSymLink()) || entry.remove()) {
            return true;
        }
        return failed(entry.errorString());
    }

    QString lastError() const override { return m_lastError; }

    bool isEnabled() const override
    {
        // Read like the settings: a FIFO or a device in its place is never waited on.
        const RegularFile::Contents entry = RegularFile::read(entryPath());
        if (entry.outcome == RegularFile::Contents::Outcome::Missing) {
            return false;
        }
        if (entry.outcome != RegularFile::Contents::Outcome::Read) {
            qCDebug(lcPrefs) << "cannot read" << entryPath() << "-" << entry.problem;
            return false;
        }
        return !isSwitchedOff(entry.bytes);
    }

private:
    QString entryPath() const { return m_directory + QLatin1Char('/') + QLatin1String(entryFileName); }

    bool failed(const QString& reason)
    {
        m_lastError = entryPath() + QStringLiteral(": ") + reason;
        qCDebug(lcPrefs) << "could not change" << m_lastError;
        return false;
    }

    QString m_executable;
    QString m_directory;
    QString m_lastError;
};
} // namespace

std::unique_ptr<LoginItem> LoginItem::create(const QString& executable)
{
    return std::make_unique<XdgAutostartItem>(executable.isEmpty() ? QCoreApplication::applicationFilePath()
                                                                   : executable);
}
