#include "app/TrayMenuModel.h"
#include "app/TrayToolTip.h"
#include "panel/ClimateControls.h"
#include "tests/support/CloudFixture.h"

#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

namespace {
QJsonObject livingRoom(const QString& mode = QStringLiteral("cool"), bool on = true)
{
    return FakeSensiboCloud::makeDevice("abc123", "Living Room", on, mode);
}

// The living room's unit with a timer that switches it off in 72 minutes, or with Climate React set up and off.
QJsonObject withTimer()
{
    QJsonObject device = livingRoom();
    device["timer"] = FakeSensiboCloud::makeTimer(device, false, 72);
    return device;
}

QJsonObject withClimateReact()
{
    QJsonObject device = livingRoom();
    device["smartMode"] = FakeSensiboCloud::makeSmartMode(false);
    return device;
}

const QDateTime fixedNow = QDateTime(QDate(2026, 12, 8), QTime(22, 18), QTimeZone::utc());

// A unit whose cooling range is too long to list every value.
QJsonObject wideRange()
{
    QJsonObject device = livingRoom();
    QJsonObject capabilities = device["remoteCapabilities"].toObject();
    QJsonObject modes = capabilities["modes"].toObject();
    QJsonObject cool = modes["cool"].toObject();
    QJsonArray values;
    for (int degrees = 0; degrees <= 60; ++degrees) {
        values.append(degrees);
    }
    cool["temperatures"] = QJsonObject{{"C", QJsonObject{{"isNative", true}, {"values", values}}}};
    modes["cool"] = cool;
    capabilities["modes"] = modes;
    device["remoteCapabilities"] = capabilities;
    return device;
}

// One line per shown entry: "-" a separator, "~" a line that cannot be chosen, "[x]"/"[ ]" a check entry, and for a
// submenu its number of entries and the marked one ("Mode: Cool > 5, Cool").
QString render(const TrayMenuItem& item)
{
    if (item.separator) {
        return QStringLiteral("-");
    }
    QString text = (item.enabled ? QString() : QStringLiteral("~")) + item.label;
    if (item.toggle == TrayMenuItem::Toggle::Check) {
        text.prepend(item.checked ? QStringLiteral("[x] ") : QStringLiteral("[ ] "));
    }
    if (!item.children.isEmpty()) {
        QString marked = QStringLiteral("none");
        for (const TrayMenuItem& child : item.children) {
            if (child.checked) {
                marked = child.label;
            }
        }
        text += QStringLiteral(" > %1, %2").arg(item.children.size()).arg(marked);
    }
    return text;
}

QStringList render(const QList<TrayMenuItem>& items)
{
    QStringList lines;
    for (const TrayMenuItem& item : items) {
        if (item.visible) {
            lines.append(render(item));
        }
    }
    return lines;
}

// The entry at "Mode: Cool/Heat": labels of the submenus on the way, then the entry's own.
const TrayMenuItem* find(const QList<TrayMenuItem>& items, const QString& path)
{
    const QString head = path.section(QLatin1Char('/'), 0, 0);
    const QString rest = path.section(QLatin1Char('/'), 1);
    for (const TrayMenuItem& item : items) {
        if (item.label == head && item.visible) {
            return rest.isEmpty() ? &item : find(item.children, rest);
        }
    }
    return nullptr;
}

const QStringList appEntries{"-", "Open Kelvo", "Settings...", "-", "Quit Kelvo"};
} // namespace

class tst_TrayMenuModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void menuSaysWhatThePanelSaysAndActsLikeIt_data();
    void menuSaysWhatThePanelSaysAndActsLikeIt();
};

