#include "cli/DeviceReport.h"

#include "model/ControlCharacters.h"
#include "model/ExtrasText.h"
#include "model/ReadingText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

template <typename T> QJsonValue orNull(const std::optional<T>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// Reported only when the cloud says anything about the connection; then, like the panel, anything but a clear
// "alive" is offline.
std::optional<bool> isOnline(const SensiboDevice& device)
{
    if (!device.connectionStatus) {
        return std::nullopt;
    }
    return device.connectionStatus->isAlive.value_or(false);
}

QString unit(const SensiboDevice& device)
{
    return device.acState ? device.acState->temperatureUnit.value_or(QString()) : QString();
}

QString roomTemperatureText(const SensiboDevice& device)
{
    return device.measurements && device.measurements->temperature
               ? formatTemperature(*device.measurements->temperature, unit(device))
               : QString();
}

// The state's parts: power, mode, target, fan.
QStringList stateParts(const SensiboDevice& device)
{
    QStringList parts;
    if (!device.acState) {
        return parts;
    }
    const ACState& state = *device.acState;
    parts.append(state.on ? QStringLiteral("on") : QStringLiteral("off"));
    if (state.mode) {
        parts.append(*state.mode);
    }
    if (state.targetTemperature) {
        parts.append(targetTemperatureText(*state.targetTemperature, state.temperatureUnit.value_or(QString())));
    }
    if (state.fanLevel) {
        parts.append(QStringLiteral("fan ") + *state.fanLevel);
    }
    return parts;
}

// The readings' parts: room temperature, humidity, online.
QStringList readingParts(const SensiboDevice& device)
{
    QStringList parts;
    if (const QString temperature = roomTemperatureText(device); !temperature.isEmpty()) {
        parts.append(QStringLiteral("room ") + temperature);
    }
    if (device.measurements && device.measurements->humidity) {
        if (const QString humidity = humidityText(*device.measurements->humidity); !humidity.isEmpty()) {
            parts.append(QStringLiteral("humidity ") + humidity);
        }
    }
    if (const auto online = isOnline(device)) {
        parts.append(*online ? QStringLiteral("online") : QStringLiteral("offline"));
    }
    return parts;
}

QString climateReactState(const SmartMode& smartMode)
{
    return smartMode.enabled ? QStringLiteral("Climate React on") : QStringLiteral("Climate React off");
}

// The extras' parts: the timer and Climate React.
QStringList extrasParts(const DeviceExtras& extras, const QDateTime& now)
{
    QStringList parts;
    if (extras.timer) {
        // The clock time to the nearest minute, as the panel gives it.
        parts.append(timerShortText(*extras.timer, now) + QStringLiteral(" (at ") +
                     clockText(extras.timer->due.addSecs(30)) + u')');
    }
    if (extras.climateReact) {
        parts.append(climateReactState(*extras.climateReact));
    }
    return parts;
}

QJsonValue timerJson(const DeviceExtras& extras, const QDateTime& now)
{
    if (!extras.timer) {
        return QJsonValue::Null;
    }
    return QJsonObject{
        {QStringLiteral("turnsOn"), extras.timer->turnsOn},
        {QStringLiteral("due"), extras.timer->due.toUTC().toString(Qt::ISODate)},
        {QStringLiteral("minutesLeft"), minutesUntil(extras.timer->due, now)},
    };
}

QJsonValue climateReactJson(const SensiboDevice& device, const DeviceExtras& extras)
{
    if (!extras.climateReact) {
        return QJsonValue::Null;
    }
    const SmartMode& smartMode = *extras.climateReact;
    return QJsonObject{
        {QStringLiteral("enabled"), smartMode.enabled},
        {QStringLiteral("type"), orNull(smartMode.type)},
        {QStringLiteral("lowTemperatureThreshold"), orNull(smartMode.lowTemperatureThreshold)},
        {QStringLiteral("highTemperatureThreshold"), orNull(smartMode.highTemperatureThreshold)},
        {QStringLiteral("description"), climateReactText(smartMode, unit(device))},
    };
}

// A number as the cloud gave it, in as few digits as give it back.
QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QByteArray line(const QJsonDocument& document)
{
    return document.toJson(QJsonDocument::Compact) + '\n';
}

QByteArray waybarLine(const QString& text, const QString& tooltip, const QString& cssClass, const QString& alt)
{
    return line(QJsonDocument(QJsonObject{
        {QStringLiteral("text"), text.toHtmlEscaped()},
        {QStringLiteral("tooltip"), tooltip.toHtmlEscaped()},
        {QStringLiteral("class"), cssClass},
        {QStringLiteral("alt"), alt},
    }));
}

} // namespace

QString statusLine(const ShownDevice& shown, const QDateTime& now)
{
    const SensiboDevice& device = shown.device;
    return escapedForTerminal(
        deviceName(device) + QStringLiteral(": ") +
        (stateParts(device) + readingParts(device) + extrasParts(shown.extras, now)).join(QStringLiteral(", ")));
}

