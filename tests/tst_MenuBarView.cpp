#include "panel/ClimateControls.h"
#include "panel/DevicePicker.h"
#include "panel/MenuBarView.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tests/support/CloudFixture.h"
#include "tests/support/FakeSensiboCloud.h"
#include "ui/ElidedLabel.h"
#include "ui/OptionMenuButton.h"
#include "ui/PanelStyle.h"
#include "updates/UpdateService.h"

#include <QComboBox>
#include <QCoroTask>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
FakeHttpServer::Response failure(int status)
{
    FakeHttpServer::Response response;
    response.status = status;
    return response;
}

QJsonObject withoutKey(QJsonObject object, const QString& key)
{
    object.remove(key);
    return object;
}

// Texts of the readings; an empty one is not shown.
void readingsRow(const char* tag, const QJsonObject& device, const QString& temperature, const QString& humidity,
                 const QString& status)
{
    QTest::newRow(tag) << device << temperature << humidity << status;
}
} // namespace

class tst_MenuBarView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void noKeyStateWinsWhileLoadingAndWithDevicesHeld();
    void loadingStateOnlyWhileThereAreNoDevices();
    void errorOrNoDevices();
    void oneDeviceShowsItsNameAsTitle();
    void pickerListsTheDevicesInOrderAndSelects();
    void readings_data();
    void readings();
    void updateLineBelongsToTheDeviceView();
    void failedRefreshKeepsTheDevicesAndShowsTheMessageInTheFooter();
    void buttonsCallTheServiceAndTheSettings();
    void appearingStartsTheFirstLoad();
    void escapeClosesThePanel();
    void heightFollowsTheContent();
    void largerFontsAndLowScreensCutNothing_data();
    void largerFontsAndLowScreensCutNothing();
    void roomsLastDayShowsOnlyOnceItCame();
    void tabFollowsTheScreenAndABorderFramesThePanel();

private:
    void createView();
    void load(const QJsonArray& devices);
    template <typename T = QWidget> T* find(const QString& name) const;
    bool shows(const QString& name) const;
    QString visibleState() const;
    int deviceListRequests() const;

    std::unique_ptr<CloudFixture> m_fixture;
    std::unique_ptr<SensiboService> m_service;
    std::unique_ptr<UpdateService> m_updater;
    QList<QUrl> m_opened;
    int m_settingsOpened = 0;
    // Holds the panel as the application's popup does: sized by the panel.
    std::unique_ptr<QWidget> m_window;
    MenuBarView* m_view = nullptr;
};

void tst_MenuBarView::init()
{
    m_fixture = std::make_unique<CloudFixture>();
    QVERIFY(m_fixture->listening);
    m_service = m_fixture->makeService();
    UpdateServiceHooks hooks;
    hooks.log = [](const QString&) {};
    hooks.openUrl = [this](const QUrl& url) { m_opened.append(url); };
    m_updater = std::make_unique<UpdateService>(m_fixture->preferences, &m_fixture->network,
                                                QUrl("https://kelvo.invalid"), hooks);
    m_opened.clear();
    m_settingsOpened = 0;
}

void tst_MenuBarView::cleanup()
{
    m_window.reset();
    m_view = nullptr;
    m_updater.reset();
    m_service.reset();
    m_fixture.reset();
}

void tst_MenuBarView::createView()
{
    m_window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_view = new MenuBarView(*m_service, *m_updater, [this] { ++m_settingsOpened; });
    layout->addWidget(m_view);
}

// The account holds `devices`; the key is set and one load has ended; the panel is open.
void tst_MenuBarView::load(const QJsonArray& devices)
{
    m_fixture->cloud.setDevices(devices);
    m_service->setApiKey("test-key");
    QCoro::waitFor(m_service->fetchDevices());
    createView();
    m_window->show();
    // The appearance started the first load and the periodic refresh, which loads at once: let both end.
    QCoro::waitFor(m_service->initialLoad());
    QTRY_VERIFY(!m_service->isLoading());
    QTRY_VERIFY(m_service->features().history()); // the room's last day, asked for as the panel showed the device
    m_fixture->cloud.clearRequests();
}