void tst_TrayMenuModel::menuSaysWhatThePanelSaysAndActsLikeIt_data()
{
    QTest::addColumn<QJsonArray>("devices");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("listStatus"); // 0: the list never comes
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("request");    // what the choice sends, empty when nothing
    QTest::addColumn<QString>("shownAfter"); // a line the choice shows at once

    const QString key = QStringLiteral("test-key");
    const QString header = QStringLiteral("~Living Room — 23°C, 51%");
    const QString change = QStringLiteral("PATCH /api/v2/pods/abc123/acStates/%1 %2");
    // The device view: the first line, the rows ("|" between them), then the entries of the application.
    const auto device = [&](const QString& rows) { return QStringList{header, "-"} + rows.split('|') + appEntries; };
    const QString on = QStringLiteral("[x] Power|Off in… > 5, none|Mode: %1 > 5, %1|");
    const QString temp = QStringLiteral("Temp: 22°C > 15, 22°C|");
    const QString fan = QStringLiteral("Fan: Auto > 6, Auto|");
    const QString swings = QStringLiteral("Swing: Off > 7, Off|H. Swing: Off > 7, Off|Light: On > 2, On");

    QTest::newRow("no key") << FakeSensiboCloud::defaultDevices() << QString() << 200
                            << QStringList{"~No API Key Configured", "Open Settings...", "-", "Quit Kelvo"} << QString()
                            << QString() << QString();
    QTest::newRow("loading") << FakeSensiboCloud::defaultDevices() << key << 0
                             << QStringList{"~Loading devices..."} + appEntries << QString() << QString() << QString();
    QTest::newRow("error") << QJsonArray() << key << 500 << QStringList{"~Server error (500)", "Retry"} + appEntries
                           << "Retry"
                           << "GET /api/v2/users/me/pods" << QString();
    QTest::newRow("no devices") << QJsonArray() << key << 200 << QStringList{"~No devices found", "Retry"} + appEntries
                                << QString() << QString() << QString();
    QTest::newRow("one device on, cool") << QJsonArray{livingRoom()} << key << 200
                                         << device(on.arg("Cool") + temp + fan + swings) << "Mode: Cool/Heat"
                                         << change.arg("mode", R"({"newValue":"heat"})") << header;
    QTest::newRow("one device off") << QJsonArray{livingRoom("cool", false)} << key << 200
                                    << device("[ ] Power|On in… > 5, none") << "Power"
                                    << change.arg("on", R"({"newValue":true})") << header;
    QTest::newRow("a timer to switch it off")
        << QJsonArray{livingRoom()} << key << 200 << device(on.arg("Cool") + temp + fan + swings) << "Off in…/1 h"
        << R"(PUT /api/v1/pods/abc123/timer/ {"acState":{"fanLevel":"auto","horizontalSwing":"stopped","light":"on",)"
           R"("mode":"cool","on":false,"swing":"stopped","targetTemperature":22,"temperatureUnit":"C"},)"
           R"("minutesFromNow":60})"
        << "Timer: off in 1 h > 1, none";
    QTest::newRow("a timer set, cancelled")
        << QJsonArray{withTimer()} << key << 200
        << device(QString(on).replace("Off in… > 5", "Timer: off in 1 h 12 min > 1").arg("Cool") + temp + fan + swings)
        << "Timer: off in 1 h 12 min/Cancel Timer"
        << "DELETE /api/v1/pods/abc123/timer/"
        << "Off in… > 5, none";
    QTest::newRow("Climate React switched on")
        << QJsonArray{withClimateReact()} << key << 200
        << device(QString(on).replace("none|", "none|[ ] Climate React|").arg("Cool") + temp + fan + swings)
        << "Climate React"
        << R"(PUT /api/v2/pods/abc123/smartmode {"enabled":true})"
        << "[x] Climate React";
    QTest::newRow("fan mode has no temperatures")
        << QJsonArray{livingRoom("fan")} << key << 200 << device(on.arg("Fan") + fan + swings) << "Fan: Auto/Med-High"
        << change.arg("fanLevel", R"({"newValue":"medium_high"})") << header;
    QTest::newRow("dry mode has no fan levels")
        << QJsonArray{livingRoom("dry")} << key << 200 << device(on.arg("Dry") + temp + swings) << "Temp: 22°C/30°C"
        << change.arg("targetTemperature", R"({"newValue":30})") << header;
    QTest::newRow("a range too long for a menu")
        << QJsonArray{wideRange()} << key << 200 << device(on.arg("Cool") + "Temp: 22°C > 2, none|" + fan + swings)
        << "Temp: 22°C/Warmer (23°C)" << change.arg("targetTemperature", R"({"newValue":23})") << header;
    QTest::newRow("several devices, a failed refresh")
        << FakeSensiboCloud::defaultDevices() << key << 200
        << device(on.arg("Cool") + temp + fan + swings + "|Device: Living Room > 2, Living Room")
        << "Device: Living Room/Bedroom" << QString() << "~Bedroom — 20°C, 44%";
}

