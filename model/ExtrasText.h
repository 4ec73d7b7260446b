#pragma once

#include "model/DeviceExtras.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

// How a device's timer, Climate React and history are written for people: the same in the panel, the tray's
// tooltip and menu, and on the command line.

// A length of time in whole minutes: "30 min", "1 h", "1 h 12 min".
QString durationText(qint64 minutes);
// A timer choice as the menus list it: the minutes as text ("90") → "1 h 30 min".
QString timerChoiceText(const QString& minutes);
// What setting a timer does to a unit that is on ("Off in…") or off ("On in…").
QString timerMenuText(bool deviceOn);
// The minutes left until `due`, counted up: a timer says "1 min" in its last minute and never "0 min".
qint64 minutesUntil(const QDateTime& due, const QDateTime& now);
// "Turns off at 23:30, in 1 h 12 min": the clock time to the nearest minute in `zone`, as `locale` writes it without
// seconds.
QString timerText(const ScheduledTimer& timer, const QDateTime& now,
                  const QTimeZone& zone = QTimeZone::systemTimeZone(), const QLocale& locale = QLocale());
// "off in 1 h 12 min", for the tray.
QString timerShortText(const ScheduledTimer& timer, const QDateTime& now);
// A clock time as `locale` writes it, without seconds: "23:30", "11:30 PM".
QString clockText(const QDateTime& time, const QTimeZone& zone = QTimeZone::systemTimeZone(),
                  const QLocale& locale = QLocale());

// What Climate React does, from its thresholds and states in the device's unit ("C" or "F"):
// "Cools above 27.5°C, heats below 20°C". Empty when it says nothing that can be written.
QString climateReactText(const SmartMode& smartMode, const QString& unit);

// A screen reader's summary of a room's history in the device's unit:
// "Room temperature, last 24 hours: 21 to 24°C, now 23°C". Empty without readings.
QString historySummary(const RoomHistory& history, const QString& unit);
