#include "app/SettingsView.h"
#include "ui/ElidedLabel.h"
#include "ui/PanelStyle.h"
#include "ui/ToggleSwitch.h"
#include "platform/LoginItem.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tests/support/FakeSensiboCloud.h"
#include "tests/support/FakeSite.h"
#include "updates/RichText.h"
#include "app/UpdateAlertView.h"
#include "updates/UpdateService.h"

#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

namespace {
const QString sensiboAPIKey = QLatin1String(PreferenceKeys::sensiboAPIKey);
const QString autoCheckForUpdates = QLatin1String(PreferenceKeys::autoCheckForUpdates);
const QString useMonochromeIcons = QLatin1String(PreferenceKeys::useMonochromeIcons);
const QUrl makerSite(QStringLiteral("https://maker.example"));

FakeHttpServer::Response answer(int status, const QByteArray& body)
{
    FakeHttpServer::Response response;
    response.status = status;
    response.body = body;
    return response;
}

// One run of the program as the settings window sees it: its own preferences and XDG config folder, the cloud and
// the maker's site on loopback, both services, the browser captured. open() makes the window, so that a test can
// first prepare what the window reads when it is created.
class Run
{
public:
    Run()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_directory.path()));
        QVERIFY(m_listening);
    }
    ~Run()
    {
        view.reset();
        qputenv("XDG_CONFIG_HOME", m_savedConfigHome);
    }

    SettingsView& open(SettingsView::About about = {QStringLiteral("Ada Maker"), makerSite, {}, {}})
    {
        UpdateServiceHooks hooks;
        hooks.log = [](const QString&) {};
        hooks.openUrl = [this](const QUrl& url) { opened.append(url); };
        updater = std::make_unique<UpdateService>(preferences, &network, siteUrl.value_or(QUrl(site.baseUrl())), hooks);
        view = std::make_unique<SettingsView>(service, *updater, preferences,
                                              LoginItem::create(QStringLiteral("/usr/bin/kelvo")), std::move(about),
                                              [this](const QUrl& url) { opened.append(url); });
        view->show();
        return *view;
    }

    template <typename T = QWidget> T* find(const QString& name) const { return view->findChild<T*>(name); }
    bool shown(const QString& name) const { return find(name) && find(name)->isVisible(); }
    QString text(const QString& name) const { return find<QLabel>(name)->text(); }
    QLineEdit* keyField() const { return find<QLineEdit>(QStringLiteral("apiKeyField")); }
    QPushButton* saveButton() const { return find<QPushButton>(QStringLiteral("saveButton")); }
    void click(const QString& name) { QTest::mouseClick(find(name), Qt::LeftButton); }
    ToggleSwitch* toggle(const QString& name) const { return find<ToggleSwitch>(name); }

    void connectWith(const QString& key)
    {
        keyField()->clear();
        service.setApiKey(QString());
        QTest::keyClicks(keyField(), key);
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QTRY_VERIFY(!service.isLoading());
    }
    // The status row in words.
    QString status() const
    {
        QStringList parts;
        if (shown(QStringLiteral("connectSpinner"))) {
            parts << QStringLiteral("spinner");
        }
        if (shown(QStringLiteral("devicesStatus"))) {
            parts << text(QStringLiteral("devicesText"));
        }
        if (shown(QStringLiteral("errorStatus"))) {
            parts << QStringLiteral("error: ") + find<ElidedLabel>(QStringLiteral("errorText"))->fullText();
        }
        return parts.join(QStringLiteral(" + "));
    }

    QString entryPath() const { return m_directory.path() + QStringLiteral("/autostart/app.kelvo.Kelvo.desktop"); }
    // What the next start of the program would read.
    Preferences stored() const { return Preferences(m_directory.path() + QStringLiteral("/kelvo")); }

    QTemporaryDir m_directory;
    QByteArray m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    Preferences preferences{m_directory.path() + QStringLiteral("/kelvo")};
    QNetworkAccessManager network;
    FakeSensiboCloud cloud;
    FakeSite site;
    std::optional<QUrl> siteUrl;                        // the loopback site unless set
    bool m_listening = cloud.listen() && site.listen(); // before the service takes the cloud's address
    SensiboService service{preferences, &network, cloud.baseUrl()};
    std::unique_ptr<UpdateService> updater;
    std::unique_ptr<SettingsView> view;
    QList<QUrl> opened;
};
} // namespace

