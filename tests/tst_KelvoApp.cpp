#include "app/KelvoApp.h"
#include "app/PanelWindow.h"
#include "tests/support/FakeSensiboCloud.h"
#include "tests/support/FakeSite.h"

#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

class tst_KelvoApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void noticeCheckWaitsForTheFirstLoad_data();
    void noticeCheckWaitsForTheFirstLoad();
    void withoutATrayThePanelOpensAsAWindow();
    void settingsWindowIsCreatedOnceAndBroughtForward();

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
    QVERIFY(!app.icon().tray()->isVisible());
    QTRY_VERIFY(app.launchTaskFinished()); // no key: no load, then the notice check
    QCOMPARE(m_cloud->requests().size(), 0);
    QCOMPARE(m_site->requests().size(), 1);
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

QTEST_MAIN(tst_KelvoApp)
#include "tst_KelvoApp.moc"
