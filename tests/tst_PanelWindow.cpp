#include "app/PanelWindow.h"
#include "app/X11Desktop.h"

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
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QList<X11Desktop::Strut>>("struts"); // the docks' _NET_WM_STRUT(_PARTIAL), in a root of `root`
    QTest::addColumn<QSize>("root");
    QTest::addColumn<QPoint>("expected");
    QTest::addColumn<int>("room");    // the most height the panel has there
    const QRect one(0, 0, 1280, 800); // panel 300 x 400 below
    QTest::newRow("top-right tray: below, right edges aligned")
        << QRect(1200, 2, 24, 24) << one << QList<X11Desktop::Strut>() << one.size() << QPoint(924, 30) << 770;
    QTest::newRow("bottom tray, left half: above, left edges aligned")
        << QRect(600, 774, 24, 24) << one << QList<X11Desktop::Strut>() << one.size() << QPoint(600, 370) << 770;
    QTest::newRow("near the left edge: left edges aligned")
        << QRect(10, 2, 24, 24) << one << QList<X11Desktop::Strut>() << one.size() << QPoint(10, 30) << 770;
    QTest::newRow("left bar: the whole height")
        << QRect(2, 600, 24, 24) << one << QList<X11Desktop::Strut>() << one.size() << QPoint(30, 224) << 800;
    QTest::newRow("off the right edge: kept on screen")
        << QRect(1290, 2, 24, 24) << one << QList<X11Desktop::Strut>() << one.size() << QPoint(980, 2) << 800;
    QTest::newRow("pointer in the middle: an icon's size clear of it")
        << QRect(640, 300, 1, 1) << one << QList<X11Desktop::Strut>() << one.size() << QPoint(372, 336) << 464;
    QTest::newRow("a top bar's older whole-edge strut: 4 px below the bar")
        << QRect(1200, 10, 1, 1) << one << QList<X11Desktop::Strut>{{0, 0, 30, 0}} << one.size() << QPoint(901, 34)
        << 766;
    // A second monitor beside a taller one, 200 px lower; a 28 px bar along its bottom edge reserves the root
    // window's bottom 108 px over that monitor's width. _NET_WORKAREA cannot say so.
    const QRect second(1920, 200, 1280, 800);
    const X11Desktop::Strut bottomBarOnSecond{0, 0, 0, 108, 0, 0, 0, 0, 0, 0, 1920, 3199};
    QTest::newRow("a bar on the second monitor: 4 px above the bar")
        << QRect(3100, 986, 1, 1) << second << QList<X11Desktop::Strut>{bottomBarOnSecond} << QSize(3200, 1080)
        << QPoint(2801, 568) << 768;
    QTest::newRow("a bar on the other monitor: no room kept on this one")
        << QRect(1800, 1050, 24, 24) << QRect(0, 0, 1920, 1080) << QList<X11Desktop::Strut>{bottomBarOnSecond}
        << QSize(3200, 1080) << QPoint(1524, 646) << 1046;
}

void tst_PanelWindow::placement()
{
    QFETCH(QRect, anchor);
    QFETCH(QRect, screen);
    QFETCH(QList<X11Desktop::Strut>, struts);
    QFETCH(QSize, root);
    QFETCH(QPoint, expected);
    QFETCH(int, room);
    const QRect available = X11Desktop::withStruts(screen, screen, struts, root);
    const QRect icon = PanelWindow::iconArea(anchor, available);
    QCOMPARE(PanelWindow::placement(QSize(300, 400), icon, available), expected);
    QCOMPARE(PanelWindow::roomHeight(icon, available), room);
}

void tst_PanelWindow::panelStaysNextToItsIcon_data()
{
    QTest::addColumn<QString>("edge");
    QTest::addColumn<int>("openHeight");
    QTest::addColumn<int>("laterHeight"); // 0: stays as opened
    QTest::addColumn<bool>("point");      // the tray host reports a point on the icon, not the icon's geometry
    QTest::addColumn<int>("screen");
    QTest::addColumn<bool>("lateTray"); // shown as a window while there was no tray, then opened twice as a popup
    for (int screen : {0, 1}) {
        for (const char* edge : {"top", "bottom", "left", "right"}) {
            QTest::addRow("screen %d, %s, first open", screen, edge) << edge << 420 << 0 << false << screen << false;
            QTest::addRow("screen %d, %s, grows while open", screen, edge)
                << edge << 250 << 470 << false << screen << false;
            QTest::addRow("screen %d, %s, shrinks while open", screen, edge)
                << edge << 470 << 180 << false << screen << false;
            QTest::addRow("screen %d, %s, a point on the icon, grows while open", screen, edge)
                << edge << 250 << 470 << true << screen << false;
            QTest::addRow("screen %d, %s, a tray that came late, opened twice", screen, edge)
                << edge << 420 << 0 << true << screen << true;
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
    QFETCH(bool, lateTray);
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
    PanelWindow panel(content, lateTray ? PanelWindow::Kind::Window : PanelWindow::Kind::Popup);
    panel.adjustSize();
    if (lateTray) { // a window with a frame first, moved by its user
        panel.openNear({});
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.move(available.topLeft() + QPoint(40, 60));
        panel.setKind(PanelWindow::Kind::Popup);
    }
    content->settleAt(openHeight); // changed while closed, as the panel's content does when the devices load
    const QRect anchor = point ? QRect(icon.center(), QSize(1, 1)) : icon;
    panel.openNear(anchor);
    QCOMPARE(panel.height(), openHeight);
    check(panel.geometry());
    if (lateTray) {
        const QRect first = panel.geometry();
        panel.hide();
        QTest::qWait(300); // past the guard against reopening by the click that closed it
        panel.openNear(anchor);
        QCOMPARE(panel.geometry(), first);
        QCOMPARE(panel.frameGeometry(), first);
    }
    if (laterHeight > 0) {
        content->settleAt(laterHeight);
        QTRY_COMPARE(panel.height(), laterHeight);
        check(panel.geometry());
    }
}

QTEST_MAIN(tst_PanelWindow)
#include "tst_PanelWindow.moc"
