#pragma once

#include "model/Records.h"

#include <QDateTime>
#include <QList>

#include <array>
#include <optional>

// What Kelvo knows of a device beyond the device list: its timer and Climate React (from the details request) and
// its room's last day (from the history request), as the panel, the tray menu and the command line show them.

// The timer lengths Kelvo offers, in minutes: 30 min, 1 h, 2 h, 4 h, 8 h.
inline constexpr std::array<int, 5> timerChoices{30, 60, 120, 240, 480};

// A timer that will fire: whether it switches the unit on or off, and when (UTC).
struct ScheduledTimer {
    bool turnsOn = false;
    QDateTime due;

    bool operator==(const ScheduledTimer&) const = default;
};

struct DeviceExtras {
    // The details said whether a timer is set, in a way Kelvo can show: the timer may be offered.
    bool timerKnown = false;
    std::optional<ScheduledTimer> timer;   // one that is set and enabled
    std::optional<SmartMode> climateReact; // set up on the device (smartMode not null)

    bool operator==(const DeviceExtras&) const = default;
};

// The extras a details answer describes, received at `receivedAt`. A timer's time is counted from the answer
// (targetTimeSecondsFromNow), so that a computer whose clock is off still shows the right wait; targetTime stands in
// when that is missing. A timer or smartMode that is missing or does not fit is left out; so is an enabled timer
// without a usable time.
DeviceExtras deviceExtras(const DeviceDetails& details, const QDateTime& receivedAt);

// One reading of a room's history at a point in time.
struct HistoryPoint {
    QDateTime time; // UTC
    double value = 0;

    bool operator==(const HistoryPoint&) const = default;
};

// A room's readings, oldest first: temperatures in degrees Celsius, humidity in percent (empty when unknown).
struct RoomHistory {
    QList<HistoryPoint> temperature;
    QList<HistoryPoint> humidity;

    bool operator==(const RoomHistory&) const = default;
    // Enough to draw: two temperatures at least.
    bool drawable() const { return temperature.size() >= 2; }
};

// The readings of a history answer in time order; a reading whose time cannot be read, or whose value is not a
// finite number, is left out.
RoomHistory roomHistory(const MeasurementHistory& history);
