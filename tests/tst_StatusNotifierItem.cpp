#include "tray/DBusMenu.h"
#include "tray/DesktopTrayHosts.h"
#include "tray/LikelyTrayAnchor.h"
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

// An X11 tray manager the test starts and stops.
class FakeXEmbedTrays : public XEmbedTrays
{
    Q_OBJECT

public:
    bool available() const override { return up; }
    void set(bool isUp)
    {
        up = isUp;
        Q_EMIT changed();
    }
    bool up = false;
};

class IconSignals : public QObject
{
    Q_OBJECT

public:
    int newIcons = 0;

public Q_SLOTS:
    void onNewIcon() { ++newIcons; }
};

// What a host hears from the D-Bus menu.
class MenuSignals : public QObject
{
    Q_OBJECT

public:
    QList<uint> layoutRevisions;
    QList<QDBusMessage> propertyUpdates;

public Q_SLOTS:
    void onLayoutUpdated(uint revision, int) { layoutRevisions.append(revision); }
    void onItemsPropertiesUpdated(const QDBusMessage& message) { propertyUpdates.append(message); }
};

namespace {
// An entry and its children as a host reads them, without the ids: "Power{toggle-state=1,toggle-type=checkmark}".
QString describe(const DBusMenuLayoutItem& item)
{
    QStringList properties;
    for (auto it = item.properties.cbegin(); it != item.properties.cend(); ++it) {
        if (it.key() != QLatin1String("label")) {
            properties.append(it.key() + QLatin1Char('=') + it.value().toString());
        }
    }
    QString text = item.properties.value(QStringLiteral("label")).toString();
    if (!properties.isEmpty()) {
        text += QLatin1Char('{') + properties.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    if (!item.children.isEmpty()) {
        QStringList children;
        for (const DBusMenuLayoutItem& child : item.children) {
            children.append(describe(child));
        }
        text += QLatin1Char('[') + children.join(QStringLiteral("; ")) + QLatin1Char(']');
    }
    return text;
}

int idOf(const DBusMenuLayoutItem& item, const QString& label)
{
    if (item.properties.value(QStringLiteral("label")).toString() == label) {
        return item.id;
    }
    for (const DBusMenuLayoutItem& child : item.children) {
        if (const int id = idOf(child, label); id >= 0) {
            return id;
        }
    }
    return -1;
}
} // namespace

class tst_StatusNotifierItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostAppearsLateAndTheItemAnswersIt();
    void hostReadsTheMenuAndHearsOnlyWhatChanged();
    void panelGoesToTheCornerWhereTheTrayIs_data();
    void panelGoesToTheCornerWhereTheTrayIs();

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

    auto ownedXEmbed = std::make_unique<FakeXEmbedTrays>();
    FakeXEmbedTrays* xembed = ownedXEmbed.get();
    DesktopTrayHosts hosts(kelvoBus, std::move(ownedXEmbed));
    QTRY_VERIFY(hosts.settled());
    QCOMPARE(hosts.kind(), TrayHosts::Kind::None);
    QVERIFY(!hosts.createIcon());

    // An XEmbed tray manager comes and goes: the kind follows when the X server says so, with nothing asked between.
    QSignalSpy xembedChanges(&hosts, &TrayHosts::hostsChanged);
    xembed->set(true);
    QCOMPARE(hosts.kind(), TrayHosts::Kind::XEmbed);
    xembed->set(false);
    QCOMPARE(hosts.kind(), TrayHosts::Kind::None);
    QCOMPARE(xembedChanges.size(), 2);

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
    QCOMPARE(item->takeActivationToken(), QString()); // none given
    // GNOME's extension hands over an activation token before each Activate; it serves that activation only.
    const QString token = QStringLiteral("gnome-shell/Kelvo/2385-4-host_TIME81723");
    QDBusMessage provide = itemCall(service, itemInterface, QStringLiteral("ProvideXdgActivationToken"));
    provide << token;
    hostBus.asyncCall(provide);
    hostBus.asyncCall(activate);
    QTRY_COMPARE(activated.size(), 2);
    QCOMPARE(item->takeActivationToken(), token);
    QCOMPARE(item->takeActivationToken(), QString());
    QDBusMessage contextMenu = itemCall(service, itemInterface, QStringLiteral("ContextMenu"));
    contextMenu << 300 << 790;
    hostBus.asyncCall(contextMenu);
    QTRY_COMPARE(menu.size(), 1);
    QCOMPARE(menu.first().first().toRect(), QRect(300, 790, 1, 1));