class tst_SettingsView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyIsLiveWhileTypedAndStoredAsTypedBySaving();
    void saveAndConnectShowsWhatTheLoadFound_data();
    void saveAndConnectShowsWhatTheLoadFound();
    void loadingShowsOnlyTheSpinner_data();
    void loadingShowsOnlyTheSpinner();
    void devicesOutrankAnError();
    void longErrorStaysOnOneLine();
    void shortErrorsAreShownWhole_data();
    void shortErrorsAreShownWhole();
    void checkNowRunsACheckAndTellsWhenItWas();
    void checkNowWithoutUpdateSiteSaysSo();
    void changedNoticePresentsTheAlertWhileTheWindowIsShown();
    void pendingAlertWaitsForTheWindowAndSitsOverIt();
    void togglesStoreOnlyChangesWhileShown();
    void launchAtLoginFollowsTheAutostartEntry();
    void closesFromTheKeyboard();
    void footerLinksAndVersion_data();
    void footerLinksAndVersion();
    void laysOutFromItsContentWithinTheScreen_data();
    void laysOutFromItsContentWithinTheScreen();
};

void tst_SettingsView::keyIsLiveWhileTypedAndStoredAsTypedBySaving()
{
    Run run;
    run.preferences.setText(sensiboAPIKey, QStringLiteral("stored"));
    run.service.setApiKey(QString());
    SettingsView& view = run.open();
    QCOMPARE(view.size(), QSize(450, 680).boundedTo(view.screen()->availableGeometry().size() - QSize(0, 40)));
    QCOMPARE(run.keyField()->placeholderText(), QStringLiteral("API Key"));
    QCOMPARE(run.saveButton()->text(), QStringLiteral("Save && Connect")); // shows one "&"
    QVERIFY(!run.saveButton()->isEnabled());

    QTest::keyClick(run.keyField(), Qt::Key_Space);
    QCOMPARE(run.service.apiKey(), QStringLiteral(" "));
    QCOMPARE(run.stored().text(sensiboAPIKey), std::optional<QString>(QStringLiteral("stored")));
    QVERIFY(run.saveButton()->isEnabled());
    QTest::mouseClick(run.saveButton(), Qt::LeftButton);
    QCOMPARE(run.stored().text(sensiboAPIKey), std::optional<QString>(QStringLiteral(" ")));

    // Typing inside the key leaves the cursor where it is; a key set elsewhere shows in the field.
    QTest::keyClicks(run.keyField(), QStringLiteral("abcd"));
    run.keyField()->setCursorPosition(3);
    QTest::keyClicks(run.keyField(), QStringLiteral("XY"));
    QCOMPARE(run.service.apiKey(), QStringLiteral(" abXYcd"));
    QCOMPARE(run.keyField()->cursorPosition(), 5);
    run.service.setApiKey(QStringLiteral("from-elsewhere"));
    QCOMPARE(run.keyField()->text(), QStringLiteral("from-elsewhere"));

    // Save & Connect is the default button: Return in the field, or on the button, presses it.
    QTest::keyClick(run.keyField(), Qt::Key_Return);
    QCOMPARE(run.stored().text(sensiboAPIKey), std::optional<QString>(QStringLiteral("from-elsewhere")));
    run.service.setApiKey(QStringLiteral("by-button"));
    run.saveButton()->setFocus();
    QTest::keyClick(run.saveButton(), Qt::Key_Return);
    QCOMPARE(run.stored().text(sensiboAPIKey), std::optional<QString>(QStringLiteral("by-button")));
    run.service.setApiKey(QString());
    QTest::keyClick(run.keyField(), Qt::Key_Return); // disabled: nothing to store
    QCOMPARE(run.stored().text(sensiboAPIKey), std::optional<QString>(QStringLiteral("by-button")));
}

