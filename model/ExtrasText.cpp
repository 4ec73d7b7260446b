#include "model/ExtrasText.h"

#include "model/ReadingText.h"

#include <algorithm>
#include <cmath>

namespace {

// What a state Climate React applies does, in a few words.
QString stateVerb(const ACState& state)
{
    if (!state.on) {
        return QStringLiteral("turns off");
    }
    const QString mode = state.mode.value_or(QString());
    if (mode == u"cool") {
        return QStringLiteral("cools");
    }
    if (mode == u"heat") {
        return QStringLiteral("heats");
    }
    if (mode == u"dry") {
        return QStringLiteral("dries");
    }
    if (mode == u"fan") {
        return QStringLiteral("runs the fan");
    }
    if (mode == u"auto") {
        return QStringLiteral("runs on auto");
    }
    return QStringLiteral("turns on");
}

// A threshold with at most one decimal: 20 → "20", 27.5 → "27.5".
QString thresholdNumber(double value)
{
    const double rounded = std::round(value * 10) / 10;
    QString text = QString::number(rounded, 'f', 1);
    if (text.endsWith(QLatin1String(".0"))) {
        text.chop(2);
    }
    return text == u"-0" ? QStringLiteral("0") : text;
}

QString thresholdText(double value, const SmartMode& smartMode, const QString& unit)
{
    if (smartMode.type == u"humidity") {
        return thresholdNumber(value) + QLatin1Char('%');
    }
    if (unit == u"F") {
        return thresholdNumber(value * 9.0 / 5.0 + 32.0) + QStringLiteral("°F");
    }
    return thresholdNumber(value) + QStringLiteral("°C");
}

// A whole-degree temperature without its unit: "21".
QString degrees(double celsius, const QString& unit)
{
    QString text = formatTemperature(celsius, unit);
    text.chop(2); // "°C" or "°F"
    return text;
}

} // namespace

QString durationText(qint64 minutes)
{
    if (minutes < 60) {
        return QStringLiteral("%1 min").arg(minutes);
    }
    const qint64 hours = minutes / 60;
    const qint64 rest = minutes % 60;
    return rest == 0 ? QStringLiteral("%1 h").arg(hours) : QStringLiteral("%1 h %2 min").arg(hours).arg(rest);
}

QString timerChoiceText(const QString& minutes)
{
    return durationText(minutes.toLongLong());
}

QString timerMenuText(bool deviceOn)
{
    return deviceOn ? QStringLiteral("Off in…") : QStringLiteral("On in…");
}

qint64 minutesUntil(const QDateTime& due, const QDateTime& now)
{
    const qint64 ms = now.msecsTo(due);
    return std::max<qint64>(1, (ms + 59'999) / 60'000);
}

QString clockText(const QDateTime& time, const QTimeZone& zone, const QLocale& locale)
{
    // Some locales' short format (C's "HH:mm:ss") has seconds, which a timer set in minutes never needs.
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QLatin1String(":ss"));
    return locale.toString(time.toTimeZone(zone).time(), format);
}

QString timerText(const ScheduledTimer& timer, const QDateTime& now, const QTimeZone& zone, const QLocale& locale)
{
    // To the nearest minute: the cloud counts its wait in whole seconds, and a timer set at 22:18 for an hour would
    // otherwise read 23:17 once the cloud's own time came back.
    return (timer.turnsOn ? QStringLiteral("Turns on at ") : QStringLiteral("Turns off at ")) +
           clockText(timer.due.addSecs(30), zone, locale) + QStringLiteral(", in ") +
           durationText(minutesUntil(timer.due, now));
}

QString timerShortText(const ScheduledTimer& timer, const QDateTime& now)
{
    return (timer.turnsOn ? QStringLiteral("on in ") : QStringLiteral("off in ")) +
           durationText(minutesUntil(timer.due, now));
}

QString climateReactText(const SmartMode& smartMode, const QString& unit)
{
    QStringList clauses;
    if (smartMode.highTemperatureState && smartMode.highTemperatureThreshold) {
        clauses.append(stateVerb(*smartMode.highTemperatureState) + QStringLiteral(" above ") +
                       thresholdText(*smartMode.highTemperatureThreshold, smartMode, unit));
    }
    if (smartMode.lowTemperatureState && smartMode.lowTemperatureThreshold) {
        clauses.append(stateVerb(*smartMode.lowTemperatureState) + QStringLiteral(" below ") +
                       thresholdText(*smartMode.lowTemperatureThreshold, smartMode, unit));
    }
    QString text = clauses.join(QStringLiteral(", "));
    if (!text.isEmpty()) {
        text[0] = text[0].toUpper();
    }
    return text;
}

QString historySummary(const RoomHistory& history, const QString& unit)
{
    if (history.temperature.isEmpty()) {
        return {};
    }
    const auto [lowest, highest] =
        std::minmax_element(history.temperature.cbegin(), history.temperature.cend(),
                            [](const HistoryPoint& a, const HistoryPoint& b) { return a.value < b.value; });
    const QString low = degrees(lowest->value, unit);
    const QString high = formatTemperature(highest->value, unit);
    const QString range = low == degrees(highest->value, unit) ? high : low + QStringLiteral(" to ") + high;
    return QStringLiteral("Room temperature, last 24 hours: ") + range + QStringLiteral(", now ") +
           formatTemperature(history.temperature.last().value, unit);
}
