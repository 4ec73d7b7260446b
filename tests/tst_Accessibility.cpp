#include "app/PanelWindow.h"
#include "app/SettingsView.h"
#include "panel/MenuBarView.h"
#include "platform/LoginItem.h"
#include "tests/support/CloudFixture.h"
#include "ui/OptionMenuButton.h"
#include "ui/PanelStyle.h"
#include "ui/SettingsSection.h"
#include "ui/TemperatureStepper.h"
#include "updates/UpdateService.h"

#include <QAccessible>
#include <QApplication>
#include <QCoroTask>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {
// What assistive technology reads of one element.
struct Node {
    QAccessible::Role role;
    QString name;
    QString value;
    QAccessible::State state;
    QObject* object;
};

void collect(QAccessibleInterface* iface, QList<Node>& nodes)
{
    const QAccessible::State state = iface->state();
    if (state.invisible) {
        return;
    }
    nodes.append(
        {iface->role(), iface->text(QAccessible::Name), iface->text(QAccessible::Value), state, iface->object()});
    for (int i = 0; i < iface->childCount(); ++i) {
        if (QAccessibleInterface* child = iface->child(i)) {
            QCOMPARE(child->parent()->object(), iface->object()); // the tree reads the same both ways
            collect(child, nodes);
        }
    }
}

} // namespace

class tst_Accessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void everyControlIsNamedWithItsRoleAndValue_data();
    void everyControlIsNamedWithItsRoleAndValue();
    void stepperAndMenusChangeFromTheAccessibilityLayer();
    void textsAndFocusRingsStandOutInLightAndDark_data();
    void textsAndFocusRingsStandOutInLightAndDark();

private:
    QWidget* open(const QString& window);

    std::unique_ptr<CloudFixture> m_fixture;
    std::unique_ptr<SensiboService> m_service;
    std::unique_ptr<UpdateService> m_updater;
    std::unique_ptr<PanelWindow> m_panel;
    std::unique_ptr<SettingsView> m_settings;
};

void tst_Accessibility::init()
{
    m_fixture = std::make_unique<CloudFixture>();
    QVERIFY(m_fixture->listening);
    m_service = m_fixture->makeService();
    UpdateServiceHooks hooks;
    hooks.log = [](const QString&) {};
    hooks.openUrl = [](const QUrl&) {};
    m_updater = std::make_unique<UpdateService>(m_fixture->preferences, &m_fixture->network,
                                                QUrl("https://kelvo.invalid"), hooks);
    m_service->setApiKey("test-key");
    QCoro::waitFor(m_service->fetchDevices());
}

void tst_Accessibility::cleanup()
{
    m_panel.reset();
    m_settings.reset();
    m_updater.reset();
    m_service.reset();
    m_fixture.reset();
}

QWidget* tst_Accessibility::open(const QString& window)
{
    if (window == u"panel") {
        m_panel =
            std::make_unique<PanelWindow>(new MenuBarView(*m_service, *m_updater, [] {}), PanelWindow::Kind::Popup);
        m_panel->openNear(QRect(700, 0, 24, 24));
        // The room's last day comes after the devices, when the panel shows one.
        const auto ready = [this] {
            const QWidget* chart = m_panel->findChild<QWidget*>("historyChart");
            return !m_service->isLoading() && chart && chart->isVisible();
        };
        return QTest::qWaitFor(ready, 10000) ? m_panel.get() : nullptr;
    }
    m_settings = std::make_unique<SettingsView>(*m_service, *m_updater, m_fixture->preferences, nullptr,
                                                SettingsView::About{"Ada Maker", QUrl("https://maker.example"), {}, {}},
                                                [](const QUrl&) {});
    m_settings->show();
    return m_settings.get();
}

void tst_Accessibility::everyControlIsNamedWithItsRoleAndValue_data()
{
    // Elements that must be there: role, name, value (a pattern; empty: none expected).
    QTest::addColumn<QString>("window");
    QTest::addColumn<QList<std::tuple<QAccessible::Role, QString, QString>>>("expected");
    QTest::newRow("panel") << "panel"
                           << QList<std::tuple<QAccessible::Role, QString, QString>>{
                                  {QAccessible::Window, "Kelvo", ""},
                                  {QAccessible::ComboBox, ".", "^Living Room$"}, // named by its text on Linux
                                  {QAccessible::StaticText, "^Room temperature \\d+°C$", ""},
                                  {QAccessible::StaticText, "^Humidity \\d+%$", ""},
                                  {QAccessible::StaticText, "^Online$", ""},
                                  {QAccessible::Chart, "^Room temperature, last 24 hours: \\d+ to \\d+°C, now \\d+°C$",
                                   ""},
                                  {QAccessible::CheckBox, "^Power$", ""},
                                  {QAccessible::ComboBox, "^Timer$", "^Off in…$"},
                                  {QAccessible::ComboBox, "^Mode$", "^Cool$"},
                                  {QAccessible::SpinBox, "^Temp$", "^22°C$"},
                                  {QAccessible::ComboBox, "^Fan$", "."},
                                  {QAccessible::Button, "^Refresh$", ""},
                              };
    QTest::newRow("settings") << "settings"
                              << QList<std::tuple<QAccessible::Role, QString, QString>>{
                                     {QAccessible::Dialog, "^Kelvo Settings$", ""},
                                     {QAccessible::Heading, "^Sensibo API$", ""},
                                     {QAccessible::EditableText, "^API Key$", "^test-key$"},
                                     {QAccessible::Link, "^Open Sensibo API Settings$", ""},
                                     {QAccessible::Button, "^Save & Connect$", ""},
                                     {QAccessible::Notification, "^2 devices found$", ""},
                                     {QAccessible::Heading, "^Updates$", ""},
                                     {QAccessible::CheckBox, "^Launch automatically at login$", ""},
                                     {QAccessible::Link, "^Ada Maker$", ""},
                                 };
}

