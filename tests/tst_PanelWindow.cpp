#include "app/PanelWindow.h"
#include "app/SingleInstance.h"

#include <QSignalSpy>
#include <QTest>
#include <QUuid>

class tst_PanelWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void placement_data();
    void placement();
    void secondStartHandsOverToTheFirst();
};

void tst_PanelWindow::placement_data()
{
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QPoint>("expected");
    const QRect screen(0, 0, 1280, 800); // panel 300 x 400 below
    QTest::newRow("top-right tray: below, right edges aligned") << QRect(1200, 2, 24, 24) << QPoint(924, 30);
    QTest::newRow("bottom tray: above") << QRect(600, 774, 24, 24) << QPoint(324, 370);
    QTest::newRow("near the left edge: kept on screen") << QRect(10, 2, 24, 24) << QPoint(0, 30);
    QTest::newRow("off the right edge: kept on screen") << QRect(1290, 2, 24, 24) << QPoint(980, 30);
    QTest::newRow("pointer in the middle") << QRect(640, 300, 1, 1) << QPoint(341, 305);
}

void tst_PanelWindow::placement()
{
    QFETCH(QRect, anchor);
    QFETCH(QPoint, expected);
    QCOMPARE(PanelWindow::placement(QSize(300, 400), anchor, QRect(0, 0, 1280, 800)), expected);
}

void tst_PanelWindow::secondStartHandsOverToTheFirst()
{
    const QString name = QStringLiteral("kelvo-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    SingleInstance first(name);
    QVERIFY(!first.handOverToRunningInstance());
    QSignalSpy asked(&first, &SingleInstance::activationRequested);

    SingleInstance second(name);
    QVERIFY(second.handOverToRunningInstance());
    QTRY_COMPARE(asked.size(), 1);
}

QTEST_MAIN(tst_PanelWindow)
#include "tst_PanelWindow.moc"