    // What the host reads: a D-Bus menu (not instead of Activate), pictures as big-endian ARGB.
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
    QCOMPARE(properties.value(QStringLiteral("Menu")).value<QDBusObjectPath>().path(),
             QLatin1String(DBusMenu::objectPath));
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

void tst_StatusNotifierItem::hostReadsTheMenuAndHearsOnlyWhatChanged()
{
    QDBusConnection hostBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("menu-host"));
    QVERIFY(hostBus.isConnected());
    StatusNotifierItem item(QDBusConnection::sessionBus()); // no watcher: the objects are on the bus all the same
    const QString service = QDBusConnection::sessionBus().baseService();
    const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");
    const auto call = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(service, QLatin1String(DBusMenu::objectPath), menuInterface, method);
        message.setArguments(arguments);
        return hostBus.call(message, QDBus::BlockWithGui); // the item answers from this thread's event loop
    };
    MenuSignals heard;
    QVERIFY(hostBus.connect(service, QLatin1String(DBusMenu::objectPath), menuInterface,
                            QStringLiteral("LayoutUpdated"), &heard, SLOT(onLayoutUpdated(uint, int))));
    QVERIFY(hostBus.connect(service, QLatin1String(DBusMenu::objectPath), menuInterface,
                            QStringLiteral("ItemsPropertiesUpdated"), &heard,
                            SLOT(onItemsPropertiesUpdated(QDBusMessage))));

    int powerClicks = 0;
    int quits = 0;
    const auto tree = [&](bool on, const QString& room, bool withHeat) {
        TrayMenuItem mode{.key = "mode", .label = "Mode: Cool"};
        mode.children.append(
            {.key = "mode/cool", .label = "Cool", .toggle = TrayMenuItem::Toggle::Radio, .checked = true});
        if (withHeat) {
            mode.children.append({.key = "mode/heat", .label = "Heat", .toggle = TrayMenuItem::Toggle::Radio});
        }
        return QList<TrayMenuItem>{
            {.key = "header", .label = room, .enabled = false},
            {.key = "power",
             .label = "Power",
             .toggle = TrayMenuItem::Toggle::Check,
             .checked = on,
             .action = [&] { ++powerClicks; }},
            mode,
            {.key = "separator", .separator = true},
            {.key = "quit", .label = "Quit Kelvo", .action = [&] { ++quits; }},
        };
    };
    item.setMenu(tree(true, "Kid_s Room", true));

    const auto layout = [&] {
        const QDBusMessage reply = call("GetLayout", {0, -1, QStringList()});
        DBusMenuLayoutItem root;
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 2) {
            reply.arguments().at(1).value<QDBusArgument>() >> root;
        }
        return std::pair{reply.arguments().value(0).toUInt(), root};
    };
    auto [revision, root] = layout();
    QCOMPARE(describe(root),
             QStringLiteral("{children-display=submenu}[Kid__s Room{enabled=false}; "
                            "Power{toggle-state=1,toggle-type=checkmark}; "
                            "Mode: Cool{children-display=submenu}[Cool{toggle-state=1,toggle-type=radio}; "
                            "Heat{toggle-state=0,toggle-type=radio}]; {type=separator}; Quit Kelvo]"));
    const int power = idOf(root, "Power");
    const int header = idOf(root, "Kid__s Room");
    QCOMPARE(heard.layoutRevisions, QList<uint>{revision}); // the first tree, heard before the answer
    heard.layoutRevisions.clear();

    // The unit switched off: one property of one entry, no new layout.
    item.setMenu(tree(false, "Kid_s Room", true));
    QTRY_COMPARE(heard.propertyUpdates.size(), 1);
    DBusMenuItemPropertiesList updated;
    heard.propertyUpdates.first().arguments().at(0).value<QDBusArgument>() >> updated;
    QCOMPARE(updated.size(), 1);
    QCOMPARE(updated.first().id, power);
    QCOMPARE(updated.first().properties, (QVariantMap{{"toggle-state", 0}}));
    item.setMenu(tree(false, "Kid_s Room", true)); // the same again: nothing
    // One entry fewer and a label changed: a new layout, and the entry that stayed hears of its label.
    item.setMenu(tree(false, "Bedroom", false));
    QTRY_COMPARE(heard.layoutRevisions, QList<uint>{revision + 1});
    QCOMPARE(heard.propertyUpdates.size(), 2);
    heard.propertyUpdates.last().arguments().at(0).value<QDBusArgument>() >> updated;
    QCOMPARE(updated.size(), 1);
    QCOMPARE(updated.first().id, header);
    QCOMPARE(updated.first().properties, (QVariantMap{{"label", "Bedroom"}}));
    std::tie(revision, root) = layout();
    QCOMPARE(revision, heard.layoutRevisions.first());
    QCOMPARE(idOf(root, "Power"), power); // ids stay with their entries
    QCOMPARE(idOf(root, "Heat"), -1);

    // Clicks: on an entry that can be chosen, on one that cannot, and on one that does not exist.
    const auto event = [&](int id, const QString& name) {
        return call("Event", {id, name, QVariant::fromValue(QDBusVariant(0)), 0u}).type();
    };
    QCOMPARE(event(power, "clicked"), QDBusMessage::ReplyMessage);
    QCOMPARE(event(header, "clicked"), QDBusMessage::ReplyMessage);
    QCOMPARE(event(power, "hovered"), QDBusMessage::ReplyMessage);
    QCOMPARE(event(4711, "clicked"), QDBusMessage::ErrorMessage);
    DBusMenuEventList events{{idOf(root, "Quit Kelvo"), "clicked", QDBusVariant(0), 0},
                             {4711, "clicked", QDBusVariant(0), 0}};
    const QDBusMessage group = call("EventGroup", {QVariant::fromValue(events)});
    QCOMPARE(qdbus_cast<QList<int>>(group.arguments().value(0)), QList<int>{4711});
    QTRY_COMPARE(quits, 1);
    QCOMPARE(powerClicks, 1);

    // The rest of the interface.
    QCOMPARE(call("GetProperty", {power, "label"}).arguments().value(0).value<QDBusVariant>().variant().toString(),
             QStringLiteral("Power"));
    QCOMPARE(call("GetProperty", {header, "visible"}).arguments().value(0).value<QDBusVariant>().variant(),
             QVariant(true));
    QCOMPARE(call("GetProperty", {power, "no-such-property"}).type(), QDBusMessage::ErrorMessage);
    DBusMenuItemPropertiesList group2;
    call("GetGroupProperties", {QVariant::fromValue(QList<int>{power, 4711}), QStringList{"toggle-type"}})
            .arguments()
            .value(0)
            .value<QDBusArgument>() >>
        group2;
    QCOMPARE(group2.size(), 1);
    QCOMPARE(group2.first().properties, (QVariantMap{{"toggle-type", "checkmark"}}));
    QCOMPARE(call("AboutToShow", {0}).arguments().value(0), QVariant(false));
    const QDBusMessage aboutToShow = call("AboutToShowGroup", {QVariant::fromValue(QList<int>{0, 4711})});
    QCOMPARE(qdbus_cast<QList<int>>(aboutToShow.arguments().value(1)), QList<int>{4711});
    QDBusConnection::disconnectFromBus(QStringLiteral("menu-host"));
}