void tst_Accessibility::everyControlIsNamedWithItsRoleAndValue()
{
    QFETCH(QString, window);
    using Expected = QList<std::tuple<QAccessible::Role, QString, QString>>;
    QFETCH(Expected, expected);
    QWidget* top = open(window);
    QVERIFY(top);
    QList<Node> nodes;
    collect(QAccessible::queryAccessibleInterface(top), nodes);
    QVERIFY(!QTest::currentTestFailed());

    for (const Node& node : std::as_const(nodes)) {
        const QString where =
            QStringLiteral("%1 (%2)").arg(node.object->objectName(), node.object->metaObject()->className());
        if (node.state.focusable) {
            QVERIFY2(!node.name.isEmpty(), qPrintable("unnamed focusable element " + where));
            QVERIFY2(node.role != QAccessible::Client && node.role != QAccessible::NoRole, qPrintable(where));
        }
        if (node.role == QAccessible::Graphic) {
            QVERIFY2(!node.name.isEmpty(), qPrintable("a symbol without a meaning is read: " + where));
        }
        if (node.state.checkable) {
            QVERIFY(node.role == QAccessible::CheckBox || node.role == QAccessible::Button);
        }
    }
    for (const auto& [role, name, value] : expected) {
        const bool found = std::any_of(nodes.cbegin(), nodes.cend(), [&](const Node& node) {
            return node.role == role && QRegularExpression(name).match(node.name).hasMatch() &&
                   (value.isEmpty() || QRegularExpression(value).match(node.value).hasMatch());
        });
        QVERIFY2(found, qPrintable(QStringLiteral("no element %1 named %2 with value %3").arg(role).arg(name, value)));
    }
    const auto power = std::find_if(nodes.cbegin(), nodes.cend(), [](const Node& node) {
        return node.role == QAccessible::CheckBox && node.name == u"Power";
    });
    QVERIFY(window != u"panel" || (power != nodes.cend() && power->state.checked));
}

void tst_Accessibility::stepperAndMenusChangeFromTheAccessibilityLayer()
{
    open("panel");
    auto* stepper = m_panel->findChild<TemperatureStepper*>("temperatureStepper");
    QAccessibleValueInterface* value = QAccessible::queryAccessibleInterface(stepper)->valueInterface();
    QVERIFY(value);
    QCOMPARE(value->minimumValue().toInt(), 16);
    QCOMPARE(value->maximumValue().toInt(), 30);
    QCOMPARE(value->minimumStepSize().toInt(), 1);
    QTest::keyClick(stepper, Qt::Key_Up);
    QTRY_COMPARE(value->currentValue().toInt(), 23);
    QTest::keyClick(stepper, Qt::Key_Minus);
    QTRY_COMPARE(value->currentValue().toInt(), 22);
    value->setCurrentValue(40); // a screen reader's slider: kept inside the range
    QTRY_COMPARE(value->currentValue().toInt(), 30);

    auto* mode = m_panel->findChild<OptionMenuButton*>("modeMenu");
    QVERIFY(QAccessible::queryAccessibleInterface(mode)->state().hasPopup);
    mode->menu()->actions().at(1)->trigger();
    QTRY_COMPARE(QAccessible::queryAccessibleInterface(mode)->text(QAccessible::Value), "Heat");
}

void tst_Accessibility::textsAndFocusRingsStandOutInLightAndDark_data()
{
    QTest::addColumn<QColor>("window");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("highlight");
    QTest::newRow("light") << QColor(0xef, 0xef, 0xef) << QColor(Qt::black) << QColor(0x30, 0x8c, 0xc6);
    QTest::newRow("white with a pale highlight")
        << QColor(Qt::white) << QColor(0x20, 0x20, 0x20) << QColor(0xa0, 0xc8, 0xf0);
    QTest::newRow("dark") << QColor(0x35, 0x35, 0x35) << QColor(Qt::white) << QColor(0x2a, 0x82, 0xda);
    QTest::newRow("dark with a dark highlight")
        << QColor(0x20, 0x20, 0x20) << QColor(0xdd, 0xdd, 0xdd) << QColor(0x1d, 0x3b, 0x5c);
}

void tst_Accessibility::textsAndFocusRingsStandOutInLightAndDark()
{
    QFETCH(QColor, window);
    QFETCH(QColor, text);
    QFETCH(QColor, highlight);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Highlight, highlight);
    QVERIFY(contrastRatio(focusRingColor(palette), window) >= 3);
    for (const QColor& color :
         {secondaryColor(palette), systemGreen(palette), systemRed(palette), systemBlue(palette)}) {
        QVERIFY2(contrastRatio(color, window) >= 4.5, qPrintable(color.name()));
    }

    // The settings window's texts, on the window (footer) and on the sections' cards.
    open("settings");
    m_settings->setPalette(palette);
    const QColor card = SettingsSection::cardColor(palette);
    for (const auto& [name, background] : {std::pair{"version", window}, std::pair{"attribution", window},
                                           std::pair{"devicesText", card}, std::pair{"lastChecked", card}}) {
        const QColor color = m_settings->findChild<QWidget*>(name)->palette().color(QPalette::WindowText);
        QVERIFY2(contrastRatio(color, background) >= 4.5, name);
    }
}

QTEST_MAIN(tst_Accessibility)
#include "tst_Accessibility.moc"