template <typename T> T* tst_MenuBarView::find(const QString& name) const
{
    return m_view->findChild<T*>(name);
}

bool tst_MenuBarView::shows(const QString& name) const
{
    return find(name)->isVisibleTo(m_view);
}

QString tst_MenuBarView::visibleState() const
{
    QStringList states;
    for (const char* state : {"noKeyState", "loadingState", "messageState", "deviceView"}) {
        if (shows(state)) {
            states.append(state);
        }
    }
    return states.join(',');
}

int tst_MenuBarView::deviceListRequests() const
{
    return int(std::count_if(m_fixture->cloud.requests().cbegin(), m_fixture->cloud.requests().cend(),
                             [](const auto& request) { return request.target.startsWith("/api/v2/users/me/pods"); }));
}

void tst_MenuBarView::noKeyStateWinsWhileLoadingAndWithDevicesHeld()
{
    createView();
    QCOMPARE(visibleState(), "noKeyState");
    QCOMPARE(find<QLabel>("noKeyTitle")->text(), "No API Key Configured");
    QCOMPARE(find<QLabel>("noKeyText")->text(), "Open Settings to enter your Sensibo API key.");
    QCOMPARE(find<QPushButton>("openSettingsButton")->text(), "Open Settings...");

    // Devices held, then the key cleared in the settings.
    m_service->setApiKey("test-key");
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(visibleState(), "deviceView");
    m_service->setApiKey("");
    QCOMPARE(visibleState(), "noKeyState");

    // A load under way, then the key cleared.
    m_service->setApiKey("test-key");
    m_fixture->cloud.setDelayMs(300);
    QSignalSpy loading(m_service.get(), &SensiboService::isLoadingChanged);
    m_service->fetchDevices();
    QVERIFY(m_service->isLoading());
    m_service->setApiKey("");
    QCOMPARE(visibleState(), "noKeyState");
    QTRY_VERIFY(!m_service->isLoading());
}

void tst_MenuBarView::loadingStateOnlyWhileThereAreNoDevices()
{
    m_service->setApiKey("test-key");
    m_fixture->cloud.setDelayMs(200);
    createView();
    m_service->fetchDevices();
    QCOMPARE(visibleState(), "loadingState");
    QVERIFY(shows("spinner"));
    QCOMPARE(find<QLabel>("loadingText")->text(), "Loading devices...");

    QTRY_VERIFY(!m_service->isLoading());
    QCOMPARE(visibleState(), "deviceView");
    // A later load keeps the list on screen.
    m_service->fetchDevices();
    QVERIFY(m_service->isLoading());
    QCOMPARE(visibleState(), "deviceView");
    QTRY_VERIFY(!m_service->isLoading());
}

void tst_MenuBarView::errorOrNoDevices()
{
    m_service->setApiKey("test-key");
    m_fixture->cloud.overrideDeviceList(failure(401), 1);
    createView();
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(visibleState(), "messageState");
    QVERIFY(shows("errorText"));
    QVERIFY(!shows("noDevicesText"));
    auto* message = find<QLabel>("errorText");
    QCOMPARE(message->text(), "Invalid API key");
    QCOMPARE(message->palette().color(QPalette::WindowText), systemRed(m_view->palette()));
    QVERIFY(!shows("updateLine"));

    m_fixture->cloud.setDevices({});
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(visibleState(), "messageState");
    QVERIFY(!shows("errorText"));
    QVERIFY(shows("noDevicesText"));
    QCOMPARE(find<QLabel>("noDevicesText")->text(), "No devices found");
    QCOMPARE(find<QPushButton>("retryButton")->text(), "Retry");
    QCOMPARE(find<QPushButton>("messageSettingsButton")->text(), "Settings...");
}