void tst_SettingsView::closesFromTheKeyboard()
{
    Run run;
    SettingsView& view = run.open();
    QVERIFY(view.isVisible());
    QTest::keyClick(&view, Qt::Key_Escape);
    QVERIFY(!view.isVisible());
    view.showAndActivate();
    QTest::keySequence(&view, QKeySequence::Close);
    QVERIFY(!view.isVisible());
}

void tst_SettingsView::saveAndConnectShowsWhatTheLoadFound_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<QString>("earlierKey"); // connected with first, when not empty
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("storable");
    QTest::addColumn<QString>("status"); // %1: the preferences file

    QTest::newRow("two devices") << 2 << ""
                                 << "test-key" << true << "2 devices found";
    QTest::newRow("one device") << 1 << ""
                                << "test-key" << true << "1 device found";
    QTest::newRow("no devices") << 0 << ""
                                << "test-key" << true << "";
    QTest::newRow("wrong key") << 2 << ""
                               << "wrong-key" << true << "error: Invalid API key";
    // The list the good key loaded is still held, but it does not answer whether the new key works.
    QTest::newRow("wrong key after a good one") << 2 << "test-key"
                                                << "wrong-key" << true << "error: Invalid API key";
    // The key connects, but the next start would not have it: that, not the devices, is what the row says.
    QTest::newRow("key not stored") << 2 << ""
                                    << "test-key" << false << "error: Could not save the key: %1: Is a directory";
}

void tst_SettingsView::saveAndConnectShowsWhatTheLoadFound()
{
    QFETCH(int, devices);
    QFETCH(QString, earlierKey);
    QFETCH(QString, key);
    QFETCH(bool, storable);
    QFETCH(QString, status);

    Run run;
    QJsonArray account;
    for (int i = 0; i < devices; ++i) {
        account.append(FakeSensiboCloud::defaultDevices().at(i));
    }
    run.cloud.setDevices(account);
    if (!storable) {
        QVERIFY(QDir().mkpath(run.preferences.filePath()));
    }
    run.open();
    if (!earlierKey.isEmpty()) {
        run.connectWith(earlierKey);
        QTRY_COMPARE(run.cloud.deviceListCount(), 2);
    }
    const int loadsBefore = run.cloud.deviceListCount();
    run.connectWith(key);
    QCOMPARE(run.status(), status.replace(QStringLiteral("%1"), run.preferences.filePath()));
    QCOMPARE(run.stored().text(sensiboAPIKey), storable ? std::optional<QString>(key) : std::nullopt);
    // The typed key was used; a refused one keeps the list an earlier key loaded.
    QCOMPARE(run.service.devices().size(), key == u"test-key" || !earlierKey.isEmpty() ? devices : 0);
    // The periodic refresh starts after the load, and loads at once.
    QTRY_COMPARE(run.cloud.deviceListCount(), loadsBefore + 2);

    const QPalette palette = run.view->palette();
    const auto color = [&](const QString& name) { return run.find(name)->palette().color(QPalette::WindowText); };
    if (run.shown(QStringLiteral("devicesText"))) {
        QCOMPARE(color(QStringLiteral("devicesText")), systemGreen(palette));
    }
    if (run.shown(QStringLiteral("errorText"))) {
        QCOMPARE(color(QStringLiteral("errorText")), systemRed(palette));
    }
}

void tst_SettingsView::loadingShowsOnlyTheSpinner_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("before");

    QTest::newRow("devices known") << "test-key"
                                   << "2 devices found";
    QTest::newRow("error set") << "wrong-key"
                               << "error: Invalid API key";
}

