#include "cli/CommandLine.h"

#include "cli/CommandSession.h"
#include "cli/DeviceReport.h"
#include "cli/HelpText.h"
#include "cli/Invocation.h"
#include "cli/Output.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

namespace {

// KELVO_API_KEY for this call, else the stored key. A stored key in a file others may read is worth a warning.
QString apiKey(const QString& preferencesDirectory, Output& output, bool warn)
{
    const QString overridden = qEnvironmentVariable("KELVO_API_KEY");
    if (!overridden.isEmpty()) {
        return overridden;
    }
    const Preferences preferences(preferencesDirectory, Preferences::Access::ReadOnly);
    if (const std::optional<QString> notice = preferences.loadNotice()) {
        output.error(*notice);
    }
    const QString key = preferences.text(QLatin1String(PreferenceKeys::sensiboAPIKey)).value_or(QString());
    struct stat info {
    };
    if (warn && !key.isEmpty() && ::stat(QFile::encodeName(preferences.filePath()).constData(), &info) == 0 &&
        (info.st_mode & 044) != 0) {
        output.error(QStringLiteral("warning: %1 holds your API key and other users can read it; chmod 600 it")
                         .arg(preferences.filePath()));
    }
    return key;
}

} // namespace

std::optional<int> CommandLine::run(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const ParsedArguments parsed = parseArguments(arguments);
    if (parsed.invocation && parsed.invocation->command == Command::Tray) {
        return std::nullopt;
    }

    Output output = Output::forThisProcess();
    if (!parsed.invocation) {
        if (parsed.forWaybar) {
            output.out(waybarError(parsed.error));
        }
        const QString help = parsed.helpTopic.isEmpty() ? QStringLiteral("kelvo --help")
                                                        : QStringLiteral("kelvo help ") + parsed.helpTopic;
        output.error(QStringLiteral("%1\nTry '%2'.").arg(parsed.error, help));
        return output.finish(parsed.forWaybar ? ExitStatus::done : ExitStatus::usage);
    }
    const Invocation& invocation = *parsed.invocation;
    if (invocation.command == Command::Help) {
        output.out(helpText(invocation.helpTopic));
        return output.finish(ExitStatus::done);
    }
    if (invocation.command == Command::Version) {
        output.out(QByteArrayLiteral("kelvo " KELVO_VERSION "\n"));
        return output.finish(ExitStatus::done);
    }

    QCoreApplication application(argc, argv);
    const QString preferencesDirectory = Preferences::defaultDirectory();
    const bool usesKey = invocation.command != Command::Login && invocation.command != Command::Logout;
    const bool warn = usesKey && invocation.command != Command::Complete;
    CommandSession session({SensiboService::defaultBaseURL(),
                            usesKey ? apiKey(preferencesDirectory, output, warn) : QString(), preferencesDirectory},
                           output);
    return output.finish(QCoro::waitFor(session.run(invocation)));
}