void tst_MenuBarView::oneDeviceShowsItsNameAsTitle()
{
    load({FakeSensiboCloud::makeDevice("abc123", "Living Room")});
    QVERIFY(shows("deviceTitle"));
    QVERIFY(!shows("devicePicker"));
    QCOMPARE(find<ElidedLabel>("deviceTitle")->text(), "Living Room");

    // Nothing selected: no title.
    m_service->setSelectedDeviceId(std::nullopt);
    QVERIFY(!shows("deviceTitle"));
    QVERIFY(!shows("readings"));
}

void tst_MenuBarView::pickerListsTheDevicesInOrderAndSelects()
{
    load({FakeSensiboCloud::makeDevice("abc123", "Living Room", true, "cool", 22, "C", 23.4),
          withoutKey(FakeSensiboCloud::makeDevice("ghi789", "", true, "cool", 22, "C", 19.6), "room"),
          FakeSensiboCloud::makeDevice("def456", "Bedroom", true, "cool", 22, "C", 25.0)});
    QVERIFY(!shows("deviceTitle"));
    QVERIFY(shows("devicePicker"));
    auto* picker = find<QComboBox>("devicePicker");
    QCOMPARE(picker->accessibleName(), "Device");
    QStringList items;
    for (int i = 0; i < picker->count(); ++i) {
        items.append(picker->itemText(i));
    }
    QCOMPARE(items, (QStringList{"Living Room", "ghi789", "Bedroom"}));
    QCOMPARE(picker->currentIndex(), 0);
    QCOMPARE(find<QLabel>("temperatureReadingText")->text(), "23°C");

    // The user picks the last one from the keyboard: the selection and the readings change, nothing is sent.
    picker->setFocus();
    QTest::keyClick(picker, Qt::Key_End);
    QCOMPARE(m_service->selectedDeviceId(), std::optional<QString>("def456"));
    QCOMPARE(picker->currentIndex(), 2);
    QCOMPARE(find<QLabel>("temperatureReadingText")->text(), "25°C");
    QVERIFY(m_fixture->cloud.requests().isEmpty());

    // A long name is cut with an ellipsis, as the single device's title is. The list is replaced only when it
    // changes, in a model of its own.
    const QAbstractItemModel* list = picker->model();
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(picker->model(), list);
    QJsonArray renamed = m_fixture->cloud.devices();
    QJsonObject first = renamed[0].toObject();
    first["room"] = QJsonObject{{"name", QString("Living Room ").repeated(20)}};
    renamed[0] = first;
    m_fixture->cloud.setDevices(renamed);
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(picker->findChildren<QAbstractItemModel*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    m_service->setSelectedDeviceId(QString("abc123"));
    auto* shown = qobject_cast<DevicePicker*>(picker);
    QTRY_COMPARE(picker->width(), picker->maximumWidth()); // no wider than the panel
    QVERIFY(picker->width() < MenuBarView::panelWidth);
    QVERIFY2(shown->shownText().startsWith("Living Room") && shown->shownText().endsWith(u'…'),
             qPrintable(shown->shownText()));

    // A selection made elsewhere shows in the picker; none shows no item.
    m_service->setSelectedDeviceId(QString("ghi789"));
    QCOMPARE(picker->currentIndex(), 1);
    m_service->setSelectedDeviceId(std::nullopt);
    QCOMPARE(picker->currentIndex(), -1);
    QVERIFY(!shows("readings"));
    QVERIFY(!shows("climateControls"));
}

void tst_MenuBarView::readings_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<QString>("temperature");
    QTest::addColumn<QString>("humidity");
    QTest::addColumn<QString>("status");

    const QJsonObject fahrenheit =
        FakeSensiboCloud::makeDevice("abc123", "Living Room", true, "cool", 74, "F", 23.46, 51.9, true);
    readingsRow("Fahrenheit", fahrenheit, "74°F", "51%", "Online");
    readingsRow("Celsius, offline",
                FakeSensiboCloud::makeDevice("abc123", "Living Room", true, "cool", 22, "C", 22.5, 47.8, false), "22°C",
                "47%", "Offline");
    QJsonObject noAliveFlag = fahrenheit;
    noAliveFlag["connectionStatus"] = QJsonObject{};
    readingsRow("alive flag absent", noAliveFlag, "74°F", "51%", "Offline");
    readingsRow("no connection status", withoutKey(fahrenheit, "connectionStatus"), "74°F", "51%", "");
    readingsRow("no state: Celsius", withoutKey(fahrenheit, "acState"), "23°C", "51%", "Online");
    readingsRow("no measurements", withoutKey(fahrenheit, "measurements"), "", "", "Online");
    QJsonObject humidityOnly = fahrenheit;
    humidityOnly["measurements"] = QJsonObject{{"humidity", 60}};
    readingsRow("humidity only", humidityOnly, "", "60%", "Online");
}

