#include "app/PanelWindow.h"
#include "app/SettingsView.h"
#include "app/UpdateAlertView.h"
#include "panel/MenuBarView.h"
#include "platform/LoginItem.h"
#include "tests/support/CloudFixture.h"
#include "ui/Announcer.h"
#include "ui/FocusRingStyle.h"
#include "ui/LinkedTextLabel.h"
#include "ui/OptionMenuButton.h"
#include "ui/PanelStyle.h"
#include "ui/SettingsSection.h"
#include "ui/TemperatureStepper.h"
#include "updates/RichText.h"
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

FakeHttpServer::Response failure(int status)
{
    FakeHttpServer::Response response;
    response.status = status;
    return response;
}

QPalette themed(const QColor& window, const QColor& text, const QColor& highlight)
{
    QPalette palette;
    for (const auto role : {QPalette::Window, QPalette::Button, QPalette::Base}) {
        palette.setColor(role, window);
    }
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
        palette.setColor(role, text);
    }
    palette.setColor(QPalette::Highlight, highlight);
    return palette;
}

// The colour that stands out most from `background` in `image` (within `area`, when given): a text's ink.
QColor inkOn(const QImage& image, const QColor& background, QRect area = {})
{
    area = area.isNull() ? image.rect() : area & image.rect();
    QColor ink = background;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (contrastRatio(image.pixelColor(x, y), background) > contrastRatio(ink, background)) {
                ink = image.pixelColor(x, y);
            }
        }
    }
    return ink;
}
} // namespace

class tst_Accessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void everyControlIsNamedWithItsRoleAndValue_data();
    void everyControlIsNamedWithItsRoleAndValue();
    void stepperAndMenusChangeFromTheAccessibilityLayer();
    void textsAndFocusRingsStandOutInLightAndDark_data();
    void textsAndFocusRingsStandOutInLightAndDark();
    void outcomesAreSaidOnceWhenTheyChangeAndOnlyFromAShownWindow();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void optionMenuOpensOnTheCurrentValue();
    void renderedFocusRingsStandOutFromTheControlAndTheWindow_data();
    void renderedFocusRingsStandOutFromTheControlAndTheWindow();

private:
    QWidget* open(const QString& window);

    std::unique_ptr<CloudFixture> m_fixture;
    std::unique_ptr<SensiboService> m_service;
    std::unique_ptr<UpdateService> m_updater;
    std::unique_ptr<PanelWindow> m_panel;
    std::unique_ptr<SettingsView> m_settings;
    std::unique_ptr<UpdateAlertView> m_alert;
    int m_settingsOpened = 0;
    QList<QUrl> m_opened;
};

void tst_Accessibility::initTestCase()
{
    QApplication::setStyle(new FocusRingStyle); // as Kelvo runs
}

void tst_Accessibility::init()
{
    m_fixture = std::make_unique<CloudFixture>();
    QVERIFY(m_fixture->listening);
    m_service = m_fixture->makeService();
    UpdateServiceHooks hooks;
    hooks.log = [](const QString&) {};
    hooks.openUrl = [this](const QUrl& url) { m_opened.append(url); };
    m_updater = std::make_unique<UpdateService>(m_fixture->preferences, &m_fixture->network,
                                                QUrl("https://kelvo.invalid"), hooks);
    m_service->setApiKey("test-key");
    QCoro::waitFor(m_service->fetchDevices());
    m_settingsOpened = 0;
    m_opened.clear();
}

void tst_Accessibility::cleanup()
{
    m_panel.reset();
    m_settings.reset();
    m_alert.reset();
    m_updater.reset();
    m_service.reset();
    m_fixture.reset();
}