void tst_SettingsView::loadingShowsOnlyTheSpinner()
{
    QFETCH(QString, key);
    QFETCH(QString, before);
    Run run;
    run.open();
    run.connectWith(key);
    QCOMPARE(run.status(), before);

    // The next load keeps the devices and the message set while it runs.
    run.cloud.setDelayMs(60000);
    run.service.fetchDevices();
    QVERIFY(run.service.isLoading());
    QCOMPARE(run.status(), QStringLiteral("spinner"));
    QVERIFY(run.find(QStringLiteral("connectSpinner"))->width() <= 16);
}

void tst_SettingsView::devicesOutrankAnError()
{
    Run run;
    run.open();
    run.connectWith(QStringLiteral("test-key"));
    run.cloud.overrideDeviceList(answer(500, "{}"), 1);
    run.service.fetchDevices();
    QTRY_VERIFY(!run.service.isLoading());
    QVERIFY(run.service.errorMessage());
    QCOMPARE(run.status(), QStringLiteral("2 devices found"));
}

void tst_SettingsView::longErrorStaysOnOneLine()
{
    Run run;
    run.cloud.overrideDeviceList(answer(200, "{\"status\":\"success\",\"result\":\"" + QByteArray(300, 'x') + "\"}"));
    run.open();
    run.connectWith(QStringLiteral("test-key"));
    const QString message = run.service.errorMessage().value_or(QString());
    auto* error = run.find<ElidedLabel>(QStringLiteral("errorText"));
    QVERIFY2(error->fontMetrics().horizontalAdvance(message) > error->width(), qPrintable(message));
    QCOMPARE(error->fullText(), message);
    QCOMPARE(error->toolTip(), message);
    QVERIFY(error->height() < 2 * error->fontMetrics().height());
    QVERIFY(error->text().endsWith(QChar(0x2026)));
    QVERIFY(error->mapTo(run.view.get(), QPoint(error->width(), 0)).x() <= run.view->width());
}

void tst_SettingsView::shortErrorsAreShownWhole_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("refused key") << 401 << "Invalid API key";
    QTest::newRow("server") << 503 << "Server error (503)";
    QTest::newRow("rate limit") << 429 << "Rate limited — try again later";
    QTest::newRow("timeout") << 0 << "The request timed out.";
}