void tst_MenuBarView::readings()
{
    QFETCH(QJsonObject, device);
    QFETCH(QString, temperature);
    QFETCH(QString, humidity);
    QFETCH(QString, status);
    load({device});

    QCOMPARE(shows("temperatureReading"), !temperature.isEmpty());
    QCOMPARE(shows("humidityReading"), !humidity.isEmpty());
    QCOMPARE(shows("connectionStatus"), !status.isEmpty());
    if (!temperature.isEmpty()) {
        QCOMPARE(find<QLabel>("temperatureReadingText")->text(), temperature);
    }
    if (!humidity.isEmpty()) {
        QCOMPARE(find<QLabel>("humidityReadingText")->text(), humidity);
    }
    if (!status.isEmpty()) {
        QCOMPARE(find<QLabel>("connectionStatusText")->text(), status);
    }
    QCOMPARE(shows("climateControls"), device.contains("acState"));
}

void tst_MenuBarView::updateLineBelongsToTheDeviceView()
{
    createView();
    m_window->show();
    m_updater->setUpdateText(RichText{"<p>Kelvo 2 is out.</p>"});
    QCOMPARE(visibleState(), "noKeyState");
    QVERIFY(!shows("updateLine"));

    m_service->setApiKey("test-key");
    QCoro::waitFor(m_service->fetchDevices());
    QVERIFY(shows("updateLine"));
    QCOMPARE(find<QToolButton>("downloadButton")->text(), "Download");
    QTest::mouseClick(find<QToolButton>("downloadButton"), Qt::LeftButton);
    QCOMPARE(m_opened, QList<QUrl>{m_updater->downloadUrl()});

    m_updater->setUpdateText(std::nullopt);
    QVERIFY(!shows("updateLine"));
}

void tst_MenuBarView::failedRefreshKeepsTheDevicesAndShowsTheMessageInTheFooter()
{
    load({FakeSensiboCloud::makeDevice("abc123", "Living Room")});
    QVERIFY(!shows("footerError"));

    m_fixture->cloud.overrideDeviceList(failure(500), 1);
    QTest::mouseClick(find<QToolButton>("refreshButton"), Qt::LeftButton);
    QTRY_VERIFY(m_service->errorMessage().has_value());
    QCOMPARE(visibleState(), "deviceView");
    QVERIFY(shows("footerError"));
    auto* footer = find<ElidedLabel>("footerError");
    QCOMPARE(footer->fullText(), "Server error (500)");
    QCOMPARE(footer->toolTip(), "Server error (500)");
    QCoreApplication::processEvents();
    QCOMPARE(footer->text(), "Server error (500)"); // whole: the footer has room for it
    QCOMPARE(footer->palette().color(QPalette::WindowText), systemRed(m_view->palette()));

    // A message too long for the line is cut at its end, on one line.
    m_fixture->cloud.overrideDeviceList(
        [] {
            FakeHttpServer::Response wrong;
            wrong.body = R"({"status": "success", "result": [{"id": "abc123", "room": {"name": 42}}]})";
            return wrong;
        }(),
        1);
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(footer->fullText(), *m_service->errorMessage());
    QCoreApplication::processEvents(); // the footer's new width
    QVERIFY(footer->text().endsWith(QChar(0x2026)));
    QVERIFY(footer->fullText().startsWith(footer->text().chopped(1)));
    QCOMPARE(footer->height(), footer->fontMetrics().height());

    QCoro::waitFor(m_service->fetchDevices());
    QVERIFY(!shows("footerError"));

    // A setting the disk refused (the update check's bookkeeping, say) is said there too, with its cause.
    const QString path = m_fixture->preferences.filePath();
    QFile::remove(path);
    QVERIFY(QDir().mkdir(path));
    m_fixture->preferences.setBool(QStringLiteral("hasLaunchedBefore"), true);
    QCOMPARE(footer->fullText(), QStringLiteral("Could not save settings: %1: Is a directory").arg(path));
}

