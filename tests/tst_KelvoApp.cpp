#include "app/KelvoApp.h"
#include "app/PanelWindow.h"
#include "tests/support/FakeSensiboCloud.h"
#include "tests/support/FakeSite.h"

#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// A desktop whose tray the test puts up and takes down.
class FakeTrayIcon : public TrayIcon
{
    Q_OBJECT

public:
    void setIcon(const QIcon& image) override { icon = image; }
    void setToolTip(const QString& title, const QString& body) override { toolTip = title + QLatin1Char('|') + body; }
    bool drawsMenu() const override { return draws; }
    void setMenu(const QList<TrayMenuItem>& items) override { menu = items; }
    bool draws = true;
    QIcon icon;
    QString toolTip;
    QList<TrayMenuItem> menu;
};

class FakeTrayHosts : public TrayHosts
{
    Q_OBJECT

public:
    using TrayHosts::setKind;
    std::unique_ptr<TrayIcon> createIcon() override
    {
        if (kind() == Kind::None) {
            return nullptr;
        }
        auto icon = std::make_unique<FakeTrayIcon>();
        icon->draws = kind() == Kind::StatusNotifier;
        return icon;
    }
};

class tst_KelvoApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void noticeCheckWaitsForTheFirstLoad_data();
    void noticeCheckWaitsForTheFirstLoad();
    void withoutATrayThePanelOpensAsAWindow();
    void trayAppearingLateTurnsTheWindowIntoAPopup();
    void withATrayThePanelIsMadeWhenFirstOpened();
    void toolTipTitleTellsTheState_data();
    void toolTipTitleTellsTheState();
    void settingsWindowIsCreatedOnceAndBroughtForward();
    void keyStoredOrRemovedElsewhereIsReadAgain();

private:
    KelvoOptions options();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeSensiboCloud> m_cloud;
    std::unique_ptr<FakeSite> m_site;
    QStringList m_log;
};

void tst_KelvoApp::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_cloud = std::make_unique<FakeSensiboCloud>();
    m_site = std::make_unique<FakeSite>();
    QVERIFY(m_cloud->listen());
    QVERIFY(m_site->listen());
    m_site->setNotice("Kelvo 1.1 is out.");
    m_log.clear();
}

void tst_KelvoApp::cleanup()
{
    m_site.reset();
    m_cloud.reset();
    m_dir.reset();
}

KelvoOptions tst_KelvoApp::options()
{
    KelvoOptions options;
    options.preferencesDirectory = m_dir->path();
    options.cloudUrl = m_cloud->baseUrl();
    options.siteUrl = QUrl(m_site->baseUrl());
    options.updateHooks.log = [this](const QString& line) { m_log.append(line); };
    options.trayAvailable = false;
    return options;
}

void tst_KelvoApp::noticeCheckWaitsForTheFirstLoad_data()
{
    QTest::addColumn<int>("cloudStatus");
    QTest::newRow("load succeeds") << 200;
    QTest::newRow("load fails") << 500;
}

void tst_KelvoApp::noticeCheckWaitsForTheFirstLoad()
{
    QFETCH(int, cloudStatus);
    Preferences(m_dir->path()).setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("test-key"));
    m_cloud->setDelayMs(300);
    if (cloudStatus != 200) {
        FakeHttpServer::Response failure;
        failure.status = cloudStatus;
        failure.delayMs = 300;
        m_cloud->overrideDeviceList(failure);
    }
    int cloudAnswersBeforeNotice = -1;
    connect(&m_site->server(), &FakeHttpServer::requestReceived, this, [&] {
        if (cloudAnswersBeforeNotice < 0) {
            cloudAnswersBeforeNotice = m_cloud->deviceListCount();
        }
    });

    KelvoApp app(options());
    bool loadEndedBeforeNotice = false;
    connect(&app.service(), &SensiboService::isLoadingChanged, this, [&] {
        if (!app.service().isLoading() && m_site->requests().isEmpty()) {
            loadEndedBeforeNotice = true;
        }
    });
    app.start();
    QTRY_VERIFY(app.launchTaskFinished());
    QVERIFY(loadEndedBeforeNotice);
    QCOMPARE(cloudAnswersBeforeNotice, 2); // the first load, and the refresh task's own first one right after it
    QCOMPARE(m_site->requests().size(), 1);
    QVERIFY(m_log.contains(QStringLiteral("[Update] Suppressed (first launch)")));
    if (cloudStatus == 200) {
        QCOMPARE(app.service().devices().size(), 2);
    } else {
        QCOMPARE(app.service().errorMessage(), QStringLiteral("Server error (500)"));
    }
}

