#include "model/ExtrasText.h"
#include "panel/ClimateControls.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tests/support/CloudFixture.h"
#include "tests/support/FakeSensiboCloud.h"
#include "ui/OptionMenuButton.h"
#include "ui/PanelStyle.h"
#include "ui/SymbolIcons.h"
#include "ui/TemperatureStepper.h"
#include "ui/ToggleSwitch.h"

#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <QToolButton>

#include <functional>

namespace {
const QStringList allRows{"powerRow",           "modeRow", "temperatureRow", "fanRow", "swingRow",
                          "horizontalSwingRow", "lightRow"};

// The living room's unit (cool, 22 °C, light on, every capability of a typical split unit), changed by `edit`.
QJsonObject livingRoom(const std::function<void(QJsonObject& state, QJsonObject& modes)>& edit = {})
{
    QJsonObject device = FakeSensiboCloud::makeDevice("abc123", "Living Room");
    QJsonObject state = device["acState"].toObject();
    QJsonObject capabilities = device["remoteCapabilities"].toObject();
    QJsonObject modes = capabilities["modes"].toObject();
    if (edit) {
        edit(state, modes);
    }
    capabilities["modes"] = modes;
    device["remoteCapabilities"] = capabilities;
    device["acState"] = state;
    return device;
}

void setModeCapability(QJsonObject& modes, const QString& mode, const QString& key, const QJsonValue& value)
{
    QJsonObject capabilities = modes[mode].toObject();
    capabilities[key] = value;
    modes[mode] = capabilities;
}

void changeRow(const char* tag, const QJsonObject& device, const QString& control, const QString& choice,
               const QString& property, const QJsonValue& newValue)
{
    QTest::newRow(tag) << device << control << choice << property << newValue;
}

void stepperRow(const char* tag, const QString& unit, const QJsonValue& target, const QString& text, bool minusEnabled,
                bool plusEnabled, const QString& step, int sent)
{
    QTest::newRow(tag) << unit << target << text << minusEnabled << plusEnabled << step << sent;
}
} // namespace

class tst_ClimateControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void offDeviceShowsOnlyPowerUntilSwitchedOn();
    void rowsFollowTheModesCapabilities_data();
    void rowsFollowTheModesCapabilities();
    void eachControlSendsExactlyOneChange_data();
    void eachControlSendsExactlyOneChange();
    void stepperStaysInsideTheRange_data();
    void stepperStaysInsideTheRange();
    void menusListTheOptionsByNameInOrder();
    void menusMarkTheCurrentValueAndRebuildOnlyOnChange();
    void iconsAndNamesFollowTheState();
    void switchFollowsTheStateNotTheClick();
    void everyControlIsNamedAndWorksFromTheKeyboard();
    void timerRowSetsCountsDownCancelsAndPutsBackARefusal();

private:
    void show(const QJsonObject& device);
    void act(const QString& control, const QString& choice);
    QStringList visibleRows() const;
    QList<FakeHttpServer::Request> changes() const;
    QImage rowIcon(const QString& row) const;
    QImage symbol(const QString& name, const QColor& color) const;

    std::unique_ptr<CloudFixture> m_fixture;
    std::unique_ptr<SensiboService> m_service;
    std::unique_ptr<ClimateControls> m_controls;
};

void tst_ClimateControls::init()
{
    m_fixture = std::make_unique<CloudFixture>();
    QVERIFY(m_fixture->listening);
    m_service = m_fixture->makeService();
    m_service->setApiKey("test-key");
}

void tst_ClimateControls::cleanup()
{
    m_controls.reset();
    m_service.reset();
    m_fixture.reset();
}

// Loads `device` as the account's only one (and so the selected one) and shows the rows for it.
void tst_ClimateControls::show(const QJsonObject& device)
{
    m_fixture->cloud.setDevices({device});
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(m_service->selectedDeviceId(), std::optional<QString>(device["id"].toString()));
    m_controls = std::make_unique<ClimateControls>(*m_service, 110);
    m_controls->show();
    m_fixture->cloud.clearRequests();
}