void tst_MenuBarView::buttonsCallTheServiceAndTheSettings()
{
    createView();
    m_window->show(); // without a key, appearing loads nothing
    QTest::mouseClick(find<QPushButton>("openSettingsButton"), Qt::LeftButton);
    QCOMPARE(m_settingsOpened, 1);

    m_service->setApiKey("test-key");
    m_fixture->cloud.overrideDeviceList(failure(500), 1);
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(visibleState(), "messageState");
    QTest::mouseClick(find<QPushButton>("messageSettingsButton"), Qt::LeftButton);
    QCOMPARE(m_settingsOpened, 2);
    m_fixture->cloud.clearRequests();
    QTest::mouseClick(find<QPushButton>("retryButton"), Qt::LeftButton);
    QTRY_COMPARE(visibleState(), "deviceView");
    QCOMPARE(deviceListRequests(), 1);

    const QList<std::pair<QString, QString>> footerButtons{
        {"refreshButton", "Refresh"}, {"settingsButton", "Settings"}, {"quitButton", "Quit Kelvo"}};
    for (const auto& [name, tooltip] : footerButtons) {
        QCOMPARE(find<QToolButton>(name)->toolTip(), tooltip);
        QCOMPARE(find<QToolButton>(name)->accessibleName(), tooltip);
        QVERIFY(!find<QToolButton>(name)->icon().isNull());
    }
    QTest::mouseClick(find<QToolButton>("settingsButton"), Qt::LeftButton);
    QCOMPARE(m_settingsOpened, 3);
    m_fixture->cloud.clearRequests();
    QTest::mouseClick(find<QToolButton>("refreshButton"), Qt::LeftButton);
    QTRY_COMPARE(deviceListRequests(), 1);
}

void tst_MenuBarView::appearingStartsTheFirstLoad()
{
    m_service->setApiKey("test-key");
    createView();
    QVERIFY(!m_service->hasStartedInitialLoad());
    QCOMPARE(visibleState(), "messageState"); // no devices and not loading yet

    m_window->show();
    QVERIFY(m_service->hasStartedInitialLoad());
    QCOMPARE(visibleState(), "loadingState");
    QTRY_COMPARE(visibleState(), "deviceView");
}

void tst_MenuBarView::escapeClosesThePanel()
{
    load({FakeSensiboCloud::makeDevice("abc123", "Living Room")});
    QSignalSpy closed(m_view, &MenuBarView::closeRequested);
    QTest::keyClick(m_view, Qt::Key_A);
    QCOMPARE(closed.count(), 0);
    QVERIFY(m_window->isVisible());
    QTest::keyClick(m_view, Qt::Key_Escape);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!m_window->isVisible());
}

