#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Describes `date` relative to `now` in whole unit names ("5 minutes ago", "in 2 days"), with the largest unit of
// which at least one whole passed: years, months, weeks, days, hours, minutes, then seconds (so 90 seconds is
// "1 minute ago"). Years and months are counted on the calendar in local time. `locale` is an ICU locale id;
// empty means the user's default. Empty when ICU cannot format.
QString describeRelative(const QDateTime& date, const QDateTime& now, const QByteArray& locale = {});