void tst_ClimateControls::act(const QString& control, const QString& choice)
{
    auto* widget = m_controls->findChild<QWidget*>(control);
    QVERIFY2(widget, qPrintable(control));
    QVERIFY2(widget->isVisible(), qPrintable(control));
    if (auto* toggle = qobject_cast<ToggleSwitch*>(widget)) {
        QTest::mouseClick(toggle, Qt::LeftButton);
    } else if (auto* stepper = qobject_cast<TemperatureStepper*>(widget)) {
        QTest::mouseClick(choice == "plus" ? stepper->plusButton() : stepper->minusButton(), Qt::LeftButton);
    } else if (auto* menu = qobject_cast<OptionMenuButton*>(widget)) {
        const QList<QAction*> actions = menu->menu()->actions();
        const auto it = std::find_if(actions.cbegin(), actions.cend(), [&](QAction* a) { return a->text() == choice; });
        QVERIFY2(it != actions.cend(), qPrintable(choice));
        (*it)->trigger();
    } else {
        QFAIL("not a control");
    }
}

QStringList tst_ClimateControls::visibleRows() const
{
    QStringList rows;
    for (const QString& row : allRows) {
        if (m_controls->findChild<QWidget*>(row)->isVisibleTo(m_controls.get())) {
            rows.append(row);
        }
    }
    return rows;
}

QList<FakeHttpServer::Request> tst_ClimateControls::changes() const
{
    QList<FakeHttpServer::Request> patches;
    for (const auto& request : m_fixture->cloud.requests()) {
        if (request.method == "PATCH") {
            patches.append(request);
        }
    }
    return patches;
}

QImage tst_ClimateControls::rowIcon(const QString& row) const
{
    return m_controls->findChild<QWidget*>(row)->findChild<QLabel*>()->pixmap().toImage();
}

QImage tst_ClimateControls::symbol(const QString& name, const QColor& color) const
{
    return symbolPixmap(name, color, 18, m_controls->devicePixelRatioF()).toImage();
}

void tst_ClimateControls::offDeviceShowsOnlyPowerUntilSwitchedOn()
{
    show(livingRoom([](QJsonObject& state, QJsonObject&) { state["on"] = false; }));
    QCOMPARE(visibleRows(), QStringList{"powerRow"});
    QCOMPARE(rowIcon("powerRow"), symbol("power.circle", secondaryColor(m_controls->palette())));
    QVERIFY(!m_controls->findChild<ToggleSwitch*>("powerSwitch")->isChecked());

    act("powerSwitch", {});
    // The service's change shows at once, before the cloud answers.
    QVERIFY(m_controls->findChild<ToggleSwitch*>("powerSwitch")->isChecked());
    QCOMPARE(visibleRows(), allRows);
    QCOMPARE(rowIcon("powerRow"), symbol("power.circle.fill", systemGreen(m_controls->palette())));

    QTRY_COMPARE(m_fixture->cloud.stateChangeCount(), 1);
    QCOMPARE(changes().first().target, QByteArray("/api/v2/pods/abc123/acStates/on?apiKey=test-key"));
    QCOMPARE(QJsonDocument::fromJson(changes().first().body), QJsonDocument(QJsonObject{{"newValue", true}}));
}