void tst_SettingsView::shortErrorsAreShownWhole()
{
    QFETCH(int, status);
    QFETCH(QString, message);
    Run run;
    if (status == 0) {
        run.service.setRequestTimeout(300);
        run.cloud.setDelayMs(60'000);
    } else {
        run.cloud.overrideDeviceList(answer(status, "{}"));
    }
    run.open();
    run.connectWith(QStringLiteral("test-key"));
    QCOMPARE(run.status(), QStringLiteral("error: ") + message);
    QCOMPARE(run.find<ElidedLabel>(QStringLiteral("errorText"))->text(), message); // not cut: the row has room
}

void tst_SettingsView::checkNowRunsACheckAndTellsWhenItWas()
{
    Run run;
    run.site.setNotice("Kelvo 2 is out.");
    run.site.setDelayMs(200);
    run.open();
    QVERIFY(!run.shown(QStringLiteral("lastChecked")));
    auto* checkNow = run.find<QPushButton>(QStringLiteral("checkNowButton"));
    QCOMPARE(checkNow->text(), QStringLiteral("Check Now"));

    QTest::mouseClick(checkNow, Qt::LeftButton);
    QVERIFY(run.updater->isChecking());
    QVERIFY(!checkNow->isEnabled());
    QVERIFY(run.shown(QStringLiteral("checkSpinner")));

    QTRY_VERIFY(!run.updater->isChecking());
    QVERIFY(checkNow->isEnabled());
    QVERIFY(!run.shown(QStringLiteral("checkSpinner")));
    const std::optional<QString> description = run.updater->lastCheckedDescription();
    QVERIFY(description);
    QCOMPARE(run.text(QStringLiteral("lastChecked")), QStringLiteral("Last checked ") + *description);
    QVERIFY(run.shown(QStringLiteral("lastChecked")));
}

void tst_SettingsView::checkNowWithoutUpdateSiteSaysSo()
{
    Run run;
    run.siteUrl = QUrl(QStringLiteral("https://kelvo.invalid"));
    run.open();
    QTest::mouseClick(run.find<QPushButton>(QStringLiteral("checkNowButton")), Qt::LeftButton);
    QTRY_VERIFY(!run.updater->isChecking());
    QVERIFY(run.shown(QStringLiteral("lastChecked")));
    QCOMPARE(run.text(QStringLiteral("lastChecked")), QStringLiteral("No update site in this build"));
}

void tst_SettingsView::changedNoticePresentsTheAlertWhileTheWindowIsShown()
{
    Run run;
    run.preferences.setBool(QLatin1String(PreferenceKeys::hasLaunchedBefore), true);
    run.site.setNotice("Kelvo 2 is out: [kelvo.example/news]");
    SettingsView& view = run.open();
    UpdateAlertView* alert = view.updateAlert();
    QVERIFY(!alert->isVisible());
    QVERIFY(!run.shown(QStringLiteral("updateAvailable")));

    run.click(QStringLiteral("checkNowButton"));
    QTRY_VERIFY(alert->isVisible());
    QCOMPARE(alert->parentWidget(), &view);
    QCOMPARE(alert->windowModality(), Qt::WindowModal);
    QVERIFY(run.shown(QStringLiteral("updateAvailable")));

    // Download closes the sheet; the notice stays pending and so does its line.
    QTest::keyClick(alert, Qt::Key_Return);
    QVERIFY(!alert->isVisible());
    QCOMPARE(run.opened, QList<QUrl>{QUrl(run.site.downloadUrl())});
    QVERIFY(run.shown(QStringLiteral("updateAvailable")));

    // The sheet closed by the desktop only clears the request.
    run.updater->setShowUpdateAlert(true);
    QVERIFY(alert->isVisible());
    alert->close();
    QVERIFY(!run.updater->showUpdateAlert());
    QVERIFY(run.updater->updateText());

    // Nothing pops up while the window is closed, and closing it leaves the request unanswered.
    view.close();
    run.updater->setShowUpdateAlert(true);
    QVERIFY(!alert->isVisible());
    view.showAndActivate();
    QVERIFY(alert->isVisible());
    view.close();
    QVERIFY(!alert->isVisible());
    QVERIFY(run.updater->showUpdateAlert());
}

void tst_SettingsView::pendingAlertWaitsForTheWindowAndSitsOverIt()
{
    Run run;
    SettingsView& view = run.open();
    // Asked for while the window is coming up.
    run.updater->setUpdateText(richTextFromMarkdown(QStringLiteral("Kelvo 2 is out.")));
    run.updater->setShowUpdateAlert(true);
    UpdateAlertView* alert = view.updateAlert();
    // Not before the window is on screen, where the window manager put it.
    QVERIFY(!alert->isVisible() || view.windowHandle()->isExposed());
    QTRY_VERIFY(alert->isVisible());
    QVERIFY(view.windowHandle()->isExposed());
    const QPoint offset = alert->frameGeometry().center() - view.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1, %2").arg(offset.x()).arg(offset.y())));
}

void tst_SettingsView::togglesStoreOnlyChangesWhileShown()
{
    Run run;
    run.open();
    QVERIFY(run.toggle(QStringLiteral("autoCheckSwitch"))->isChecked());
    QVERIFY(!run.toggle(QStringLiteral("monochromeSwitch"))->isChecked());
    QVERIFY(!run.stored().value(autoCheckForUpdates));
    QVERIFY(!run.stored().value(useMonochromeIcons));

    run.click(QStringLiteral("autoCheckSwitch"));
    run.click(QStringLiteral("monochromeSwitch"));
    QVERIFY(!run.updater->autoCheckForUpdates());
    QVERIFY(run.service.useMonochromeIcons());
    QVERIFY(!run.toggle(QStringLiteral("autoCheckSwitch"))->isChecked());
    QVERIFY(run.toggle(QStringLiteral("monochromeSwitch"))->isChecked());
    QCOMPARE(run.stored().value(autoCheckForUpdates), std::optional<PreferenceValue>(false));
    QCOMPARE(run.stored().value(useMonochromeIcons), std::optional<PreferenceValue>(true));

    // A choice the disk refuses is said in the status row, with its cause, until a later write succeeds.
    const QString path = run.preferences.filePath();
    QVERIFY(QFile::rename(path, path + QStringLiteral(".kept")) && QDir().mkdir(path));
    run.click(QStringLiteral("monochromeSwitch"));
    QCOMPARE(run.status(), QStringLiteral("error: Could not save settings: %1: Is a directory").arg(path));
    QVERIFY(QDir().rmdir(path) && QFile::rename(path + QStringLiteral(".kept"), path));
    run.click(QStringLiteral("monochromeSwitch"));
    QCOMPARE(run.status(), QString());
    QCOMPARE(run.stored().value(useMonochromeIcons), std::optional<PreferenceValue>(true));

    run.view->hide();
    run.updater->setAutoCheckForUpdates(true);
    QCOMPARE(run.stored().value(autoCheckForUpdates), std::optional<PreferenceValue>(false));
}

void tst_SettingsView::launchAtLoginFollowsTheAutostartEntry()
{
    Run run;
    QVERIFY(LoginItem::create(QStringLiteral("/usr/bin/kelvo"))->registerItem());
    SettingsView& view = run.open();
    QVERIFY(view.launchAtLogin());
    run.click(QStringLiteral("launchAtLoginSwitch"));
    QVERIFY(!QFile::exists(run.entryPath()));
    QVERIFY(!run.toggle(QStringLiteral("launchAtLoginSwitch"))->isChecked());
    run.click(QStringLiteral("launchAtLoginSwitch"));
    QVERIFY(QFile::exists(run.entryPath()));
    QVERIFY(run.toggle(QStringLiteral("launchAtLoginSwitch"))->isChecked());

    // A file where the autostart folder belongs: no entry can be written, whoever runs the test.
    const QString autostart = QFileInfo(run.entryPath()).absolutePath();
    QVERIFY(QFile::remove(run.entryPath()) && QDir().rmdir(autostart));
    QFile blocker(autostart);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    run.click(QStringLiteral("launchAtLoginSwitch")); // off: there is nothing to remove
    QVERIFY(!view.launchAtLogin());
    run.click(QStringLiteral("launchAtLoginSwitch"));
    QVERIFY(!view.launchAtLogin());
    QVERIFY(!run.toggle(QStringLiteral("launchAtLoginSwitch"))->isChecked());
    // The status row says why, and nothing else does.
    QCOMPARE(run.status(), QStringLiteral("error: Could not change launch at login: %1: %2")
                               .arg(run.entryPath(), qt_error_string(ENOTDIR)));
    for (QWidget* window : QApplication::topLevelWidgets()) { // no message of any kind
        QVERIFY2(window == &view || !window->isVisible(), window->metaObject()->className());
    }
}

void tst_SettingsView::footerLinksAndVersion_data()
{
    QTest::addColumn<std::optional<QString>>("shortVersion");
    QTest::addColumn<std::optional<QString>>("build");
    QTest::addColumn<QString>("line");

    const std::optional<QString> none;
    const std::optional<QString> shortVersion(QStringLiteral("2.3"));
    const std::optional<QString> build(QStringLiteral("57"));
    QTest::newRow("neither") << none << none << "Version 1.0 (1)";
    QTest::newRow("no build") << shortVersion << none << "Version 2.3 (1)";
    QTest::newRow("no short version") << none << build << "Version 1.0 (57)";
    QTest::newRow("both") << shortVersion << build << "Version 2.3 (57)";
}

void tst_SettingsView::footerLinksAndVersion()
{
    QFETCH(std::optional<QString>, shortVersion);
    QFETCH(std::optional<QString>, build);
    QFETCH(QString, line);
    Run run;
    run.open({QStringLiteral("Ada Maker"), makerSite, shortVersion, build});
    QCOMPARE(run.text(QStringLiteral("version")), line);
    QCOMPARE(run.text(QStringLiteral("attribution")), QStringLiteral("Built with love by "));
    QCOMPARE(run.find<QAbstractButton>(QStringLiteral("makerLink"))->text(), QStringLiteral("Ada Maker"));
    run.click(QStringLiteral("apiSettingsLink"));
    run.click(QStringLiteral("makerLink"));
    QCOMPARE(run.opened, (QList<QUrl>{QUrl(QStringLiteral("https://home.sensibo.com/me/api")), makerSite}));
}

void tst_SettingsView::laysOutFromItsContentWithinTheScreen_data()
{
    QTest::addColumn<qreal>("points"); // 0: the default font
    QTest::addColumn<QSize>("room");
    QTest::newRow("default font") << 0.0 << QSize(1280, 760);
    QTest::newRow("14 pt") << 14.0 << QSize(1280, 760);
    QTest::newRow("14 pt on a small screen") << 14.0 << QSize(853, 480);
    QTest::newRow("default font at 1.5x on 1280x800") << 0.0 << QSize(853, 500);
}

void tst_SettingsView::laysOutFromItsContentWithinTheScreen()
{
    QFETCH(qreal, points);
    QFETCH(QSize, room);
    Run run;
    SettingsView& view = run.open();
    run.connectWith(QStringLiteral("test-key")); // the status row says "2 devices found"
    if (points > 0) {
        QFont font = view.font();
        font.setPointSizeF(points);
        view.setFont(font);
        QCoreApplication::processEvents(); // the window fits itself to the screen first; the room given here wins
    }
    view.fitInto(room);
    QTRY_VERIFY(view.size().width() <= room.width() && view.size().height() <= room.height());
    if (points == 0 && room.height() >= 680) {
        QCOMPARE(view.size(), QSize(450, 680));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QVERIFY(view.minimumWidth() <= room.width() && view.minimumHeight() <= room.height());
    QVERIFY(view.maximumWidth() > view.width()); // the user may resize it

    // Every text and control gets at least the room it asks for, inside the window's width; what is below the
    // window's height is reached by scrolling.
    auto* viewport = view.findChild<QScrollArea*>()->viewport();
    for (QWidget* widget : view.findChildren<QWidget*>()) {
        const bool content =
            qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget);
        if (!content || !widget->isVisibleTo(&view) || qobject_cast<ElidedLabel*>(widget)) {
            continue;
        }
        const QString what = widget->objectName() + QLatin1Char(' ') + widget->metaObject()->className() +
                             QLatin1Char(' ') + widget->property("text").toString();
        const QSize wanted = widget->minimumSizeHint().expandedTo(widget->minimumSize());
        QVERIFY2(widget->width() >= wanted.width() && widget->height() >= wanted.height(), qPrintable(what));
        const QRect inWindow(widget->mapTo(&view, QPoint(0, 0)), widget->size());
        QVERIFY2(inWindow.left() >= 0 && inWindow.right() < view.width(), qPrintable(what));
        if (viewport->isAncestorOf(widget)) {
            QVERIFY2(widget->mapTo(viewport, QPoint(widget->width(), 0)).x() <= viewport->width(), qPrintable(what));
        } else {
            QVERIFY2(inWindow.bottom() < view.height(), qPrintable(what)); // the footer stays in view
        }
    }
}

QTEST_MAIN(tst_SettingsView)
#include "tst_SettingsView.moc"
