#include "updates/RelativeDate.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

namespace {
struct Amount {
    qint64 count = 0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
};

// Whole calendar units from `from` to the later `to`, the largest non-zero one first.
Amount largestWholeUnit(const QDateTime& from, const QDateTime& to)
{
    int years = to.date().year() - from.date().year();
    if (years > 0 && from.addYears(years) > to) {
        --years;
    }
    if (years > 0) {
        return {years, UDAT_REL_UNIT_YEAR};
    }
    int months = (to.date().year() - from.date().year()) * 12 + to.date().month() - from.date().month();
    if (months > 0 && from.addMonths(months) > to) {
        --months;
    }
    if (months > 0) {
        return {months, UDAT_REL_UNIT_MONTH};
    }
    const qint64 seconds = from.secsTo(to);
    constexpr qint64 minute = 60;
    constexpr qint64 hour = 60 * minute;
    constexpr qint64 day = 24 * hour;
    constexpr qint64 week = 7 * day;
    if (seconds >= week) {
        return {seconds / week, UDAT_REL_UNIT_WEEK};
    }
    if (seconds >= day) {
        return {seconds / day, UDAT_REL_UNIT_DAY};
    }
    if (seconds >= hour) {
        return {seconds / hour, UDAT_REL_UNIT_HOUR};
    }
    if (seconds >= minute) {
        return {seconds / minute, UDAT_REL_UNIT_MINUTE};
    }
    return {seconds, UDAT_REL_UNIT_SECOND};
}
} // namespace

QString describeRelative(const QDateTime& date, const QDateTime& now, const QByteArray& locale)
{
    if (!date.isValid() || !now.isValid()) {
        return {};
    }
    // A check that ended this very moment is "0 seconds ago", not "in 0 seconds".
    const bool past = date <= now;
    const Amount amount = past ? largestWholeUnit(date.toLocalTime(), now.toLocalTime())
                               : largestWholeUnit(now.toLocalTime(), date.toLocalTime());

    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale icuLocale = locale.isEmpty() ? icu::Locale::getDefault() : icu::Locale(locale.constData());
    icu::RelativeDateTimeFormatter formatter(icuLocale, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
    icu::UnicodeString text;
    // ICU reads the direction from the sign bit, so a past zero must be -0.0.
    const double offset = past ? -static_cast<double>(amount.count) : static_cast<double>(amount.count);
    formatter.formatNumeric(offset, amount.unit, text, status);
    if (U_FAILURE(status)) {
        return {};
    }
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}