QWidget* tst_Accessibility::open(const QString& window)
{
    if (window == u"panel") {
        auto* view = new MenuBarView(*m_service, *m_updater, [this] { ++m_settingsOpened; });
        view->setOpenedFromKeyboard(true);
        m_panel = std::make_unique<PanelWindow>(view, PanelWindow::Kind::Popup);
        m_panel->openNear(QRect(700, 0, 24, 24));
        // The room's last day comes after the devices, when the panel shows one.
        const auto ready = [this] {
            const QWidget* chart = m_panel->findChild<QWidget*>("historyChart");
            return !m_service->isLoading() && chart && chart->isVisible();
        };
        return QTest::qWaitFor(ready, 10000) ? m_panel.get() : nullptr;
    }
    if (window == u"alert") {
        m_updater->setUpdateText(richTextFromMarkdown("Kelvo 2 is out: [the notes](https://kelvo.example/notes)."));
        m_alert = std::make_unique<UpdateAlertView>(*m_updater);
        m_alert->show();
        return m_alert.get();
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
                                     {QAccessible::StaticText, "^2 devices found$", ""},
                                     {QAccessible::Heading, "^Updates$", ""},
                                     {QAccessible::CheckBox, "^Launch automatically at login$", ""},
                                     {QAccessible::Link, "^Ada Maker$", ""},
                                 };
    QTest::newRow("update alert") << "alert"
                                  << QList<std::tuple<QAccessible::Role, QString, QString>>{
                                         {QAccessible::Dialog, "^Update Available$", ""},
                                         {QAccessible::StaticText, "^Kelvo 2 is out: the notes\\.$", ""},
                                         {QAccessible::Link, "^the notes$", ""}, // a link inside the text
                                         {QAccessible::Button, "^Download$", ""},
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
        const QString where = node.object ? QStringLiteral("%1 (%2)").arg(node.object->objectName(),
                                                                          node.object->metaObject()->className())
                                          : node.name;
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

    // Texts whose colour is worked out as they are drawn, read off the screen: the link on its card, the update
    // line's Download on its tint, a link in the notice.
    const QColor apiLink = inkOn(m_settings->findChild<QWidget*>("apiSettingsLink")->grab().toImage(), card);
    QVERIFY2(contrastRatio(apiLink, card) >= 4.5, qPrintable(apiLink.name()));
    m_updater->setUpdateText(richTextFromMarkdown("Kelvo 2 is out: [the notes](https://kelvo.example/notes)."));
    open("panel");
    m_panel->setPalette(palette);
    const QColor tint = m_panel->findChild<QWidget*>("updateLine")->palette().color(QPalette::Window);
    const QColor download = inkOn(m_panel->findChild<QWidget*>("downloadButton")->grab().toImage(), tint);
    QVERIFY2(contrastRatio(download, tint) >= 4.5, qPrintable(download.name() + " on " + tint.name()));
    UpdateAlertView alert(*m_updater);
    alert.setPalette(palette);
    alert.show();
    auto* notice = alert.findChild<LinkedTextLabel*>("notice");
    QCOMPARE(notice->links().size(), 1);
    const QColor link = inkOn(notice->grab().toImage(), window, notice->linkRect(0));
    QVERIFY2(contrastRatio(link, window) >= 4.5, qPrintable(link.name()));
}

void tst_Accessibility::outcomesAreSaidOnceWhenTheyChangeAndOnlyFromAShownWindow()
{
    QStringList spoken; // what the windows told a screen reader
    for (QWidget* window : {open("settings"), open("panel")}) {
        for (Announcer* announcer : window->findChildren<Announcer*>()) {
            connect(announcer, &Announcer::announced, this, [&spoken](const QString& text) { spoken.append(text); });
        }
    }
    QVERIFY(spoken.isEmpty()); // "2 devices found" was known before the windows opened
    const auto load = [this](std::optional<int> status, int times = 1) {
        for (int i = 0; i < times; ++i) {
            if (status) {
                m_fixture->cloud.overrideDeviceList(failure(*status), 1);
            }
            QCoro::waitFor(m_service->fetchDevices());
        }
    };
    load(std::nullopt, 3); // the refresh loop finding the same devices
    load(500, 2);          // the panel's footer says it once
    QCOMPARE(spoken, QStringList{"Server error (500)"});
    m_panel->hide();
    load(401); // said by no window: the panel is closed and the settings still show the devices
    QCOMPARE(spoken.size(), 1);

    m_fixture->cloud.setDevices({});
    load(std::nullopt);
    load(401, 3); // the cloud is down: once, not on every refresh
    QCOMPARE(spoken, (QStringList{"Server error (500)", "Invalid API key"}));
    // Save & Connect loads twice (the load and the restarted refresh): its answer is said once, even unchanged.
    m_fixture->cloud.overrideDeviceList(failure(401), 2);
    m_fixture->cloud.clearRequests();
    QTest::mouseClick(m_settings->findChild<QPushButton*>("saveButton"), Qt::LeftButton);
    QTRY_VERIFY(m_fixture->cloud.requests().size() == 2 && !m_service->isLoading());
    QCOMPARE(spoken, (QStringList{"Server error (500)", "Invalid API key", "Invalid API key"}));

    // A closed window says nothing, not even when it opens again.
    m_settings->close();
    load(500);
    m_settings->show();
    load(500);
    QCOMPARE(spoken.size(), 3);
    // The panel without devices says a new outcome once, not again from its hidden device view.
    m_settings->close();
    m_panel->show();
    load(401);
    QCOMPARE(spoken.size(), 4);
}

void tst_Accessibility::enterPressesTheFocusedButton_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("effect"); // "settings", "request" or "download"
    QTest::newRow("Open Settings... (no key)") << "openSettingsButton"
                                               << "settings";
    QTest::newRow("Refresh") << "refreshButton"
                             << "request";
    QTest::newRow("Settings") << "settingsButton"
                              << "settings";
    QTest::newRow("Power") << "powerSwitch"
                           << "request";
    QTest::newRow("Download") << "downloadButton"
                              << "download";
}

