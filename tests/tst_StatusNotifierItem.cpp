#include "tray/DesktopTrayHosts.h"
#include "tray/StatusNotifierItem.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

// A tray host's watcher on the test's own session bus (ctest runs this test under dbus-run-session).
class FakeWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    bool isHostRegistered() const { return true; }
    QStringList items;

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
};

class IconSignals : public QObject
{
    Q_OBJECT

public:
    int newIcons = 0;

public Q_SLOTS:
    void onNewIcon() { ++newIcons; }
};

class tst_StatusNotifierItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostAppearsLateAndTheItemAnswersIt();

private:
    QDBusMessage itemCall(const QString& service, const QString& interface, const QString& method);
};

QDBusMessage tst_StatusNotifierItem::itemCall(const QString& service, const QString& interface, const QString& method)
{
    return QDBusMessage::createMethodCall(service, QLatin1String(StatusNotifierItem::objectPath), interface, method);
}

void tst_StatusNotifierItem::hostAppearsLateAndTheItemAnswersIt()
{
    QDBusConnection kelvoBus = QDBusConnection::sessionBus();
    QVERIFY2(kelvoBus.isConnected(), "no session bus: run under dbus-run-session");
    QDBusConnection hostBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("host"));
    QVERIFY(hostBus.isConnected());

    DesktopTrayHosts hosts(
        kelvoBus, [] { return false; }, 50ms);
    QTRY_VERIFY(hosts.settled());
    QCOMPARE(hosts.kind(), TrayHosts::Kind::None);
    QVERIFY(!hosts.createIcon());

    // The tray host starts after Kelvo.
    FakeWatcher watcher;
    QVERIFY(hostBus.registerObject(QLatin1String(StatusNotifierItem::watcherPath), &watcher,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    QVERIFY(hostBus.registerService(QLatin1String(StatusNotifierItem::watcherService)));
    QTRY_COMPARE(hosts.kind(), TrayHosts::Kind::StatusNotifier);

    std::unique_ptr<TrayIcon> icon = hosts.createIcon();
    auto* item = qobject_cast<StatusNotifierItem*>(icon.get());
    QVERIFY(item);
    QTRY_COMPARE(watcher.items.size(), 1);
    const QString service = watcher.items.first();
    QVERIFY(QRegularExpression(
                QStringLiteral("^org\\.kde\\.StatusNotifierItem-%1-\\d+$").arg(QCoreApplication::applicationPid()))
                .match(service)
                .hasMatch());

    // Clicks carry the point the host saw.
    QSignalSpy activated(item, &TrayIcon::activated);
    QSignalSpy menu(item, &TrayIcon::contextMenuRequested);
    const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
    QDBusMessage activate = itemCall(service, itemInterface, QStringLiteral("Activate"));
    activate << 120 << 5;
    hostBus.asyncCall(activate);
    QTRY_COMPARE(activated.size(), 1);
    QCOMPARE(activated.first().first().toRect(), QRect(120, 5, 1, 1));
    QDBusMessage contextMenu = itemCall(service, itemInterface, QStringLiteral("ContextMenu"));
    contextMenu << 300 << 790;
    hostBus.asyncCall(contextMenu);
    QTRY_COMPARE(menu.size(), 1);
    QCOMPARE(menu.first().first().toRect(), QRect(300, 790, 1, 1));

    // What the host reads: no D-Bus menu (so it asks for ContextMenu), pictures as big-endian ARGB.
    QPixmap red(64, 64);
    red.fill(QColor(255, 0, 0));
    item->setIcon(QIcon(red));
    item->setToolTip(QStringLiteral("Kelvo"), QStringLiteral("Living Room — Cool, 22°C"));
    QDBusMessage getAll =
        itemCall(service, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    getAll << itemInterface;
    QDBusPendingReply<QVariantMap> all = hostBus.asyncCall(getAll);
    QTRY_VERIFY(all.isFinished());
    QVERIFY2(!all.isError(), qPrintable(all.error().message()));
    const QVariantMap properties = all.value();
    QCOMPARE(properties.value(QStringLiteral("Id")).toString(), QStringLiteral("kelvo"));
    QCOMPARE(properties.value(QStringLiteral("Title")).toString(), QStringLiteral("Kelvo"));
    QCOMPARE(properties.value(QStringLiteral("Category")).toString(), QStringLiteral("ApplicationStatus"));
    QCOMPARE(properties.value(QStringLiteral("ItemIsMenu")).toBool(), false);
    QVERIFY(!properties.contains(QStringLiteral("Menu")));
    StatusNotifierPixmaps pixmaps;
    properties.value(QStringLiteral("IconPixmap")).value<QDBusArgument>() >> pixmaps;
    QList<int> sizes;
    for (const StatusNotifierPixmap& pixmap : pixmaps) {
        sizes.append(pixmap.width);
        QCOMPARE(pixmap.bytes.size(), pixmap.width * pixmap.height * 4);
    }
    QCOMPARE(sizes, (QList<int>{16, 22, 24, 32}));
    QCOMPARE(pixmaps.first().bytes.left(4), QByteArray::fromHex("ffff0000"));
    StatusNotifierToolTip toolTip;
    properties.value(QStringLiteral("ToolTip")).value<QDBusArgument>() >> toolTip;
    QCOMPARE(toolTip.title, QStringLiteral("Kelvo"));
    QCOMPARE(toolTip.body, QStringLiteral("Living Room — Cool, 22°C"));

    // A pulse's thirty frames in a burst reach the host as the first one and, one interval later, the last.
    IconSignals received;
    QVERIFY(hostBus.connect(service, QLatin1String(StatusNotifierItem::objectPath), itemInterface,
                            QStringLiteral("NewIcon"), &received, SLOT(onNewIcon())));
    QTest::qWait(1000 / StatusNotifierItem::maxIconUpdatesPerSecond * 2); // past the picture set above
    received.newIcons = 0;
    for (int frame = 0; frame < 30; ++frame) {
        red.fill(QColor(255, 0, 0, 255 - frame * 5));
        item->setIcon(QIcon(red));
    }
    QTRY_COMPARE(received.newIcons, 2);
    QTest::qWait(300);
    QCOMPARE(received.newIcons, 2);

    // The host's watcher goes and comes back: the kind follows.
    QVERIFY(hostBus.unregisterService(QLatin1String(StatusNotifierItem::watcherService)));
    QTRY_COMPARE(hosts.kind(), TrayHosts::Kind::None);
    QSignalSpy changes(&hosts, &TrayHosts::hostsChanged);
    QVERIFY(hostBus.registerService(QLatin1String(StatusNotifierItem::watcherService)));
    QTRY_COMPARE(hosts.kind(), TrayHosts::Kind::StatusNotifier);
    QCOMPARE(changes.size(), 1);
    icon.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("host"));
}

QTEST_MAIN(tst_StatusNotifierItem)
#include "tst_StatusNotifierItem.moc"
