#include "cli/Invocation.h"

#include "service/SensiboClient.h"

#include <cmath>

namespace {

constexpr double maxTimeoutSeconds = 86400;
constexpr qint64 maxTimerMinutes = 24 * 60; // a sleep timer; a longer wait is more likely a slip of the finger

ParsedArguments usageError(const QString& error, const QString& topic)
{
    return ParsedArguments{std::nullopt, error, topic};
}

// An optional sign and at most nine digits: what `temp` takes.
bool isWholeNumber(const QString& text)
{
    const qsizetype start = text.startsWith(u'+') || text.startsWith(u'-') ? 1 : 0;
    const qsizetype digits = text.size() - start;
    if (digits < 1 || digits > 9) {
        return false;
    }
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text.at(i) < u'0' || text.at(i) > u'9') {
            return false;
        }
    }
    return true;
}

std::optional<int> timeoutMs(const QString& text)
{
    bool isNumber = false;
    const double seconds = text.toDouble(&isNumber);
    if (!isNumber || !std::isfinite(seconds) || seconds <= 0 || seconds > maxTimeoutSeconds) {
        return std::nullopt;
    }
    return std::max(1, int(std::ceil(seconds * 1000)));
}

std::optional<int> days(const QString& text)
{
    bool isNumber = false;
    const int value = text.toInt(&isNumber);
    if (!isNumber || value < 1 || value > SensiboClient::maxHistoryDays || text.startsWith(u'+')) {
        return std::nullopt;
    }
    return value;
}

// `timer`'s and `react`'s words; an error text, or nothing when all is well.
std::optional<QString> readAction(const CommandSpec& row, const QStringList& operands, Invocation& invocation)
{
    const QString first = operands.value(0).toLower();
    if (row.operands == Operands::Switch) {
        if (operands.size() != 1 || (first != u"on" && first != u"off")) {
            return operands.isEmpty() ? QStringLiteral("react needs on or off")
                                      : QStringLiteral("react takes on or off, not \"%1\"").arg(operands.join(u' '));
        }
        invocation.action = first == u"on" ? ExtrasAction::ReactOn : ExtrasAction::ReactOff;
        return std::nullopt;
    }
    const QString usage = QStringLiteral("timer takes off DURATION, on DURATION or cancel");
    if (operands.isEmpty()) {
        return QStringLiteral("timer needs off DURATION, on DURATION or cancel");
    }
    if (first == u"cancel") {
        if (operands.size() > 1) {
            return QStringLiteral("timer cancel takes no \"%1\"").arg(operands.at(1));
        }
        invocation.action = ExtrasAction::CancelTimer;
        return std::nullopt;
    }
    if (first != u"on" && first != u"off") {
        return QStringLiteral("%1, not \"%2\"").arg(usage, operands.first());
    }
    if (operands.size() == 1) {
        return QStringLiteral("timer %1 needs a DURATION, such as 30m, 1h or 1h30m").arg(first);
    }
    if (operands.size() > 2) {
        return QStringLiteral("%1, not \"%2\"").arg(usage, operands.join(u' '));
    }
    const std::optional<qint64> minutes = parseDuration(operands.at(1));
    if (!minutes) {
        return QStringLiteral("DURATION is a length such as 30m, 1h, 90m or 1h30m, from 1m to 24h, not \"%1\"")
            .arg(operands.at(1));
    }
    invocation.action = first == u"on" ? ExtrasAction::TimerOn : ExtrasAction::TimerOff;
    invocation.minutes = *minutes;
    return std::nullopt;
}

