#include "cli/Completion.h"

#include "cli/CommandTable.h"

namespace {

QStringList commandNames()
{
    QStringList names;
    for (const CommandSpec* row = commandsBegin(); row != commandsEnd(); ++row) {
        if (row->usage) {
            names.append(QLatin1String(row->name));
        }
    }
    return names;
}

QStringList optionNames(const CommandSpec& row)
{
    QStringList names;
    for (const OptionSpec& option : optionSpecs) {
        if (takesOption(row, option.option)) {
            names.append(QLatin1String(option.name));
        }
    }
    return names;
}

// The option `word` names when it takes a value, else null.
const OptionSpec* valueOption(const QString& word)
{
    const OptionSpec* option = word.startsWith(u"--") ? findOption(word) : nullptr;
    return option && option->valueName ? option : nullptr;
}

CompletionRequest valueOf(const OptionSpec& option, const QString& typed, const QString& lead)
{
    const QStringList choices =
        option.choices ? QString::fromLatin1(option.choices).split(u' ', Qt::SkipEmptyParts) : QStringList();
    return CompletionRequest{choices, option.completesRooms, typed, lead};
}

// "Living\ R" or "'Living R" as typed in the shell: "Living R".
QString unquoted(QString typed)
{
    if (typed.startsWith(u'\'') || typed.startsWith(u'"')) {
        typed.remove(0, 1);
    }
    for (qsizetype i = 0; i < typed.size(); ++i) {
        if (typed.at(i) == u'\\') {
            typed.remove(i, 1);
        }
    }
    return typed;
}

} // namespace

CompletionRequest completionFor(QStringList words)
{
    const QString current = words.isEmpty() ? QString() : words.takeLast();
    // bash's word breaks: "--device", "=" and what follows it, or the "=" itself while nothing follows yet.
    if (current == u"=" && !words.isEmpty()) {
        if (const OptionSpec* option = valueOption(words.last())) {
            return valueOf(*option, {}, QStringLiteral("="));
        }
    }
    if (words.size() >= 2 && words.last() == u"=") {
        if (const OptionSpec* option = valueOption(words.at(words.size() - 2))) {
            return valueOf(*option, current, {});
        }
    }
    if (const qsizetype equals = current.indexOf(u'='); current.startsWith(u"--") && equals > 0) {
        if (const OptionSpec* option = valueOption(current.left(equals))) {
            return valueOf(*option, current.mid(equals + 1), current.left(equals + 1));
        }
    }
    if (words.isEmpty()) {
        QStringList first = commandNames();
        first << QStringLiteral("--help") << QStringLiteral("--version");
        return CompletionRequest{first, false, current, {}};
    }
    const CommandSpec* row = findCommand(words.first());
    if (!row || !row->usage) {
        return {};
    }
    if (row->operands == Operands::CommandName) {
        return CompletionRequest{words.size() == 1 ? commandNames() : QStringList(), false, current, {}};
    }

    const OptionSpec* pendingOption = nullptr;
    std::optional<QString> pendingSetting;
    QStringList operands; // typed so far, for a command whose operands are not setting pairs
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString& word = words.at(i);
        if (pendingOption) {
            pendingOption = nullptr;
        } else if (pendingSetting) {
            pendingSetting.reset();
        } else if (word.startsWith(u'-')) {
            pendingOption = word.contains(u'=') ? nullptr : valueOption(word);
        } else if (row->operands == Operands::SettingPairs) {
            pendingSetting = word;
        } else {
            operands.append(word);
        }
    }
    if (pendingOption) {
        return valueOf(*pendingOption, current, {});
    }
    if (pendingSetting) {
        const auto setting = settingFromCommandWord(*pendingSetting);
        return CompletionRequest{setting ? usualValues(*setting) : QStringList(), false, current, {}};
    }
    if (row->operands != Operands::SettingPairs) {
        const QStringList choices = current.startsWith(u'-') ? QStringList() : operandChoices(*row, operands);
        return CompletionRequest{choices.isEmpty() ? optionNames(*row) : choices, false, current, {}};
    }
    if (current.startsWith(u'-')) {
        return CompletionRequest{optionNames(*row), false, current, {}};
    }
    QStringList settings;
    for (const ACSettingNames& names : acSettings) {
        settings.append(QLatin1String(names.commandWord));
    }
    return CompletionRequest{settings, false, current, {}};
}

QStringList completionLines(const CompletionRequest& request, const QStringList& rooms)
{
    QStringList lines;
    for (const QString& candidate : request.candidates) {
        if (candidate.startsWith(request.typed)) {
            lines.append(request.lead + candidate);
        }
    }
    const QString typedRoom = unquoted(request.typed);
    for (const QString& room : rooms) {
        if (room.startsWith(typedRoom, Qt::CaseInsensitive) && !lines.contains(request.lead + room)) {
            lines.append(request.lead + room);
        }
    }
    return lines;
}