void tst_KelvoApp::withoutATrayThePanelOpensAsAWindow()
{
    KelvoApp app(options());
    app.start();
    QCOMPARE(app.panelWindow().kind(), PanelWindow::Kind::Window);
    QTRY_VERIFY(app.panelWindow().isVisible());
    QVERIFY(app.panelWindow().windowIcon().availableSizes().contains(QSize(48, 48))); // the taskbar shows Kelvo's
    QVERIFY(!app.trayIcon());
    QTRY_VERIFY(app.launchTaskFinished()); // no key: no load, then the notice check
    QCOMPARE(m_cloud->requests().size(), 0);
    QCOMPARE(m_site->requests().size(), 1);

    // The window is all there is of Kelvo: closing it quits.
    QTimer hangGuard;
    hangGuard.setSingleShot(true);
    connect(&hangGuard, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
    hangGuard.start(10000);
    QTimer::singleShot(0, &app.panelWindow(), &QWidget::close);
    QCOMPARE(QCoreApplication::exec(), 0);
}

void tst_KelvoApp::trayAppearingLateTurnsTheWindowIntoAPopup()
{
    FakeTrayHosts* hosts = nullptr;
    KelvoOptions withHosts = options();
    withHosts.trayAvailable.reset();
    withHosts.trayHosts = [&hosts] {
        auto made = std::make_unique<FakeTrayHosts>();
        hosts = made.get();
        return made;
    };
    withHosts.trayLossGrace = std::chrono::milliseconds(50);
    KelvoApp app(withHosts);
    app.start();
    QCOMPARE(app.panelWindow().kind(), PanelWindow::Kind::Window);
    QTRY_VERIFY(app.panelWindow().isVisible());

    hosts->setKind(TrayHosts::Kind::StatusNotifier);
    auto* icon = qobject_cast<FakeTrayIcon*>(app.trayIcon());
    QVERIFY(icon);
    QCOMPARE(app.panelWindow().kind(), PanelWindow::Kind::Popup);
    QVERIFY(!app.panelWindow().isVisible());
    QVERIFY(!icon->icon.isNull());
    QCOMPARE(icon->toolTip, QStringLiteral("Kelvo: No API Key Configured|"));

    QVERIFY(!icon->menu.isEmpty());
    QCOMPARE(icon->menu.first().label, QStringLiteral("No API Key Configured")); // the host draws the same menu

    // A double-click on the icon leaves the panel open; a host without menus of its own gets Kelvo's.
    Q_EMIT icon->activated(QRect(1200, 2, 1, 1));
    Q_EMIT icon->activated(QRect(1200, 2, 1, 1));
    QVERIFY(app.panelWindow().isVisible());
    app.panelWindow().hide();
    Q_EMIT icon->contextMenuRequested(QRect(1200, 2, 1, 1));
    QTRY_VERIFY(app.trayMenu().isVisible());
    QStringList entries;
    for (QAction* action : app.trayMenu().actions()) {
        entries.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    QCOMPARE(entries, (QStringList{"No API Key Configured", "Open Settings...", "-", "Quit Kelvo"}));
    app.trayMenu().hide();

    // A tray that restarts keeps the popup; one that stays away gives the window back.
    hosts->setKind(TrayHosts::Kind::None);
    hosts->setKind(TrayHosts::Kind::StatusNotifier);
    QTest::qWait(200);
    QCOMPARE(app.panelWindow().kind(), PanelWindow::Kind::Popup);
    hosts->setKind(TrayHosts::Kind::None);
    QVERIFY(!app.trayIcon());
    QTRY_COMPARE(app.panelWindow().kind(), PanelWindow::Kind::Window);
    QTRY_VERIFY(app.panelWindow().isVisible());

    // An XEmbed icon's menu is Kelvo's own, made when it opens: it shows what changed while nobody looked.
    hosts->setKind(TrayHosts::Kind::XEmbed);
    icon = qobject_cast<FakeTrayIcon*>(app.trayIcon());
    QVERIFY(icon && !icon->draws);
    Preferences(m_dir->path()).setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("test-key"));
    app.reloadApiKey(); // as `kelvo login` asks
    QTRY_COMPARE(app.service().devices().size(), 2);
    QTRY_VERIFY(!app.service().isLoading());
    Q_EMIT icon->contextMenuRequested(QRect(1200, 2, 1, 1));
    QTRY_VERIFY(app.trayMenu().isVisible());
    QVERIFY(app.trayMenu().actions().first()->text().startsWith(QStringLiteral("Living Room")));
    app.trayMenu().hide();
}

void tst_KelvoApp::withATrayThePanelIsMadeWhenFirstOpened()
{
    Preferences(m_dir->path()).setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("test-key"));
    KelvoOptions withTray = options();
    withTray.trayAvailable.reset();
    withTray.trayHosts = [] {
        auto made = std::make_unique<FakeTrayHosts>();
        made->setKind(TrayHosts::Kind::StatusNotifier);
        return made;
    };
    KelvoApp app(withTray);
    app.start();
    QVERIFY(app.service().isLoading()); // the first load has started
    auto* icon = qobject_cast<FakeTrayIcon*>(app.trayIcon());
    QVERIFY(icon && !icon->icon.isNull());
    QTRY_VERIFY(app.launchTaskFinished());
    QCOMPARE(app.service().devices().size(), 2);
    QVERIFY(!app.panelMade());

    Q_EMIT icon->activated(QRect(1200, 2, 1, 1));
    QVERIFY(app.panelMade());
    QCOMPARE(app.panelWindow().kind(), PanelWindow::Kind::Popup);
    QTRY_VERIFY(app.panelWindow().isVisible());
}

