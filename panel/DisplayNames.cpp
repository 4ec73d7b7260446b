#include "panel/DisplayNames.h"

#include <QHash>

namespace {

QString nameFromTable(const QHash<QString, QString>& table, const QString& value)
{
    const auto it = table.constFind(value);
    return it != table.cend() ? *it : titleCase(value);
}

} // namespace

QString modeIcon(const QString& mode)
{
    static const QHash<QString, QString> icons{
        {QStringLiteral("cool"), QStringLiteral("snowflake")},
        {QStringLiteral("heat"), QStringLiteral("flame")},
        {QStringLiteral("fan"), QStringLiteral("fan")},
        {QStringLiteral("dry"), QStringLiteral("drop")},
        {QStringLiteral("auto"), QStringLiteral("arrow.triangle.2.circlepath")},
    };
    return icons.value(mode, QStringLiteral("air.conditioner.horizontal"));
}

QString displayName(const QString& value)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("cool"), QStringLiteral("Cool")},
        {QStringLiteral("heat"), QStringLiteral("Heat")},
        {QStringLiteral("fan"), QStringLiteral("Fan")},
        {QStringLiteral("dry"), QStringLiteral("Dry")},
        {QStringLiteral("auto"), QStringLiteral("Auto")},
        {QStringLiteral("quiet"), QStringLiteral("Quiet")},
        {QStringLiteral("low"), QStringLiteral("Low")},
        {QStringLiteral("medium"), QStringLiteral("Medium")},
        {QStringLiteral("medium_high"), QStringLiteral("Med-High")},
        {QStringLiteral("high"), QStringLiteral("High")},
        {QStringLiteral("strong"), QStringLiteral("Strong")},
    };
    return nameFromTable(names, value);
}

QString swingDisplayName(const QString& value)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("stopped"), QStringLiteral("Off")},
        {QStringLiteral("rangeFull"), QStringLiteral("Full Range")},
        {QStringLiteral("fixedTop"), QStringLiteral("Fixed Top")},
        {QStringLiteral("fixedMiddleTop"), QStringLiteral("Fixed Mid-Top")},
        {QStringLiteral("fixedMiddle"), QStringLiteral("Fixed Middle")},
        {QStringLiteral("fixedMiddleBottom"), QStringLiteral("Fixed Mid-Bottom")},
        {QStringLiteral("fixedBottom"), QStringLiteral("Fixed Bottom")},
        {QStringLiteral("rangeTop"), QStringLiteral("Range Top")},
        {QStringLiteral("rangeMiddle"), QStringLiteral("Range Middle")},
        {QStringLiteral("rangeBottom"), QStringLiteral("Range Bottom")},
    };
    return nameFromTable(names, value);
}

QString titleCase(const QString& value)
{
    QString spaced = value;
    spaced.replace(QLatin1Char('_'), QLatin1Char(' '));

    QString result;
    result.reserve(spaced.size());
    bool atWordStart = true;
    for (qsizetype i = 0; i < spaced.size(); ++i) {
        // A letter outside the BMP is a surrogate pair: case it as one.
        const qsizetype length = spaced.at(i).isHighSurrogate() && i + 1 < spaced.size() ? 2 : 1;
        const QString letter = spaced.mid(i, length);
        i += length - 1;
        if (letter.at(0).isSpace()) {
            result += letter;
            atWordStart = true;
            continue;
        }
        result += atWordStart ? letter.toUpper() : letter.toLower();
        atWordStart = false;
    }
    return result;
}
