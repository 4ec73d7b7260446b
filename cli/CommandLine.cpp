#include "cli/CommandLine.h"

#include "cli/CommandSession.h"
#include "cli/HelpText.h"
#include "cli/Invocation.h"
#include "platform/InstanceSocket.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

// KELVO_API_KEY for this call, else the key the settings window saved. The command line never writes it.
QString apiKey(const QString& preferencesDirectory)
{
    const QString overridden = qEnvironmentVariable("KELVO_API_KEY");
    if (!overridden.isEmpty()) {
        return overridden;
    }
    const Preferences preferences(preferencesDirectory, Preferences::Access::ReadOnly);
    if (const std::optional<QString> notice = preferences.loadNotice()) {
        print(stderr, QStringLiteral("kelvo: %1\n").arg(*notice));
    }
    return preferences.text(QLatin1String(PreferenceKeys::sensiboAPIKey)).value_or(QString());
}

} // namespace

bool CommandLine::isCommandLine(int argc, char* argv[])
{
    if (argc < 2) {
        return false;
    }
    const char* first = argv[1];
    return first[0] != '-' || std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 ||
           std::strcmp(first, "--version") == 0;
}

int CommandLine::run(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const ParsedArguments parsed = parseArguments(arguments);
    if (!parsed.invocation) {
        const QString help = parsed.helpTopic.isEmpty() ? QStringLiteral("kelvo --help")
                                                        : QStringLiteral("kelvo help ") + parsed.helpTopic;
        print(stderr, QStringLiteral("kelvo: %1\nTry '%2'.\n").arg(parsed.error, help));
        return ExitStatus::usage;
    }
    const Invocation& invocation = *parsed.invocation;
    if (invocation.command == Invocation::Command::Help) {
        print(stdout, helpText(invocation.helpTopic));
        return ExitStatus::done;
    }
    if (invocation.command == Invocation::Command::Version) {
        print(stdout, QStringLiteral("kelvo " KELVO_VERSION "\n"));
        return ExitStatus::done;
    }

    QCoreApplication application(argc, argv);
    const QString preferencesDirectory = Preferences::defaultDirectory();
    CommandSession session(
        {SensiboService::defaultBaseURL(), apiKey(preferencesDirectory), InstanceSocket::path(preferencesDirectory)});
    return QCoro::waitFor(session.run(invocation));
}