QByteArray statusJson(const QList<ShownDevice>& devices, const QDateTime& now)
{
    QJsonArray array;
    for (const auto& [device, extras] : devices) {
        const std::optional<ACState>& state = device.acState;
        const auto field = [&](auto member) { return state ? orNull((*state).*member) : QJsonValue(QJsonValue::Null); };
        array.append(QJsonObject{
            {QStringLiteral("id"), device.id},
            {QStringLiteral("room"), device.room ? QJsonValue(device.room->name) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("on"), state ? QJsonValue(state->on) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("mode"), field(&ACState::mode)},
            {QStringLiteral("targetTemperature"), field(&ACState::targetTemperature)},
            {QStringLiteral("temperatureUnit"), field(&ACState::temperatureUnit)},
            {QStringLiteral("fanLevel"), field(&ACState::fanLevel)},
            {QStringLiteral("swing"), field(&ACState::swing)},
            {QStringLiteral("horizontalSwing"), field(&ACState::horizontalSwing)},
            {QStringLiteral("light"), field(&ACState::light)},
            {QStringLiteral("roomTemperature"),
             device.measurements ? orNull(device.measurements->temperature) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("humidity"),
             device.measurements ? orNull(device.measurements->humidity) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("online"), orNull(isOnline(device))},
            {QStringLiteral("timer"), timerJson(extras, now)},
            {QStringLiteral("climateReact"), climateReactJson(device, extras)},
        });
    }
    return line(QJsonDocument(array));
}

QString deviceListText(const QList<SensiboDevice>& devices)
{
    QString text;
    for (const SensiboDevice& device : devices) {
        text += escapedForTerminal(device.id) + QLatin1Char('\t') +
                escapedForTerminal(device.room ? device.room->name : QString()) + QLatin1Char('\n');
    }
    return text;
}

QByteArray deviceListJson(const QList<SensiboDevice>& devices)
{
    QJsonArray array;
    for (const SensiboDevice& device : devices) {
        array.append(QJsonObject{
            {QStringLiteral("id"), device.id},
            {QStringLiteral("room"), device.room ? QJsonValue(device.room->name) : QJsonValue(QJsonValue::Null)},
        });
    }
    return line(QJsonDocument(array));
}

QByteArray waybarStatus(const ShownDevice& shown, const QDateTime& now)
{
    const SensiboDevice& device = shown.device;
    const std::optional<ACState>& state = device.acState;
    QString cssClass;
    QString alt;
    if (isOnline(device) == false) {
        cssClass = alt = QStringLiteral("offline");
    } else if (!state || !state->on) {
        cssClass = alt = QStringLiteral("off");
    } else {
        const QString mode = state->mode.value_or(QString());
        cssClass = mode == u"cool" || mode == u"heat" ? mode : QStringLiteral("on");
        alt = mode.isEmpty() ? QStringLiteral("on") : mode;
    }
    QString text = roomTemperatureText(device);
    if (text.isEmpty()) {
        text = deviceName(device);
    }
    QStringList tooltip{deviceName(device)};
    for (const QStringList& parts : {stateParts(device), readingParts(device)}) {
        if (!parts.isEmpty()) {
            tooltip.append(parts.join(QStringLiteral(", ")));
        }
    }
    if (shown.extras.timer) {
        tooltip.append(timerText(*shown.extras.timer, now));
    }
    if (const std::optional<SmartMode>& smartMode = shown.extras.climateReact) {
        const QString does = climateReactText(*smartMode, unit(device));
        tooltip.append(climateReactState(*smartMode) + (does.isEmpty() ? QString() : QStringLiteral(": ") + does));
    }
    return waybarLine(text, tooltip.join(QLatin1Char('\n')), cssClass, alt);
}

QByteArray waybarError(const QString& message)
{
    return waybarLine(QStringLiteral("—"), message, QStringLiteral("error"), QStringLiteral("error"));
}

QList<HistoryRow> historyRows(const RoomHistory& history)
{
    QList<HistoryRow> rows;
    auto temperature = history.temperature.cbegin();
    auto humidity = history.humidity.cbegin();
    // Both lists are in time order and mostly share their times: one row per time.
    while (temperature != history.temperature.cend() || humidity != history.humidity.cend()) {
        const bool takeTemperature = temperature != history.temperature.cend() &&
                                     (humidity == history.humidity.cend() || temperature->time <= humidity->time);
        const bool takeHumidity = humidity != history.humidity.cend() &&
                                  (temperature == history.temperature.cend() || humidity->time <= temperature->time);
        HistoryRow row{takeTemperature ? temperature->time : humidity->time, {}, {}};
        if (takeTemperature) {
            row.temperature = (temperature++)->value;
        }
        if (takeHumidity) {
            row.humidity = (humidity++)->value;
        }
        rows.append(row);
    }
    return rows;
}

QString historyText(const QList<HistoryRow>& rows, const QString& unit)
{
    QString text;
    for (const HistoryRow& row : rows) {
        text += row.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        if (row.temperature) {
            // Whole degrees, as the panel's chart reads them; --csv and --json give the readings as measured.
            text += QStringLiteral("  ") + formatTemperature(*row.temperature, unit);
        }
        if (row.humidity) {
            text += QStringLiteral("  ") + humidityText(*row.humidity);
        }
        text += u'\n';
    }
    return text;
}

QByteArray historyCsv(const QList<HistoryRow>& rows)
{
    QString text = QStringLiteral("time,temperature_celsius,humidity_percent\n");
    for (const HistoryRow& row : rows) {
        text += row.time.toUTC().toString(Qt::ISODate) + u',' +
                (row.temperature ? number(*row.temperature) : QString()) + u',' +
                (row.humidity ? number(*row.humidity) : QString()) + u'\n';
    }
    return text.toUtf8();
}

QByteArray historyJson(const QList<HistoryRow>& rows)
{
    QJsonArray array;
    for (const HistoryRow& row : rows) {
        array.append(QJsonObject{
            {QStringLiteral("time"), row.time.toUTC().toString(Qt::ISODate)},
            {QStringLiteral("temperature"), orNull(row.temperature)},
            {QStringLiteral("humidity"), orNull(row.humidity)},
        });
    }
    return line(QJsonDocument(array));
}
