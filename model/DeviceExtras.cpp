#include "model/DeviceExtras.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

// "2026-12-08T10:00:00Z", with or without fractions of a second; a time without a zone is UTC.
QDateTime parseCloudTime(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (time.isValid() && time.timeSpec() == Qt::LocalTime) {
        time.setTimeZone(QTimeZone::utc());
    }
    return time.isValid() ? time.toUTC() : QDateTime();
}

std::optional<QDateTime> dueTime(const DeviceTimer& timer, const QDateTime& receivedAt)
{
    constexpr double longestWait = 400.0 * 24 * 3600; // a year and more: anything beyond is no real timer
    if (timer.targetTimeSecondsFromNow && std::isfinite(*timer.targetTimeSecondsFromNow) &&
        std::abs(*timer.targetTimeSecondsFromNow) < longestWait) {
        return receivedAt.toUTC().addMSecs(qint64(std::llround(*timer.targetTimeSecondsFromNow * 1000)));
    }
    if (timer.targetTime) {
        const QDateTime time = parseCloudTime(*timer.targetTime);
        if (time.isValid()) {
            return time;
        }
    }
    return std::nullopt;
}

QList<HistoryPoint> points(const Tolerant<QList<MeasurementPoint>>& readings)
{
    QList<HistoryPoint> points;
    if (!readings.present()) {
        return points;
    }
    points.reserve(readings.value.size());
    for (const MeasurementPoint& reading : readings.value) {
        const QDateTime time = parseCloudTime(reading.time);
        if (time.isValid() && std::isfinite(reading.value)) {
            points.append({time, reading.value});
        }
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const HistoryPoint& a, const HistoryPoint& b) { return a.time < b.time; });
    return points;
}

} // namespace

DeviceExtras deviceExtras(const DeviceDetails& details, const QDateTime& receivedAt)
{
    DeviceExtras extras;
    switch (details.timer.kind) {
    case Tolerant<DeviceTimer>::Kind::Null:
        extras.timerKnown = true;
        break;
    case Tolerant<DeviceTimer>::Kind::Present: {
        const DeviceTimer& timer = details.timer.value;
        if (!timer.isEnabled) {
            extras.timerKnown = true; // one that has fired or was switched off: no timer
            break;
        }
        if (const auto due = dueTime(timer, receivedAt)) {
            extras.timerKnown = true;
            extras.timer = ScheduledTimer{timer.acState.on, *due};
        }
        break;
    }
    case Tolerant<DeviceTimer>::Kind::Missing:
    case Tolerant<DeviceTimer>::Kind::Unreadable:
        break;
    }
    if (details.smartMode.present()) {
        extras.climateReact = details.smartMode.value;
    }
    return extras;
}

RoomHistory roomHistory(const MeasurementHistory& history)
{
    return RoomHistory{points(history.temperature), points(history.humidity)};
}
