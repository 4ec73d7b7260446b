#include "cli/HelpText.h"

#include "cli/CommandTable.h"

#include <QStringList>

namespace {

const char introduction[] = R"(Usage: kelvo [COMMAND] [OPTIONS]

Kelvo controls Sensibo air conditioners. Without a command it starts in the
system tray. With one it does its work on the command line and exits; it needs
no display, so it works over ssh, in cron and from keyboard shortcuts.
)";

const char closing[] = R"(
The API key is the one stored with 'kelvo login' or in Kelvo's settings
window; the environment variable KELVO_API_KEY overrides it for the call.

Exit status: 0 done; 1 no API key, the cloud or the network failed, a change
was refused, or the output could not be written (the message is on standard
error); 2 usage error: an unknown command, option, setting, value or device.

After a change, a Kelvo running in the tray shows it at once. Shell completion
for bash, zsh and fish comes with Kelvo. See kelvo(1) for examples.
)";

constexpr qsizetype summaryColumn = 26;

// "  NAME  summary", the summary in its column (on the next line when NAME is too long); "\n" in the summary
// continues it in the same column.
QString entry(const QString& name, const char* summary)
{
    QString text = QStringLiteral("  ") + name;
    const QString indent(summaryColumn, u' ');
    text += text.size() + 2 <= summaryColumn ? QString(summaryColumn - text.size(), u' ') : u'\n' + indent;
    text += QString::fromUtf8(summary).replace(u'\n', u'\n' + indent);
    return text + u'\n';
}

QString overview()
{
    QString text = QString::fromUtf8(introduction) + QStringLiteral("\nCommands:\n");
    for (const CommandSpec* row = commandsBegin(); row != commandsEnd(); ++row) {
        if (row->usage) {
            text += entry(QLatin1String(row->usage), row->summary);
        }
    }
    text += QStringLiteral("\nOptions:\n");
    for (const OptionSpec& option : optionSpecs) {
        QString name = QLatin1String(option.name);
        if (option.shortName) {
            name = QLatin1String(option.shortName) + QStringLiteral(", ") + name;
        }
        if (option.valueName) {
            name += u' ' + QLatin1String(option.valueName);
        }
        text += entry(name, option.summary);
    }
    return text + QString::fromUtf8(closing);
}

} // namespace

QString helpText(const QString& topic)
{
    const CommandSpec* row = topic.isEmpty() ? nullptr : findCommand(topic);
    if (!row || !row->usage) {
        return overview();
    }
    return QStringLiteral("Usage: kelvo ") + QLatin1String(row->usage) + u'\n' + QString::fromUtf8(row->help);
}