void tst_Accessibility::enterPressesTheFocusedButton()
{
    QFETCH(QString, button);
    QFETCH(QString, effect);
    if (button == u"openSettingsButton") {
        m_service->setApiKey("");
    }
    m_updater->setUpdateText(RichText{"<p>Kelvo 2 is out.</p>"});
    open("panel");
    auto* target = m_panel->findChild<QWidget*>(button);
    target->setFocus(Qt::TabFocusReason);
    m_fixture->cloud.clearRequests();
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(m_settingsOpened, effect == u"settings" ? 1 : 0);
    QCOMPARE(m_opened.size(), effect == u"download" ? 1 : 0);
    QTRY_COMPARE(m_fixture->cloud.requests().isEmpty(), effect != u"request");
}

void tst_Accessibility::optionMenuOpensOnTheCurrentValue()
{
    open("panel");
    auto* fan = m_panel->findChild<OptionMenuButton*>("fanMenu"); // "Auto", the last of its list
    fan->setFocus(Qt::TabFocusReason);
    QTest::keyClick(fan, Qt::Key_Down);
    QTRY_VERIFY(fan->menu()->isVisible());
    QCOMPARE(fan->menu()->activeAction()->text(), "Auto"); // which Qt then tells assistive technology has the focus
    QTest::keyClick(fan->menu(), Qt::Key_Up);              // on from the current value, not from either end
    QCOMPARE(fan->menu()->activeAction()->text(), "High");
    fan->menu()->close();
}

void tst_Accessibility::renderedFocusRingsStandOutFromTheControlAndTheWindow_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("device"); // Living Room is on, Bedroom off
    QTest::addColumn<int>("fillStart");  // the first column of the control's fill, at mid-height
    for (const auto& [theme, palette] :
         {std::pair{"light", themed(QColor(0xef, 0xef, 0xef), Qt::black, QColor(0x30, 0x8c, 0xc6))},
          std::pair{"dark", themed(QColor(0x31, 0x36, 0x3b), QColor(0xef, 0xf0, 0xf1), QColor(0x3d, 0xae, 0xe9))}}) {
        QTest::addRow("%s, picker, focused as the panel opens from the keyboard", theme) << palette << "devicePicker"
                                                                                         << "abc123" << 2;
        QTest::addRow("%s, option box", theme) << palette << "modeMenu"
                                               << "abc123" << 2;
        QTest::addRow("%s, switch on", theme) << palette << "powerSwitch"
                                              << "abc123" << 3;
        QTest::addRow("%s, switch off", theme) << palette << "powerSwitch"
                                               << "def456" << 3;
    }
}

void tst_Accessibility::renderedFocusRingsStandOutFromTheControlAndTheWindow()
{
    QFETCH(QPalette, palette);
    QFETCH(QString, control);
    QFETCH(QString, device);
    QFETCH(int, fillStart);
    m_service->setSelectedDeviceId(device);
    open("panel");
    m_panel->setPalette(palette);
    auto* widget = m_panel->findChild<QWidget*>(control);
    if (control != u"devicePicker") {
        widget->setFocus(Qt::OtherFocusReason);
    }
    QVERIFY(widget->hasFocus());
    const QImage shot = widget->grab().toImage();
    const int middle = shot.height() / 2;
    const QColor window = palette.color(QPalette::Window);
    const QColor ring = shot.pixelColor(1, middle);
    const QColor fill = shot.pixelColor(control == u"powerSwitch" ? shot.width() / 2 : fillStart + 2,
                                        control == u"powerSwitch" ? (shot.height() - 18) / 2 + 1 : middle);
    const QString colours = ring.name() + " on " + window.name() + ", next to " +
                            shot.pixelColor(fillStart - 1, middle).name() + " on the fill " + fill.name();
    QVERIFY2(contrastRatio(ring, window) >= 3, qPrintable(colours));
    QVERIFY2(contrastRatio(shot.pixelColor(fillStart - 1, middle), fill) >= 3, qPrintable(colours));
    if (control == u"powerSwitch") { // the track stands out from the window too, off as well as on
        QVERIFY2(contrastRatio(fill, window) >= 3, qPrintable(colours));
    }
}

QTEST_MAIN(tst_Accessibility)
#include "tst_Accessibility.moc"