void tst_ClimateControls::rowsFollowTheModesCapabilities_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("cool offers everything") << livingRoom() << allRows;
    QTest::newRow("dry has no fan levels")
        << livingRoom([](QJsonObject& state, QJsonObject&) { state["mode"] = "dry"; })
        << QStringList{"powerRow", "modeRow", "temperatureRow", "swingRow", "horizontalSwingRow", "lightRow"};
    QTest::newRow("fan has no temperatures")
        << livingRoom([](QJsonObject& state, QJsonObject&) { state["mode"] = "fan"; })
        << QStringList{"powerRow", "modeRow", "fanRow", "swingRow", "horizontalSwingRow", "lightRow"};
    QTest::newRow("one light mode is no choice") << livingRoom([](QJsonObject&, QJsonObject& modes) {
        setModeCapability(modes, "cool", "light", QJsonArray{"on"});
    }) << QStringList{"powerRow", "modeRow", "temperatureRow", "fanRow", "swingRow", "horizontalSwingRow"};
    QTest::newRow("two light modes") << livingRoom([](QJsonObject&, QJsonObject& modes) {
        setModeCapability(modes, "cool", "light", QJsonArray{"on", "off"});
    }) << allRows;
    QTest::newRow("temperatures only in the other unit") << livingRoom([](QJsonObject&, QJsonObject& modes) {
        setModeCapability(modes, "cool", "temperatures",
                          QJsonObject{{"F", QJsonObject{{"values", QJsonArray{61, 62, 86}}}}});
    }) << QStringList{"powerRow", "modeRow", "fanRow", "swingRow", "horizontalSwingRow", "lightRow"};
    QTest::newRow("no swing positions") << livingRoom([](QJsonObject&, QJsonObject& modes) {
        setModeCapability(modes, "cool", "swing", QJsonArray{});
        setModeCapability(modes, "cool", "horizontalSwing", QJsonArray{});
    }) << QStringList{"powerRow", "modeRow", "temperatureRow", "fanRow", "lightRow"};
    QTest::newRow("mode absent: nothing but the modes to pick from")
        << livingRoom([](QJsonObject& state, QJsonObject&) { state.remove("mode"); })
        << QStringList{"powerRow", "modeRow"};
    QTest::newRow("mode the unit does not list")
        << livingRoom([](QJsonObject& state, QJsonObject&) { state["mode"] = "smart"; })
        << QStringList{"powerRow", "modeRow"};
    QTest::newRow("no capabilities at all") << [] {
        QJsonObject device = livingRoom();
        device.remove("remoteCapabilities");
        return device;
    }() << QStringList{"powerRow"};
    QTest::newRow("off hides every capability")
        << livingRoom([](QJsonObject& state, QJsonObject&) { state["on"] = false; }) << QStringList{"powerRow"};
}

void tst_ClimateControls::rowsFollowTheModesCapabilities()
{
    QFETCH(QJsonObject, device);
    QFETCH(QStringList, rows);
    show(device);
    QCOMPARE(visibleRows(), rows);
}

void tst_ClimateControls::eachControlSendsExactlyOneChange_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QJsonValue>("newValue");

    changeRow("power off", livingRoom(), "powerSwitch", "", "on", QJsonValue(false));
    changeRow("mode", livingRoom(), "modeMenu", "Heat", "mode", QJsonValue("heat"));
    changeRow("the current mode again", livingRoom(), "modeMenu", "Cool", "mode", QJsonValue("cool"));
    changeRow("fan level by its name", livingRoom(), "fanMenu", "Med-High", "fanLevel", QJsonValue("medium_high"));
    changeRow("swing", livingRoom(), "swingMenu", "Full Range", "swing", QJsonValue("rangeFull"));
    changeRow("horizontal swing by the fallback name", livingRoom(), "horizontalSwingMenu", "Fixedleft",
              "horizontalSwing", QJsonValue("fixedLeft"));
    changeRow("light off", livingRoom(), "lightSwitch", "", "light", QJsonValue("off"));
    const QJsonObject lightAbsent = livingRoom([](QJsonObject& state, QJsonObject&) { state.remove("light"); });
    changeRow("light absent, switched on", lightAbsent, "lightSwitch", "", "light", QJsonValue("on"));
    changeRow("plus", livingRoom(), "temperatureStepper", "plus", "targetTemperature", QJsonValue(23));
    changeRow("minus", livingRoom(), "temperatureStepper", "minus", "targetTemperature", QJsonValue(21));
    const QJsonObject at29 = livingRoom([](QJsonObject& state, QJsonObject&) { state["targetTemperature"] = 29; });
    changeRow("plus up to the highest", at29, "temperatureStepper", "plus", "targetTemperature", QJsonValue(30));
}

void tst_ClimateControls::eachControlSendsExactlyOneChange()
{
    QFETCH(QJsonObject, device);
    QFETCH(QString, control);
    QFETCH(QString, choice);
    QFETCH(QString, property);
    QFETCH(QJsonValue, newValue);
    show(device);

    QSignalSpy changed(m_service.get(), &SensiboService::devicesChanged);
    act(control, choice);
    QCOMPARE(changed.count(), 1); // one change asked of the service, shown at once

    QTRY_COMPARE(m_fixture->cloud.stateChangeCount(), 1);
    QTRY_COMPARE(changed.count(), 2); // and the cloud's answer applied
    QCOMPARE(changes().size(), 1);
    QCOMPARE(changes().first().target, "/api/v2/pods/abc123/acStates/" + property.toUtf8() + "?apiKey=test-key");
    QCOMPARE(QJsonDocument::fromJson(changes().first().body), QJsonDocument(QJsonObject{{"newValue", newValue}}));
}

