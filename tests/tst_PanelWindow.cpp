#include "app/PanelWindow.h"

#include <QScreen>
#include <QTest>

namespace {
// Content that takes its new height when its layout request is handled, as the panel's content does.
class SettlingContent : public QWidget
{
public:
    void settleAt(int height)
    {
        m_height = height;
        QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest) {
            setFixedSize(300, m_height);
        }
        return QWidget::event(event);
    }

private:
    int m_height = 100;
};
} // namespace

class tst_PanelWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void placement_data();
    void placement();
    void panelStaysNextToItsIcon_data();
    void panelStaysNextToItsIcon();
};

void tst_PanelWindow::placement_data()
{
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QPoint>("expected");
    QTest::addColumn<int>("room");       // the most height the panel has there
    const QRect screen(0, 0, 1280, 800); // panel 300 x 400 below
    QTest::newRow("top-right tray: below, right edges aligned") << QRect(1200, 2, 24, 24) << QPoint(924, 30) << 770;
    QTest::newRow("bottom tray, left half: above, left edges aligned")
        << QRect(600, 774, 24, 24) << QPoint(600, 370) << 770;
    QTest::newRow("near the left edge: left edges aligned") << QRect(10, 2, 24, 24) << QPoint(10, 30) << 770;
    QTest::newRow("off the right edge: kept on screen") << QRect(1290, 2, 24, 24) << QPoint(980, 2) << 800;
    QTest::newRow("pointer in the middle") << QRect(640, 300, 1, 1) << QPoint(341, 305) << 464;
    QTest::newRow("left bar: the whole height") << QRect(2, 600, 24, 24) << QPoint(30, 224) << 800;
}

void tst_PanelWindow::placement()
{
    QFETCH(QRect, anchor);
    QFETCH(QPoint, expected);
    QFETCH(int, room);
    QCOMPARE(PanelWindow::placement(QSize(300, 400), anchor, QRect(0, 0, 1280, 800)), expected);
    QCOMPARE(PanelWindow::roomHeight(PanelWindow::iconArea(anchor, QRect(0, 0, 1280, 800)), QRect(0, 0, 1280, 800)),
             room);
}

void tst_PanelWindow::panelStaysNextToItsIcon_data()
{
    QTest::addColumn<QString>("edge");
    QTest::addColumn<int>("openHeight");
    QTest::addColumn<int>("laterHeight"); // 0: stays as opened
    QTest::addColumn<bool>("point");      // the tray host reports a point on the icon, not the icon's geometry
    QTest::addColumn<int>("screen");
    for (int screen : {0, 1}) {
        for (const char* edge : {"top", "bottom", "left", "right"}) {
            QTest::addRow("screen %d, %s, first open", screen, edge) << edge << 420 << 0 << false << screen;
            QTest::addRow("screen %d, %s, grows while open", screen, edge) << edge << 250 << 470 << false << screen;
            QTest::addRow("screen %d, %s, shrinks while open", screen, edge) << edge << 470 << 180 << false << screen;
            QTest::addRow("screen %d, %s, a point on the icon, grows while open", screen, edge)
                << edge << 250 << 470 << true << screen;
        }
    }
}

void tst_PanelWindow::panelStaysNextToItsIcon()
{
    QFETCH(QString, edge);
    QFETCH(int, openHeight);
    QFETCH(int, laterHeight);
    QFETCH(bool, point);
    QFETCH(int, screen);
    if (screen >= QGuiApplication::screens().size()) {
        QSKIP("one screen only: run it under CTest, which gives it two");
    }
    const QRect available = QGuiApplication::screens().at(screen)->availableGeometry();
    const QRect icon = edge == "top"      ? QRect(available.right() - 60, available.top() + 2, 24, 24)
                       : edge == "bottom" ? QRect(available.left() + 80, available.bottom() - 25, 24, 24)
                       : edge == "left"   ? QRect(available.left() + 2, available.top() + 120, 24, 24)
                                          : QRect(available.right() - 25, available.bottom() - 150, 24, 24);
    const auto check = [&](const QRect& panel) {
        QString where;
        QDebug(&where) << panel;
        QVERIFY2(available.contains(panel), qPrintable(where));
        QVERIFY2(!panel.intersects(icon), qPrintable(where));
        const int apart = std::max({panel.top() - icon.bottom(), icon.top() - panel.bottom(),
                                    panel.left() - icon.right(), icon.left() - panel.right()}) -
                          1;
        if (point) { // where on the icon the point is, is unknown: the panel keeps an icon's size away
            QVERIFY2(apart >= 4 && apart <= 4 + 32, qPrintable(QString::number(apart)));
        } else {
            QCOMPARE(apart, 4);
        }
    };

    auto* content = new SettlingContent;
    content->setFixedSize(300, 100);
    PanelWindow panel(content, PanelWindow::Kind::Popup);
    panel.adjustSize();
    content->settleAt(openHeight); // changed while closed, as the panel's content does when the devices load
    panel.openNear(point ? QRect(icon.center(), QSize(1, 1)) : icon);
    QCOMPARE(panel.height(), openHeight);
    check(panel.geometry());
    if (laterHeight > 0) {
        content->settleAt(laterHeight);
        QTRY_COMPARE(panel.height(), laterHeight);
        check(panel.geometry());
    }
}

QTEST_MAIN(tst_PanelWindow)
#include "tst_PanelWindow.moc"
