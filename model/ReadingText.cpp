#include "model/ReadingText.h"

#include <cmath>
#include <cstdio>

QString formatTemperature(double celsius, const QString& unit)
{
    const bool fahrenheit = unit == u"F";
    const double value = fahrenheit ? celsius * 9.0 / 5.0 + 32.0 : celsius;
    // C's printf rounds exact halves to even and keeps the sign of -0; Qt's number formatting does neither.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.0f", value);
    return QString::fromLatin1(digits) + (fahrenheit ? QStringLiteral("°F") : QStringLiteral("°C"));
}

QString targetTemperatureText(qint64 target, const QString& unit)
{
    return QString::number(target) + QStringLiteral("°") + unit;
}

QString humidityText(double humidity)
{
    const double whole = std::trunc(humidity);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(whole) || whole >= 9223372036854775808.0 || whole < -9223372036854775808.0) {
        return QString();
    }
    return QString::number(static_cast<qint64>(whole)) + QLatin1Char('%');
}

QString deviceName(const SensiboDevice& device)
{
    return device.room ? device.room->name : device.id;
}