void tst_MenuBarView::tabFollowsTheScreenAndABorderFramesThePanel()
{
    load({FakeSensiboCloud::makeDevice("abc123", "Living Room"), FakeSensiboCloud::makeDevice("def456", "Bedroom")});
    QStringList order;
    QWidget* widget = m_view;
    do {
        widget = widget->nextInFocusChain();
        if (widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus) && m_view->isAncestorOf(widget)) {
            order.append(widget->objectName().isEmpty() ? widget->parentWidget()->objectName() : widget->objectName());
        }
    } while (widget != m_view);
    // The stepper is one stop: Up and Down change the temperature there.
    QCOMPARE(order, (QStringList{"devicePicker", "powerSwitch", "timerMenu", "modeMenu", "temperatureStepper",
                                 "fanMenu", "swingMenu", "horizontalSwingMenu", "lightSwitch", "refreshButton",
                                 "settingsButton", "quitButton"}));

    const QImage image = m_view->grab().toImage();
    const QColor mid = m_view->palette().color(QPalette::Mid);
    const qreal ratio = image.devicePixelRatio();
    const int right = image.width() - 1;
    const int bottom = image.height() - 1;
    for (const QPoint& edge : {QPoint(0, 0), QPoint(right / 2, 0), QPoint(right, bottom / 2), QPoint(right / 2, bottom),
                               QPoint(0, bottom / 2), QPoint(right, bottom)}) {
        QCOMPARE(image.pixelColor(edge).rgb(), mid.rgb());
    }
    QVERIFY(image.pixelColor(int(2 * ratio), bottom / 2).rgb() != mid.rgb());
}

void tst_MenuBarView::heightFollowsTheContent()
{
    load({FakeSensiboCloud::makeDevice("abc123", "Living Room")});
    QCOMPARE(m_view->width(), MenuBarView::panelWidth);
    QTRY_COMPARE(m_window->height(), m_view->height());
    const int on = m_view->height();

    QCoro::waitFor(m_service->updateACState(ACSetting::Power, false));
    QTRY_VERIFY(m_view->height() < on);
    QTRY_COMPARE(m_window->height(), m_view->height());
    QCOMPARE(m_window->width(), MenuBarView::panelWidth);

    // Every row fits: nothing is squeezed below what it asks for.
    QCoro::waitFor(m_service->updateACState(ACSetting::Power, true));
    QTRY_COMPARE(m_view->height(), on);
    for (QWidget* row : m_view->findChild<ClimateControls*>("climateControls")->findChildren<QWidget*>()) {
        if (row->objectName().endsWith("Row") && row->isVisible()) {
            QVERIFY2(row->height() >= row->minimumSizeHint().height(), qPrintable(row->objectName()));
        }
    }
}

void tst_MenuBarView::largerFontsAndLowScreensCutNothing_data()
{
    QTest::addColumn<qreal>("points"); // 0: the default font
    QTest::addColumn<int>("room");     // the most height the screen leaves the panel; 0: enough
    QTest::newRow("default font") << 0.0 << 0;
    QTest::newRow("14 pt") << 14.0 << 0;
    QTest::newRow("18 pt") << 18.0 << 0;
    QTest::newRow("scale 2 on 1280x800: 400 px less the tray") << 0.0 << 372;
    QTest::newRow("18 pt on 1280x720 at 1.5x") << 18.0 << 457;
}