void tst_StatusNotifierItem::panelGoesToTheCornerWhereTheTrayIs_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("anchor");
    const QRect screen(0, 0, 1280, 800);
    QTest::newRow("a top bar (GNOME)") << screen.adjusted(0, 32, 0, 0) << QPoint(1279, 31);
    QTest::newRow("a bottom bar (Plasma, Xfce)") << screen.adjusted(0, 0, 0, -44) << QPoint(1279, 756);
    QTest::newRow("bars at the top and a wider one at the bottom")
        << screen.adjusted(0, 24, 0, -44) << QPoint(1279, 756);
    QTest::newRow("a bar on the left") << screen.adjusted(48, 0, 0, 0) << QPoint(47, 799);
    QTest::newRow("a bar on the right") << screen.adjusted(0, 0, -48, 0) << QPoint(1232, 799);
    QTest::newRow("no bar keeps windows off") << screen << QPoint(1279, -1);
}

void tst_StatusNotifierItem::panelGoesToTheCornerWhereTheTrayIs()
{
    QFETCH(QRect, available);
    QFETCH(QPoint, anchor);
    QCOMPARE(likelyTrayAnchor(QRect(0, 0, 1280, 800), available), QRect(anchor, QSize(1, 1)));
}

QTEST_MAIN(tst_StatusNotifierItem)
#include "tst_StatusNotifierItem.moc"
