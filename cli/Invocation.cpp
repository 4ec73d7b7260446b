#include "cli/Invocation.h"

namespace {

ParsedArguments usageError(const QString& error, const QString& topic)
{
    return ParsedArguments{std::nullopt, error, topic};
}

bool isHelpOption(const QString& argument)
{
    return argument == u"--help" || argument == u"-h";
}

} // namespace

ParsedArguments parseArguments(const QStringList& arguments)
{
    Invocation invocation;
    const QString first = arguments.value(0);
    if (isHelpOption(first)) {
        return ParsedArguments{invocation, {}, {}};
    }
    if (first == u"--version") {
        invocation.command = Invocation::Command::Version;
        return ParsedArguments{invocation, {}, {}};
    }
    if (!commandNames.contains(first)) {
        return usageError(QStringLiteral("unknown command \"%1\"").arg(first), QString());
    }
    if (first == u"help") {
        if (arguments.size() > 2) {
            return usageError(QStringLiteral("help takes one command"), QStringLiteral("help"));
        }
        invocation.helpTopic = arguments.value(1);
        if (!invocation.helpTopic.isEmpty() && !commandNames.contains(invocation.helpTopic)) {
            return usageError(QStringLiteral("unknown command \"%1\"").arg(invocation.helpTopic), QString());
        }
        return ParsedArguments{invocation, {}, {}};
    }

    const bool takesDevice = first != u"devices";
    const bool takesFormat = first == u"status" || first == u"devices";
    const bool takesSettings = first == u"set";
    invocation.command = first == u"status"    ? Invocation::Command::Status
                         : first == u"devices" ? Invocation::Command::Devices
                                               : Invocation::Command::Set;
    if (first == u"on" || first == u"off") {
        invocation.settings.append({QStringLiteral("power"), first});
    }

    std::optional<QString> pendingSetting; // a setting whose value comes next, whatever it looks like ("-1")
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (pendingSetting) {
            invocation.settings.append({*pendingSetting, argument});
            pendingSetting.reset();
        } else if (isHelpOption(argument)) {
            invocation = Invocation{};
            invocation.helpTopic = first;
            return ParsedArguments{invocation, {}, {}};
        } else if (takesDevice && (argument == u"--device" || argument.startsWith(u"--device="))) {
            if (argument == u"--device" && i + 1 >= arguments.size()) {
                return usageError(QStringLiteral("--device needs a room name or a device id"), first);
            }
            invocation.device = argument == u"--device" ? arguments.at(++i) : argument.mid(9);
        } else if (takesFormat && argument == u"--json") {
            invocation.format = Invocation::Format::Json;
        } else if (takesFormat && first == u"status" && argument == u"--waybar") {
            invocation.format = Invocation::Format::Waybar;
        } else if (argument.startsWith(u'-')) {
            return usageError(QStringLiteral("%1 has no option %2").arg(first, argument), first);
        } else if (takesSettings) {
            pendingSetting = argument;
        } else {
            return usageError(QStringLiteral("%1 takes no argument \"%2\"").arg(first, argument), first);
        }
    }
    if (pendingSetting) {
        return usageError(QStringLiteral("%1 needs a value").arg(*pendingSetting), first);
    }
    if (takesSettings && invocation.settings.isEmpty()) {
        return usageError(QStringLiteral("set needs a SETTING and a VALUE"), first);
    }
    return ParsedArguments{invocation, {}, {}};
}