void tst_KelvoApp::toolTipTitleTellsTheState_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("cloudStatus");
    QTest::addColumn<QString>("toolTip"); // title|body: hosts such as LXQt show only the title
    QTest::newRow("no key") << QString() << 200 << "Kelvo: No API Key Configured|";
    QTest::newRow("a device") << "test-key" << 200 << "Kelvo: Living Room — Cool, 22°C|";
    QTest::newRow("the load fails") << "test-key" << 500 << "Kelvo: Server error (500)|";
}

void tst_KelvoApp::toolTipTitleTellsTheState()
{
    QFETCH(QString, key);
    QFETCH(int, cloudStatus);
    QFETCH(QString, toolTip);
    if (!key.isEmpty()) {
        Preferences(m_dir->path()).setText(QStringLiteral("sensiboAPIKey"), key);
    }
    if (cloudStatus != 200) {
        FakeHttpServer::Response failure;
        failure.status = cloudStatus;
        m_cloud->overrideDeviceList(failure);
    }
    KelvoOptions withTray = options();
    withTray.trayAvailable.reset();
    withTray.trayHosts = [] {
        auto hosts = std::make_unique<FakeTrayHosts>();
        hosts->setKind(TrayHosts::Kind::StatusNotifier);
        return hosts;
    };
    KelvoApp app(withTray);
    app.start();
    auto* icon = qobject_cast<FakeTrayIcon*>(app.trayIcon());
    QVERIFY(icon);
    QTRY_COMPARE(icon->toolTip, toolTip);
}

void tst_KelvoApp::settingsWindowIsCreatedOnceAndBroughtForward()
{
    KelvoApp app(options());
    QVERIFY(!app.settings());
    app.openSettings();
    SettingsView* first = app.settings();
    QVERIFY(first);
    QTRY_VERIFY(first->isVisible());
    first->hide();
    app.openSettings();
    QCOMPARE(app.settings(), first);
    QTRY_VERIFY(first->isVisible());
}

// `kelvo login` and `kelvo logout` store and remove the key, then ask the running Kelvo to read it again.
void tst_KelvoApp::keyStoredOrRemovedElsewhereIsReadAgain()
{
    KelvoApp app(options());
    app.start();
    QTRY_VERIFY(app.launchTaskFinished());
    QVERIFY(Preferences(m_dir->path()).setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("test-key")));
    app.reloadApiKey();
    QCOMPARE(app.service().apiKey(), QStringLiteral("test-key"));
    QTRY_COMPARE(app.service().devices().size(), 2);

    QVERIFY(Preferences(m_dir->path()).remove(QStringLiteral("sensiboAPIKey")));
    app.reloadApiKey();
    QCOMPARE(app.service().apiKey(), QString());
}

QTEST_MAIN(tst_KelvoApp)
#include "tst_KelvoApp.moc"
