#include "model/ExtrasText.h"
#include "panel/DisplayNames.h"

#include <QTest>
#include <QTimeZone>

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
    void extrasTexts_data();
    void extrasTexts();
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

namespace {
// A state Climate React applies: on or off, in a mode.
ACState reactState(bool on, const QString& mode)
{
    ACState state;
    state.on = on;
    state.mode = mode;
    return state;
}
} // namespace

void tst_DisplayNames::extrasTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QDateTime now(QDate(2026, 12, 8), QTime(22, 18), QTimeZone::utc());
    const QTimeZone utc = QTimeZone::utc();
    const QLocale british(QLocale::English, QLocale::UnitedKingdom);
    const ScheduledTimer off{false, now.addSecs(72 * 60)};
    const ScheduledTimer on{true, now.addSecs(72 * 60)};
    QTest::newRow("30 min") << durationText(30) << "30 min";
    QTest::newRow("1 h") << durationText(60) << "1 h";
    QTest::newRow("1 h 12 min") << durationText(72) << "1 h 12 min";
    QTest::newRow("8 h") << durationText(480) << "8 h";
    QTest::newRow("a choice") << timerChoiceText("90") << "1 h 30 min";
    QTest::newRow("menu of a unit that is on") << timerMenuText(true) << "Off in…";
    QTest::newRow("menu of a unit that is off") << timerMenuText(false) << "On in…";
    QTest::newRow("timer") << timerText(off, now, utc, british) << "Turns off at 23:30, in 1 h 12 min";
    QTest::newRow("timer switching on, 12-hour clock")
        << timerText(on, now, utc, QLocale(QLocale::English, QLocale::UnitedStates))
        << "Turns on at 11:30 PM, in 1 h 12 min";
    QTest::newRow("timer in a zone east of UTC")
        << timerText(off, now, QTimeZone("Europe/Berlin"), british) << "Turns off at 00:30, in 1 h 12 min";
    QTest::newRow("no seconds where the locale writes them")
        << timerText(off, now, utc, QLocale::c()) << "Turns off at 23:30, in 1 h 12 min";
    QTest::newRow("the cloud's second early")
        << timerText({false, off.due.addSecs(-1)}, now, utc, british) << "Turns off at 23:30, in 1 h 12 min";
    QTest::newRow("last minute") << timerShortText({false, now.addSecs(59)}, now) << "off in 1 min";
    QTest::newRow("minutes count up") << timerShortText({true, now.addSecs(61)}, now) << "on in 2 min";
    QTest::newRow("tray") << timerShortText(off, now) << "off in 1 h 12 min";

    SmartMode react;
    react.lowTemperatureThreshold = 20;
    react.highTemperatureThreshold = 27.5;
    react.lowTemperatureState = reactState(true, "heat");
    react.highTemperatureState = reactState(true, "cool");
    QTest::newRow("Climate React") << climateReactText(react, "C") << "Cools above 27.5°C, heats below 20°C";
    QTest::newRow("Climate React in Fahrenheit")
        << climateReactText(react, "F") << "Cools above 81.5°F, heats below 68°F";
    SmartMode offBelow = react;
    offBelow.lowTemperatureState = reactState(false, "heat");
    offBelow.highTemperatureState = reactState(true, "fan");
    QTest::newRow("Climate React off below")
        << climateReactText(offBelow, "C") << "Runs the fan above 27.5°C, turns off below 20°C";
    SmartMode humidity = react;
    humidity.type = QStringLiteral("humidity");
    humidity.highTemperatureThreshold = 60;
    humidity.highTemperatureState = reactState(true, "dry");
    QTest::newRow("Climate React on humidity") << climateReactText(humidity, "F") << "Dries above 60%, heats below 20%";
    SmartMode oneSide = react;
    oneSide.highTemperatureThreshold.reset();
    QTest::newRow("Climate React with one side") << climateReactText(oneSide, "C") << "Heats below 20°C";
    QTest::newRow("Climate React saying nothing") << climateReactText(SmartMode{}, "C") << "";

    const auto history = [&now](std::initializer_list<double> values) {
        RoomHistory room;
        qint64 secs = 0;
        for (const double value : values) {
            room.temperature.append({now.addSecs(secs += 90), value});
        }
        return room;
    };
    QTest::newRow("history") << historySummary(history({21.2, 23.8, 22.6}), "C")
                             << "Room temperature, last 24 hours: 21 to 24°C, now 23°C";
    QTest::newRow("history in Fahrenheit")
        << historySummary(history({21.2, 23.8, 22.6}), "F") << "Room temperature, last 24 hours: 70 to 75°F, now 73°F";
    QTest::newRow("steady history") << historySummary(history({22.8, 23.1}), "C")
                                    << "Room temperature, last 24 hours: 23°C, now 23°C";
    QTest::newRow("no history") << historySummary(RoomHistory{}, "C") << "";
}

// The texts of the timer, Climate React and the room's history, for the panel, the tray and the command line.
void tst_DisplayNames::extrasTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

QTEST_MAIN(tst_DisplayNames)
#include "tst_DisplayNames.moc"