void tst_ClimateControls::stepperStaysInsideTheRange_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QJsonValue>("target");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("minusEnabled");
    QTest::addColumn<bool>("plusEnabled");
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("sent");

    // The fake unit's range is 16..30 °C, 61..86 °F.
    stepperRow("no target shows the lowest", "C", QJsonValue(), "16°C", false, true, "plus", 17);
    stepperRow("at the lowest", "C", QJsonValue(16), "16°C", false, true, "plus", 17);
    stepperRow("at the highest", "C", QJsonValue(30), "30°C", true, false, "minus", 29);
    stepperRow("above the range", "C", QJsonValue(35), "35°C", true, false, "minus", 34);
    stepperRow("below the range", "C", QJsonValue(10), "10°C", false, true, "plus", 11);
    stepperRow("Fahrenheit steps by one", "F", QJsonValue(75), "75°F", true, true, "plus", 76);
}

void tst_ClimateControls::stepperStaysInsideTheRange()
{
    QFETCH(QString, unit);
    QFETCH(QJsonValue, target);
    QFETCH(QString, text);
    QFETCH(bool, minusEnabled);
    QFETCH(bool, plusEnabled);
    QFETCH(QString, step);
    QFETCH(int, sent);
    show(livingRoom([&](QJsonObject& state, QJsonObject&) {
        state["temperatureUnit"] = unit;
        if (target.isUndefined()) {
            state.remove("targetTemperature");
        } else {
            state["targetTemperature"] = target;
        }
    }));

    auto* stepper = m_controls->findChild<TemperatureStepper*>("temperatureStepper");
    QCOMPARE(stepper->text(), text);
    QCOMPARE(stepper->minusButton()->isEnabled(), minusEnabled);
    QCOMPARE(stepper->plusButton()->isEnabled(), plusEnabled);

    act("temperatureStepper", step);
    QTRY_COMPARE(m_fixture->cloud.stateChangeCount(), 1);
    QCOMPARE(QJsonDocument::fromJson(changes().first().body), QJsonDocument(QJsonObject{{"newValue", sent}}));
}

void tst_ClimateControls::menusListTheOptionsByNameInOrder()
{
    show(livingRoom());
    const auto names = [this](const QString& menu) {
        QStringList texts;
        for (QAction* action : m_controls->findChild<OptionMenuButton*>(menu)->menu()->actions()) {
            texts.append(action->text());
        }
        return texts;
    };
    QCOMPARE(names("modeMenu"), (QStringList{"Cool", "Heat", "Auto", "Dry", "Fan"}));
    QCOMPARE(names("fanMenu"), (QStringList{"Quiet", "Low", "Medium", "Med-High", "High", "Auto"}));
    QCOMPARE(names("horizontalSwingMenu"), (QStringList{"Off", "Fixedleft", "Fixedcenterleft", "Fixedcenter",
                                                        "Fixedcenterright", "Fixedright", "Full Range"}));
}