// The menu and the panel over one service: the same texts in each state, the same rows for each mode, and a
// choice in the menu is the panel's service call.
void tst_TrayMenuModel::menuSaysWhatThePanelSaysAndActsLikeIt()
{
    QFETCH(QJsonArray, devices);
    QFETCH(QString, key);
    QFETCH(int, listStatus);
    QFETCH(QStringList, lines);
    QFETCH(QString, choice);
    QFETCH(QString, request);
    QFETCH(QString, shownAfter);

    CloudFixture fixture;
    QVERIFY(fixture.listening);
    fixture.cloud.setDevices(devices);
    std::unique_ptr<SensiboService> service = fixture.makeService();
    service->features().setClock([] { return fixedNow; });
    service->setApiKey(key);
    TrayMenuModel model(*service, {});
    if (!key.isEmpty()) {
        if (listStatus == 0) {
            fixture.cloud.setDelayMs(60'000);
            service->fetchDevices();
            QVERIFY(service->isLoading());
        } else {
            if (listStatus != 200) {
                FakeHttpServer::Response failure;
                failure.status = listStatus;
                fixture.cloud.overrideDeviceList(failure, 1);
            }
            QCoro::waitFor(service->fetchDevices());
            if (service->selectedDeviceId()) {
                QCoro::waitFor(service->features().showDevice(*service->selectedDeviceId())); // as the panel does
            }
        }
    }
    QCOMPARE(render(model.items()), lines);
    if (lines.join('|').contains("Timer: off in 1 h 12 min")) {
        QCOMPARE(TrayToolTip::of(*service).title, "Kelvo: Living Room — Cool, 22°C, off in 1 h 12 min"); // the tooltip says it too
    }

    if (service->selectedDevice()) {
        // The rows shown are the panel's.
        ClimateControls panel(*service, 110);
        QStringList panelRows;
        for (QWidget* row : panel.findChildren<QWidget*>(QRegularExpression("Row$"), Qt::FindDirectChildrenOnly)) {
            if (row->objectName() == u"timerRow" || row->objectName() == u"climateReactRow") {
                continue; // compared below
            }
            for (QLabel* label : row->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
                if (row->isVisibleTo(&panel) && !label->text().isEmpty()) {
                    panelRows.append(label->text());
                }
            }
        }
        QStringList menuRows;
        for (const TrayMenuItem& item : model.items()) {
            if (item.visible && item.key.startsWith(QLatin1String("row-"))) {
                menuRows.append(item.label.section(QLatin1Char(':'), 0, 0));
            }
        }
        QCOMPARE(menuRows, panelRows);
        for (const auto& [entryKey, row] :
             {std::pair{"timer", "timerRow"}, std::pair{"climateReact", "climateReactRow"}}) {
            const auto entry =
                std::find_if(model.items().cbegin(), model.items().cend(),
                             [entryKey = entryKey](const TrayMenuItem& item) { return item.key == entryKey; });
            QCOMPARE(entry != model.items().cend() && entry->visible,
                     panel.findChild<QWidget*>(row)->isVisibleTo(&panel));
        }

        // A refresh that brings nothing new is no change; a failed one shows its message under the first line.
        QSignalSpy changes(&model, &TrayMenuModel::itemsChanged);
        QCoro::waitFor(service->fetchDevices());
        QCOMPARE(changes.size(), 0);
        if (devices.size() > 1) {
            FakeHttpServer::Response failure;
            failure.status = 503;
            fixture.cloud.overrideDeviceList(failure, 1);
            QCoro::waitFor(service->fetchDevices());
            QCOMPARE(changes.size(), 1);
            QCOMPARE(render(model.items()).mid(0, 3), (QStringList{lines.first(), "~Server error (503)", "-"}));

            // Not followed (an XEmbed icon's own menu): changes say nothing, the entries are made when asked for,
            // and following again says once what changed meanwhile.
            model.setFollowed(false);
            QCoro::waitFor(service->fetchDevices());
            QCOMPARE(changes.size(), 1);
            QCOMPARE(render(model.items()), lines);
            fixture.cloud.overrideDeviceList(failure, 1);
            QCoro::waitFor(service->fetchDevices());
            QCOMPARE(changes.size(), 1);
            model.setFollowed(true);
            QCOMPARE(changes.size(), 2);
            QCOMPARE(render(model.items()).at(1), "~Server error (503)");
        }
    }

    if (choice.isEmpty()) {
        return;
    }
    fixture.cloud.clearRequests();
    const TrayMenuItem* entry = find(model.items(), choice);
    QVERIFY2(entry && entry->action && entry->enabled, qPrintable(choice));
    entry->action();
    if (!shownAfter.isEmpty()) {
        QVERIFY2(render(model.items()).contains(shownAfter), qPrintable(shownAfter)); // at once, as in the panel
    }
    if (request.isEmpty()) {
        QCoreApplication::processEvents();
        QCOMPARE(fixture.cloud.requests().size(), 0);
        return;
    }
    // Exactly one change; a timer or Climate React change is followed by a look at what the cloud made of it.
    QTRY_VERIFY(!fixture.cloud.requests().isEmpty());
    const FakeHttpServer::Request& sent = fixture.cloud.requests().first();
    const QString body = sent.body.isEmpty() ? QString() : QLatin1Char(' ') + QString::fromUtf8(sent.body);
    QCOMPARE(QString::fromLatin1(sent.method + ' ' + sent.target.split('?').first()) + body, request);
    const bool extras = sent.target.contains("/timer/") || sent.target.contains("/smartmode");
    QTRY_COMPARE(fixture.cloud.requests().size(), extras ? 2 : 1);
    if (extras) {
        QCOMPARE(fixture.cloud.requests().last().target.split('?').first(), "/api/v2/pods/abc123");
    }
}

QTEST_MAIN(tst_TrayMenuModel)
#include "tst_TrayMenuModel.moc"
