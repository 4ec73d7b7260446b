#include "app/MenuBarIcon.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tests/support/CloudFixture.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

class tst_MenuBarIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void restsFullyOpaqueWhileNotLoading();
    void pulsesFromTheFirstMomentOfALoad();
    void endOfLoadingRestoresFullOpacityAtOnce();
    void pictureFollowsTheSelectedDevice();
    void renderHonoursOpacity();

private:
    std::unique_ptr<CloudFixture> m_fixture;
    std::unique_ptr<SensiboService> m_service;
};

void tst_MenuBarIcon::init()
{
    m_fixture = std::make_unique<CloudFixture>();
    QVERIFY(m_fixture->listening);
    m_fixture->preferences.setText(QStringLiteral("sensiboAPIKey"), QStringLiteral("test-key"));
    m_service = m_fixture->makeService();
}

void tst_MenuBarIcon::cleanup()
{
    m_service.reset();
    m_fixture.reset();
}

void tst_MenuBarIcon::restsFullyOpaqueWhileNotLoading()
{
    MenuBarIcon icon(*m_service, {20ms, 20});
    QCOMPARE(icon.pulsePhase(), false);
    QCOMPARE(icon.opacity(), 1.0);
    QCOMPARE(icon.iconName(), QStringLiteral("ac-off"));
    QVERIFY(!icon.icon().isNull());
    QSignalSpy phases(&icon, &MenuBarIcon::pulsePhaseChanged);
    QTest::qWait(100);
    QCOMPARE(phases.size(), 0); // nothing of the icon's own runs between loads
}

void tst_MenuBarIcon::pulsesFromTheFirstMomentOfALoad()
{
    MenuBarIcon icon(*m_service, {40ms, 40});
    const int drawingsAtRest = icon.drawingsMade();
    QList<bool> phases;
    qreal lowest = 1.0;
    connect(&icon, &MenuBarIcon::pulsePhaseChanged, this, [&] { phases.append(icon.pulsePhase()); });
    connect(&icon, &MenuBarIcon::iconChanged, this, [&] { lowest = std::min(lowest, icon.opacity()); });

    m_fixture->cloud.setDelayMs(600);
    m_service->fetchDevices();
    QCOMPARE(m_service->isLoading(), true);
    QCOMPARE(phases, QList<bool>{true}); // the first flip does not wait for a step
    QCOMPARE(icon.opacity(), 1.0);       // it fades from where it was, not jumps
    QCOMPARE(icon.targetOpacity(), MenuBarIcon::dimmedOpacity);

    QTRY_VERIFY(phases.size() >= 4);
    for (int i = 0; i < phases.size(); ++i) {
        QCOMPARE(phases[i], i % 2 == 0); // strictly alternating
    }
    QVERIFY(lowest < 0.6);
    QVERIFY(lowest >= MenuBarIcon::dimmedOpacity - 0.03);
    // The frames paint the drawings made at rest with their opacity: the asset is not drawn again while it fades.
    QVERIFY(drawingsAtRest > 0);
    QCOMPARE(icon.drawingsMade(), drawingsAtRest);
}

void tst_MenuBarIcon::endOfLoadingRestoresFullOpacityAtOnce()
{
    MenuBarIcon icon(*m_service, {10s, 40}); // one flip, then a long step: the phase stays true until loading ends
    m_fixture->cloud.setDelayMs(200);
    bool phaseWhenDone = true;
    qreal opacityWhenDone = 0;
    connect(m_service.get(), &SensiboService::isLoadingChanged, this, [&] {
        if (!m_service->isLoading()) {
            phaseWhenDone = icon.pulsePhase();
            opacityWhenDone = icon.opacity();
        }
    });
    m_service->fetchDevices();
    QVERIFY(icon.pulsePhase());
    QTRY_VERIFY(icon.opacity() < 0.5);
    QTRY_COMPARE(m_service->isLoading(), false);
    QCOMPARE(phaseWhenDone, false);
    QCOMPARE(opacityWhenDone, 1.0);
    QTest::qWait(100); // the fade that was running does not come back
    QCOMPARE(icon.opacity(), 1.0);
}

void tst_MenuBarIcon::pictureFollowsTheSelectedDevice()
{
    MenuBarIcon icon(*m_service, {20ms, 20});
    QSignalSpy changed(&icon, &MenuBarIcon::iconChanged);
    m_fixture->cloud.setDevices({FakeSensiboCloud::makeDevice("a", "Den", true, "cool"),
                                 FakeSensiboCloud::makeDevice("b", "Hall", true, "heat")});
    QCoro::waitFor(m_service->fetchDevices());
    QCOMPARE(icon.iconName(), QStringLiteral("ac-cool"));
    m_service->setSelectedDeviceId(QStringLiteral("b"));
    QCOMPARE(icon.iconName(), QStringLiteral("ac-heat"));
    m_service->setUseMonochromeIcons(true);
    QCOMPARE(icon.iconName(), QStringLiteral("ac-on"));
    QVERIFY(changed.size() >= 3);
}

void tst_MenuBarIcon::renderHonoursOpacity()
{
    for (const char* name : {"ac-off", "ac-on", "ac-cool", "ac-heat"}) {
        const QImage full = MenuBarIcon::render(QLatin1String(name), 22, 1.0).toImage();
        const QImage dim = MenuBarIcon::render(QLatin1String(name), 22, 0.35).toImage();
        QCOMPARE(full.size(), QSize(22, 22));
        int maxFull = 0;
        int maxDim = 0;
        for (int y = 0; y < 22; ++y) {
            for (int x = 0; x < 22; ++x) {
                maxFull = std::max(maxFull, qAlpha(full.pixel(x, y)));
                maxDim = std::max(maxDim, qAlpha(dim.pixel(x, y)));
            }
        }
        QVERIFY2(maxFull > 150, name); // the asset exists and draws
        QVERIFY(maxDim < maxFull * 0.5);
    }
}

QTEST_MAIN(tst_MenuBarIcon)
#include "tst_MenuBarIcon.moc"