void tst_ClimateControls::menusMarkTheCurrentValueAndRebuildOnlyOnChange()
{
    // 100,000 fan levels: paged, built once, and a refresh with the same list keeps the menu as it is.
    QJsonArray levels;
    for (int i = 0; i < 100'000; ++i) {
        levels.append(QStringLiteral("level%1").arg(i));
    }
    show(livingRoom([&](QJsonObject& state, QJsonObject& modes) {
        setModeCapability(modes, "cool", "fanLevels", levels);
        state["fanLevel"] = "level99999";
    }));
    auto* fan = m_controls->findChild<OptionMenuButton*>("fanMenu");
    const QList<QAction*> pages = fan->menu()->actions();
    QCOMPARE(pages.size(), 100'000 / OptionMenuButton::pageSize);
    QCOMPARE(pages.first()->text(), "Level0 – Level499");
    QList<QAction*> options;
    for (QAction* page : pages) {
        QVERIFY(page->menu() && page->menu()->isEmpty());
        Q_EMIT page->menu()->aboutToShow(); // filled as it opens
        QVERIFY(page->menu()->actions().size() <= OptionMenuButton::pageSize);
        options += page->menu()->actions();
    }
    QCOMPARE(options.size(), 100'000);
    const auto checked = [&] {
        QStringList names;
        for (QAction* option : std::as_const(options)) {
            if (option->isChecked()) {
                names.append(option->text());
            }
        }
        return names;
    };
    QCOMPARE(checked(), QStringList{"Level99999"});
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(fan->menu()->actions(), pages);
    QCOMPARE(pages.last()->menu()->actions().last(), options.last());

    // Choosing marks nothing by itself: the mark follows the state, which the service changes.
    m_fixture->cloud.setDevices({livingRoom()});
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(fan->menu()->actions().size(), 6);
    const auto marks = [&] {
        QStringList names;
        for (QAction* option : fan->menu()->actions()) {
            if (option->isChecked() || !option->isCheckable()) {
                names.append(option->text());
            }
        }
        return names;
    };
    QCOMPARE(marks(), QStringList{fan->text()});
    act("fanMenu", "Quiet");
    QCOMPARE(marks(), QStringList{"Quiet"});
    act("fanMenu", "Quiet"); // the current one again: it stays marked
    QCOMPARE(marks(), QStringList{"Quiet"});
}

void tst_ClimateControls::iconsAndNamesFollowTheState()
{
    show(livingRoom([](QJsonObject& state, QJsonObject&) {
        state.remove("mode");
        state.remove("fanLevel");
        state["swing"] = "fixedMiddleBottom";
    }));
    const QColor primary = primaryColor(m_controls->palette());
    auto* mode = m_controls->findChild<OptionMenuButton*>("modeMenu");
    QCOMPARE(mode->text(), "Cool");
    QCOMPARE(rowIcon("modeRow"), symbol("snowflake", primary));
    QVERIFY(changes().isEmpty()); // an absent mode is shown as cool, not set

    QCoro::waitFor(m_service->updateACState(ACSetting::Mode, QString("auto")));
    QCOMPARE(rowIcon("modeRow"), symbol("arrow.triangle.2.circlepath", primary));
    m_fixture->cloud.setAcStateProperty("abc123", "mode",
                                        "smart"); // set on the unit itself; the cloud refuses it from us
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(mode->text(), "Smart");
    QCOMPARE(rowIcon("modeRow"), symbol("air.conditioner.horizontal", primary));

    QCoro::waitFor(m_service->updateACState(ACSetting::Mode, QString("cool")));
    QCOMPARE(m_controls->findChild<OptionMenuButton*>("fanMenu")->text(), ""); // absent: only the chevron
    QCOMPARE(m_controls->findChild<OptionMenuButton*>("swingMenu")->text(), "Fixed Mid-Bottom");
    QCOMPARE(m_controls->findChild<OptionMenuButton*>("horizontalSwingMenu")->text(), "Off");
}

void tst_ClimateControls::switchFollowsTheStateNotTheClick()
{
    show(livingRoom());
    auto* light = m_controls->findChild<ToggleSwitch*>("lightSwitch");
    QVERIFY(light->isChecked());

    // The cloud refuses: the service shows the change, then reloads and brings the old value back.
    FakeHttpServer::Response refused;
    refused.status = 500;
    m_fixture->cloud.overrideStateChange(refused);
    const int loadsBefore = m_fixture->cloud.deviceListCount();
    act("lightSwitch", {});
    QVERIFY(!light->isChecked());
    QTRY_COMPARE(m_fixture->cloud.deviceListCount(), loadsBefore + 1);
    QTRY_VERIFY(light->isChecked());

    // A change made elsewhere moves it too.
    m_fixture->cloud.setAcStateProperty("abc123", "light", "off");
    QCoro::waitFor(m_service->fetchDevices());
    QVERIFY(!light->isChecked());
}

void tst_ClimateControls::everyControlIsNamedAndWorksFromTheKeyboard()
{
    show(livingRoom());
    const QList<std::pair<QString, QString>> controls{
        {"powerSwitch", "Power"}, {"modeMenu", "Mode"},   {"temperatureStepper", "Temp"},
        {"fanMenu", "Fan"},       {"swingMenu", "Swing"}, {"horizontalSwingMenu", "H. Swing"},
        {"lightSwitch", "Light"},
    };
    for (const auto& [name, label] : controls) {
        auto* control = m_controls->findChild<QWidget*>(name);
        QCOMPARE(control->accessibleName(), label);
        // The stepper is one stop for the keyboard, its buttons none.
        QVERIFY2(control->focusPolicy() & Qt::TabFocus, qPrintable(name));
    }
    auto* stepper = m_controls->findChild<TemperatureStepper*>("temperatureStepper");
    QVERIFY(!(stepper->minusButton()->focusPolicy() & Qt::TabFocus));

    auto* power = m_controls->findChild<ToggleSwitch*>("powerSwitch");
    QTest::keyClick(power, Qt::Key_Space);
    QTRY_COMPARE(m_fixture->cloud.stateChangeCount(), 1);
    QCOMPARE(QJsonDocument::fromJson(changes().first().body), QJsonDocument(QJsonObject{{"newValue", false}}));

    QCoro::waitFor(m_service->updateACState(ACSetting::Power, true));
    auto* mode = m_controls->findChild<OptionMenuButton*>("modeMenu");
    QTest::keyClick(mode, Qt::Key_Return);
    QTRY_VERIFY(mode->menu()->isVisible());
    mode->menu()->close();
}

// A 1 h timer shows at once with its time, counts down with the clock, is cancelled with its button, and one the
// cloud refuses is put back with the footer's message.
void tst_ClimateControls::timerRowSetsCountsDownCancelsAndPutsBackARefusal()
{
    QDateTime now(QDate(2026, 12, 8), QTime(22, 18), QTimeZone::utc());
    m_service->features().setClock([&now] { return now; });
    show(livingRoom());
    auto* text = m_controls->findChild<QLabel*>("timerText");
    auto* menu = m_controls->findChild<OptionMenuButton*>("timerMenu");
    auto* cancel = m_controls->findChild<QToolButton*>("cancelTimerButton");
    QVERIFY(m_controls->findChild<QWidget*>("timerRow")->isVisible());
    QCOMPARE(text->text(), "Timer");
    QCOMPARE(menu->text(), "Off in…");
    QVERIFY(!cancel->isVisible());

    m_controls->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_controls.get()));
    menu->setFocus();
    act("timerMenu", "1 h");
    QVERIFY(cancel->hasFocus()); // the keyboard stays in the row
    const QDateTime due = now.addSecs(3600);
    const QString shown = "Turns off at " + clockText(due) + ", in 1 h";
    QCOMPARE(text->text(), shown); // at once, before the cloud answers
    QVERIFY(cancel->isVisible() && !menu->isVisible());
    QTRY_COMPARE(m_fixture->cloud.requests().size(), 2); // the timer, then its details as the cloud has them
    QCOMPARE(m_fixture->cloud.requests().first().method, "PUT");
    QCOMPARE(m_fixture->cloud.requests().last().target.split('?').first(), "/api/v2/pods/abc123");
    QTRY_VERIFY(m_service->features().timer()->due != due); // the cloud's own time, a second or so off ours
    QCOMPARE(text->text(), shown);

    now = now.addSecs(30 * 60 + 5); // the cloud's wait was counted from its answer, a moment after `due`'s start
    Q_EMIT m_service->features().extrasChanged();
    QVERIFY2(text->text().endsWith(", in 30 min"), qPrintable(text->text()));

    m_fixture->cloud.clearRequests();
    QTest::keyClick(cancel, Qt::Key_Space);
    QCOMPARE(text->text(), "Timer");
    QVERIFY(menu->isVisible() && menu->hasFocus());
    QTRY_COMPARE(m_fixture->cloud.requests().size(), 2);
    QCOMPARE(m_fixture->cloud.requests().first().method, "DELETE");
    QCOMPARE(m_fixture->cloud.device("abc123")["timer"], QJsonValue(QJsonValue::Null));

    FakeHttpServer::Response refusal;
    refusal.status = 500;
    m_fixture->cloud.overrideEndpoint(FakeSensiboCloud::Endpoint::Timer, refusal, 1);
    act("timerMenu", "2 h");
    QVERIFY(text->text().endsWith(", in 2 h"));
    QTRY_COMPARE(text->text(), "Timer");
    QCOMPARE(m_service->errorMessage(), std::optional<QString>("Failed to set the timer"));
}

QTEST_MAIN(tst_ClimateControls)
#include "tst_ClimateControls.moc"