void tst_MenuBarView::largerFontsAndLowScreensCutNothing()
{
    QFETCH(qreal, points);
    QFETCH(int, room);
    m_updater->setUpdateText(RichText{"<p>Kelvo 2 is out.</p>"});
    load({FakeSensiboCloud::makeDevice("abc123", "Living Room"), FakeSensiboCloud::makeDevice("def456", "Bedroom")});
    // The longest names of the fixture's lists.
    QCoro::waitFor(m_service->updateACState(ACSetting::FanLevel, QString("medium_high")));
    QCoro::waitFor(m_service->updateACState(ACSetting::Swing, QString("fixedMiddleTop")));
    QCoro::waitFor(m_service->updateACState(ACSetting::HorizontalSwing, QString("rangeFull")));
    if (points > 0) {
        QFont font = m_view->font();
        font.setPointSizeF(points);
        m_view->setFont(font);
    }
    if (room > 0) {
        QTRY_VERIFY(m_view->sizeHint().height() > room); // too tall for it
        m_view->setMaximumHeight(room);                  // as the panel's window does
    }
    QTRY_COMPARE(m_window->height(),
                 room > 0 ? std::min(room, m_view->sizeHint().height()) : m_view->sizeHint().height());
    QCOMPARE(m_view->width(), points > 0 ? MenuBarView::widthFor(m_view->font()) : MenuBarView::panelWidth);
    QVERIFY(points == 0 || m_view->width() > MenuBarView::panelWidth);

    // Every text and control gets the room it asks for, inside the panel; the option boxes show their whole names.
    for (QWidget* widget : m_view->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(m_view) ||
            !(qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)) ||
            qobject_cast<ElidedLabel*>(widget)) {
            continue;
        }
        const QString what = widget->objectName() + ' ' + widget->property("text").toString();
        const QRect inPanel(widget->mapTo(m_view, QPoint(0, 0)), widget->size());
        QVERIFY2(widget->width() >= widget->minimumSizeHint().width(), qPrintable(what));
        QVERIFY2(inPanel.left() >= 0 && inPanel.right() < m_view->width(), qPrintable(what));
        if (auto* menu = qobject_cast<OptionMenuButton*>(widget)) {
            QCOMPARE(menu->shownText(), menu->text());
        }
        if (auto* label = qobject_cast<QLabel*>(widget); label && label->pixmap().isNull()) {
            QVERIFY2(label->contentsRect().width() >= label->fontMetrics().horizontalAdvance(label->text()),
                     qPrintable(what));
        }
    }
    // The footer stays in view; every control is reached with Tab and scrolled into view.
    for (const char* name : {"refreshButton", "settingsButton", "quitButton"}) {
        QVERIFY(m_view->rect().contains(QRect(find(name)->mapTo(m_view, QPoint(0, 0)), find(name)->size())));
    }
    const QWidget* viewport = find<QScrollArea>("controlsPane")->viewport();
    for (const char* name : {"powerSwitch", "modeMenu", "temperatureStepper", "fanMenu", "swingMenu",
                             "horizontalSwingMenu", "lightSwitch"}) {
        find(name)->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        const QRect shown(find(name)->mapTo(viewport, QPoint(0, 0)), find(name)->size());
        QVERIFY2(viewport->rect().contains(shown), name);
    }
}

// The panel shows the device at once and the chart only once the room's last day came; a failed one is asked for
// again at the next opening a minute on.
void tst_MenuBarView::roomsLastDayShowsOnlyOnceItCame()
{
    QDateTime now(QDate(2026, 12, 8), QTime(22, 0), QTimeZone::utc());
    m_service->features().setClock([&now] { return now; });
    FakeHttpServer::Response refusal = failure(503);
    m_fixture->cloud.overrideEndpoint(FakeSensiboCloud::Endpoint::History, refusal, 1);
    m_fixture->cloud.setDevices({FakeSensiboCloud::makeDevice("abc123", "Living Room")});
    m_service->setApiKey("test-key");
    QCoro::waitFor(m_service->fetchDevices());
    QCoro::waitFor(m_service->features().showDevice("abc123")); // as a first opening does: the history fails
    createView();
    m_window->show();
    QCOMPARE(visibleState(), "deviceView");
    QVERIFY(!shows("historyChart"));
    QVERIFY(!m_service->errorMessage()); // nothing the user asked for failed
    QCOMPARE(m_fixture->cloud.requestCount(FakeSensiboCloud::Endpoint::History), 1); // not again within the minute

    now = now.addSecs(61);
    m_window->hide();
    m_window->show();
    QTRY_VERIFY(shows("historyChart"));
    QVERIFY(find("historyChart")->accessibleName().startsWith("Room temperature, last 24 hours: "));
}

QTEST_MAIN(tst_MenuBarView)
#include "tst_MenuBarView.moc"