// Reads the options and operands after the command; returns an error text, or nothing when all is well.
std::optional<QString> readRest(const CommandSpec& row, const QStringList& arguments, Invocation& invocation,
                                QList<std::pair<QString, QString>>& pairs, QStringList& operands)
{
    const QString name = QLatin1String(row.name);
    std::optional<QString> pendingSetting; // a setting whose value comes next, whatever it looks like ("-1")
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (pendingSetting) {
            pairs.append({*pendingSetting, argument});
            pendingSetting.reset();
            continue;
        }
        if (!argument.startsWith(u'-') || argument == u"-") {
            if (row.operands == Operands::Timer || row.operands == Operands::Switch) {
                operands.append(argument);
                continue;
            }
            if (row.operands != Operands::SettingPairs) {
                return QStringLiteral("%1 takes no argument \"%2\"").arg(name, argument);
            }
            pendingSetting = argument;
            continue;
        }
        const qsizetype equals = argument.startsWith(u"--") ? argument.indexOf(u'=') : -1;
        const QString optionName = equals < 0 ? argument : argument.left(equals);
        const OptionSpec* option = findOption(optionName);
        if (!option || !takesOption(row, option->option)) {
            return QStringLiteral("%1 has no option %2").arg(name, optionName);
        }
        if (option->option == Option::Help) {
            invocation = Invocation{};
            invocation.helpTopic = name;
            return std::nullopt;
        }
        QString value;
        if (option->valueName) {
            if (equals >= 0) {
                value = argument.mid(equals + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments.at(++i);
            } else {
                return QStringLiteral("%1 needs %2").arg(optionName, QLatin1String(option->valueName));
            }
        } else if (equals >= 0) {
            return QStringLiteral("%1 takes no value").arg(optionName);
        }
        switch (option->option) {
        case Option::Device:
            invocation.device = value;
            break;
        case Option::All:
            invocation.allDevices = true;
            break;
        case Option::Json:
            invocation.format = Invocation::Format::Json;
            break;
        case Option::Waybar:
            invocation.format = Invocation::Format::Waybar;
            break;
        case Option::Csv:
            invocation.format = Invocation::Format::Csv;
            break;
        case Option::Days:
            if (const auto number = days(value)) {
                invocation.days = *number;
            } else {
                return QStringLiteral("--days takes a whole number from 1 to %1, not \"%2\"")
                    .arg(SensiboClient::maxHistoryDays)
                    .arg(value);
            }
            break;
        case Option::Timeout:
            invocation.timeoutMs = timeoutMs(value);
            if (!invocation.timeoutMs) {
                return QStringLiteral("--timeout takes a number of seconds up to 86400, not \"%1\"").arg(value);
            }
            break;
        case Option::Help:
        case Option::Version:
            break;
        }
    }
    if (pendingSetting) {
        return QStringLiteral("%1 needs a value").arg(*pendingSetting);
    }
    return std::nullopt;
}

} // namespace

std::optional<qint64> parseDuration(const QString& text)
{
    qint64 minutes = 0;
    QChar lastUnit;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype start = i;
        while (i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9') {
            ++i;
        }
        if (i == start || i - start > 5 || i == text.size()) {
            return std::nullopt;
        }
        const qint64 number = text.mid(start, i - start).toLongLong();
        const QChar unit = text.at(i).toLower();
        if (unit == u'h' && lastUnit.isNull()) {
            minutes += number * 60;
        } else if (unit == u'm' && lastUnit != u'm') {
            minutes += number;
        } else {
            return std::nullopt;
        }
        lastUnit = unit;
    }
    if (minutes < 1 || minutes > maxTimerMinutes) {
        return std::nullopt;
    }
    return minutes;
}

