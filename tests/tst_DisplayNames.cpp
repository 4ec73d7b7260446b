#include "panel/DisplayNames.h"

#include <QTest>

#include <limits>

namespace {
void textRow(const QString& table, const char* tag, const QString& value, const QString& text)
{
    QTest::newRow(qPrintable(table + ": " + tag)) << table << value << text;
}

void temperatureRow(const char* tag, double celsius, const QString& unit, const QString& text)
{
    QTest::newRow(tag) << celsius << unit << text;
}

void humidityRow(const char* tag, double percent, const QString& text)
{
    QTest::newRow(tag) << percent << text;
}
} // namespace

class tst_DisplayNames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textTables_data();
    void textTables();
    void temperatures_data();
    void temperatures();
    void humidity_data();
    void humidity();
    void deviceNameIsTheRoomOrTheId();
};

void tst_DisplayNames::textTables_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("text");
    textRow("modeIcon", "cool", "cool", "snowflake");
    textRow("modeIcon", "heat", "heat", "flame");
    textRow("modeIcon", "fan", "fan", "fan");
    textRow("modeIcon", "dry", "dry", "drop");
    textRow("modeIcon", "auto", "auto", "arrow.triangle.2.circlepath");
    textRow("modeIcon", "unknown", "smart", "air.conditioner.horizontal");
    textRow("modeIcon", "case matters", "Cool", "air.conditioner.horizontal");
    textRow("modeIcon", "empty", "", "air.conditioner.horizontal");
    textRow("displayName", "cool", "cool", "Cool");
    textRow("displayName", "heat", "heat", "Heat");
    textRow("displayName", "fan", "fan", "Fan");
    textRow("displayName", "dry", "dry", "Dry");
    textRow("displayName", "auto", "auto", "Auto");
    textRow("displayName", "quiet", "quiet", "Quiet");
    textRow("displayName", "low", "low", "Low");
    textRow("displayName", "medium", "medium", "Medium");
    textRow("displayName", "medium_high", "medium_high", "Med-High");
    textRow("displayName", "high", "high", "High");
    textRow("displayName", "strong", "strong", "Strong");
    textRow("displayName", "medium_low by fallback", "medium_low", "Medium Low");
    textRow("displayName", "smart by fallback", "smart", "Smart");
    textRow("displayName", "LOW is not low", "LOW", "Low");
    textRow("displayName", "Cool is not cool", "Cool", "Cool");
    textRow("displayName", "MEDIUM_HIGH is not medium_high", "MEDIUM_HIGH", "Medium High");
    textRow("displayName", "empty", "", "");
    textRow("swingDisplayName", "stopped", "stopped", "Off");
    textRow("swingDisplayName", "rangeFull", "rangeFull", "Full Range");
    textRow("swingDisplayName", "fixedTop", "fixedTop", "Fixed Top");
    textRow("swingDisplayName", "fixedMiddleTop", "fixedMiddleTop", "Fixed Mid-Top");
    textRow("swingDisplayName", "fixedMiddle", "fixedMiddle", "Fixed Middle");
    textRow("swingDisplayName", "fixedMiddleBottom", "fixedMiddleBottom", "Fixed Mid-Bottom");
    textRow("swingDisplayName", "fixedBottom", "fixedBottom", "Fixed Bottom");
    textRow("swingDisplayName", "rangeTop", "rangeTop", "Range Top");
    textRow("swingDisplayName", "rangeMiddle", "rangeMiddle", "Range Middle");
    textRow("swingDisplayName", "rangeBottom", "rangeBottom", "Range Bottom");
    textRow("swingDisplayName", "fixedLeft by fallback", "fixedLeft", "Fixedleft");
    textRow("swingDisplayName", "mode names are not swing names", "medium_high", "Medium High");
    textRow("swingDisplayName", "empty", "", "");
    textRow("titleCase", "underscores", "very_high_fan", "Very High Fan");
    textRow("titleCase", "inner capitals", "fixedCenterLeft", "Fixedcenterleft");
    textRow("titleCase", "white space kept", "a  b\tc", "A  B\tC");
    textRow("titleCase", "leading underscore", "_x", " X");
    textRow("titleCase", "digits", "2nd_STAGE", "2nd Stage");
    textRow("titleCase", "non-ASCII", "élan_ÉTÉ", "Élan Été");
}

void tst_DisplayNames::textTables()
{
    static const QHash<QString, QString (*)(const QString&)> tables{
        {"modeIcon", modeIcon},
        {"displayName", displayName},
        {"swingDisplayName", swingDisplayName},
        {"titleCase", titleCase},
    };
    QFETCH(QString, table);
    QFETCH(QString, value);
    QFETCH(QString, text);
    QCOMPARE(tables.value(table)(value), text);
}

void tst_DisplayNames::temperatures_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("text");
    temperatureRow("half to even, down", 22.5, "C", "22°C");
    temperatureRow("half to even, up", 23.5, "C", "24°C");
    temperatureRow("just below zero", -0.3, "C", "-0°C");
    temperatureRow("below zero", -4.6, "C", "-5°C");
    temperatureRow("Fahrenheit", 23.46, "F", "74°F");
    temperatureRow("freezing in Fahrenheit", 0.0, "F", "32°F");
    temperatureRow("other units show Celsius", 23.46, "K", "23°C");
    temperatureRow("unit is case-sensitive", 23.46, "f", "23°C");
    temperatureRow("empty unit", 19.0, "", "19°C");
}

void tst_DisplayNames::temperatures()
{
    QFETCH(double, celsius);
    QFETCH(QString, unit);
    QFETCH(QString, text);
    QCOMPARE(formatTemperature(celsius, unit), text);
}

void tst_DisplayNames::humidity_data()
{
    QTest::addColumn<double>("percent");
    QTest::addColumn<QString>("text");
    humidityRow("fraction dropped", 51.9, "51%");
    humidityRow("47.8", 47.8, "47%");
    humidityRow("whole", 60.0, "60%");
    humidityRow("towards zero", -2.7, "-2%");
    humidityRow("not a number", std::numeric_limits<double>::quiet_NaN(), "");
    humidityRow("infinite", std::numeric_limits<double>::infinity(), "");
    humidityRow("beyond 64 bits", 1e19, "");
}

void tst_DisplayNames::humidity()
{
    QFETCH(double, percent);
    QFETCH(QString, text);
    QCOMPARE(humidityText(percent), text);
}

void tst_DisplayNames::deviceNameIsTheRoomOrTheId()
{
    SensiboDevice device;
    device.id = QStringLiteral("abc123");
    QCOMPARE(deviceName(device), QStringLiteral("abc123"));
    device.room = RoomInfo{QStringLiteral("Living Room"), std::nullopt};
    QCOMPARE(deviceName(device), QStringLiteral("Living Room"));
}

QTEST_MAIN(tst_DisplayNames)
#include "tst_DisplayNames.moc"