std::optional<SettingArgument> parseSetting(const QString& word, const QString& value, QString* error)
{
    const std::optional<ACSetting> setting = settingFromCommandWord(word);
    if (!setting) {
        *error = QStringLiteral("unknown setting \"%1\"; the settings are power, mode, temp, fan, swing, hswing and "
                                "light")
                     .arg(word);
        return std::nullopt;
    }
    SettingArgument argument{*setting, word, value, SettingArgument::Kind::Value, value};
    switch (*setting) {
    case ACSetting::Power:
        if (value.compare(u"toggle", Qt::CaseInsensitive) == 0) {
            argument.kind = SettingArgument::Kind::Toggle;
        } else if (value.compare(u"on", Qt::CaseInsensitive) == 0 || value.compare(u"off", Qt::CaseInsensitive) == 0) {
            argument.value = value.compare(u"on", Qt::CaseInsensitive) == 0;
        } else {
            *error = QStringLiteral("%1 takes on, off or toggle, not \"%2\"").arg(word, value);
            return std::nullopt;
        }
        break;
    case ACSetting::TargetTemperature:
        if (!isWholeNumber(value)) {
            *error = QStringLiteral("%1 takes a whole number, +N or -N, not \"%2\"").arg(word, value);
            return std::nullopt;
        }
        argument.value = value.toLongLong();
        if (value.startsWith(u'+') || value.startsWith(u'-')) {
            argument.kind = SettingArgument::Kind::Step;
        }
        break;
    default:
        if (value.isEmpty()) {
            *error = QStringLiteral("%1 needs a value").arg(word);
            return std::nullopt;
        }
        break;
    }
    return argument;
}

ParsedArguments parseArguments(const QStringList& arguments)
{
    Invocation invocation;
    if (arguments.isEmpty()) {
        invocation.command = Command::Tray;
        return ParsedArguments{invocation, {}, {}};
    }
    const QString first = arguments.first();
    if (const OptionSpec* option = findOption(first); option && option->option == Option::Help) {
        return ParsedArguments{invocation, {}, {}};
    } else if (option && option->option == Option::Version) {
        invocation.command = Command::Version;
        return ParsedArguments{invocation, {}, {}};
    }
    // Kelvo in the tray takes no options: anything else that looks like one is a mistake, never a second tray.
    if (first.startsWith(u'-')) {
        return usageError(QStringLiteral("unknown option %1").arg(first), QString());
    }
    const CommandSpec* row = findCommand(first);
    if (!row) {
        return usageError(QStringLiteral("unknown command \"%1\"").arg(first), QString());
    }
    invocation.command = row->command;
    if (row->operands == Operands::Words) {
        invocation.words = arguments.mid(1);
        return ParsedArguments{invocation, {}, {}};
    }
    if (row->operands == Operands::CommandName) {
        invocation.helpTopic = arguments.value(1);
        const CommandSpec* topic = findCommand(invocation.helpTopic);
        if (arguments.size() > 2) {
            return usageError(QStringLiteral("help takes one command"), QStringLiteral("help"));
        }
        if (!invocation.helpTopic.isEmpty() && (!topic || !topic->usage)) {
            return usageError(QStringLiteral("unknown command \"%1\"").arg(invocation.helpTopic), QString());
        }
        return ParsedArguments{invocation, {}, {}};
    }

    QList<std::pair<QString, QString>> pairs;
    QStringList operands;
    if (row->presetSetting) {
        pairs.append({QLatin1String(row->presetSetting), QLatin1String(row->presetValue)});
    }
    const QString name = QLatin1String(row->name);
    const bool forWaybar = row->command == Command::Status && arguments.contains(QStringLiteral("--waybar"));
    const auto fail = [&](const QString& error) {
        ParsedArguments failed = usageError(error, name);
        failed.forWaybar = forWaybar;
        return failed;
    };
    if (const auto error = readRest(*row, arguments, invocation, pairs, operands)) {
        return fail(*error);
    }
    if (invocation.command == Command::Help) {
        return ParsedArguments{invocation, {}, {}}; // --help after the command
    }
    if (row->operands == Operands::Timer || row->operands == Operands::Switch) {
        if (const auto error = readAction(*row, operands, invocation)) {
            return fail(*error);
        }
    }
    if (row->operands == Operands::SettingPairs && pairs.isEmpty()) {
        return fail(QStringLiteral("set needs a SETTING and a VALUE"));
    }
    if (invocation.allDevices && invocation.device) {
        return fail(QStringLiteral("%1 takes --device or --all, not both").arg(name));
    }
    for (const auto& [setting, value] : pairs) {
        QString error;
        const auto argument = parseSetting(setting, value, &error);
        if (!argument) {
            return fail(error);
        }
        invocation.settings.append(*argument);
    }
    return ParsedArguments{invocation, {}, {}};
}
