#include "tray/StatusNotifierItem.h"

#include "platform/Logging.h"
#include "tray/DBusMenu.h"
#include "tray/StatusNotifierItemAdaptor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

#include <atomic>

namespace {
const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");

QDBusMessage busCall(const QString& method, const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, busService, method);
    call << name;
    return call;
}

// A host that does not know where the click was sends (0, 0).
QRect anchorAt(int x, int y)
{
    return x == 0 && y == 0 ? QRect() : QRect(x, y, 1, 1);
}
} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : TrayIcon(parent)
    , m_bus(bus)
    , m_adaptor(nullptr)
    , m_menu(new DBusMenu(this))
{
    registerStatusNotifierTypes();
    m_adaptor = new StatusNotifierItemAdaptor(this);
    m_iconThrottle.setSingleShot(true);
    m_iconThrottle.setInterval(1000 / maxIconUpdatesPerSecond);
    connect(&m_iconThrottle, &QTimer::timeout, this, [this] {
        if (m_iconPending) {
            announceIcon();
        }
    });
    // The menu is in place before any host hears of the item: GNOME's extension reads it at once.
    if (!m_bus.isConnected() ||
        !m_bus.registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportAdaptors) ||
        !m_bus.registerObject(QLatin1String(DBusMenu::objectPath), m_menu, QDBusConnection::ExportScriptableContents)) {
        qCDebug(lcTray) << "StatusNotifierItem not offered: no session bus, or its objects are taken:"
                        << m_bus.lastError().message();
        return;
    }
    // The conventional name: the process id and a count, so that a second item of the process gets its own.
    static std::atomic<int> count = 0;
    m_requestedName =
        QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++count);
    QDBusMessage request = busCall(QStringLiteral("RequestName"), m_requestedName);
    request << uint(4); // DBUS_NAME_FLAG_DO_NOT_QUEUE
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(request), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call] {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        constexpr uint primaryOwner = 1;
        m_serviceName = !reply.isError() && reply.value() == primaryOwner ? m_requestedName : m_bus.baseService();
        if (m_serviceName != m_requestedName) {
            qCDebug(lcTray) << "StatusNotifierItem name" << m_requestedName << "refused ("
                            << (reply.isError() ? reply.error().message() : QString::number(reply.value()))
                            << "): registering as" << m_serviceName;
        }
        registerWithWatcher();
    });
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!m_requestedName.isEmpty()) {
        m_bus.unregisterObject(QLatin1String(objectPath));
        m_bus.unregisterObject(QLatin1String(DBusMenu::objectPath));
        // Nobody waits for the answer: the name goes with the connection at the latest.
        m_bus.send(busCall(QStringLiteral("ReleaseName"), m_requestedName));
    }
}

void StatusNotifierItem::registerWithWatcher()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(watcherService), QLatin1String(watcherPath),
                                       QLatin1String(watcherInterface), QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        // A refusal leaves the icon missing until the hosts change again, which makes a new item.
        if (watcher->isError()) {
            qCDebug(lcTray) << "The watcher refused" << m_serviceName << ":" << watcher->error().message();
            return;
        }
        qCDebug(lcTray) << "Registered with the watcher as" << m_serviceName;
        Q_EMIT registered();
    });
}

void StatusNotifierItem::setIcon(const QIcon& icon)
{
    m_icon = icon;
    m_pixmaps.reset();
    if (m_iconThrottle.isActive()) {
        m_iconPending = true; // the latest picture goes out when the interval ends
        return;
    }
    announceIcon();
}

void StatusNotifierItem::announceIcon()
{
    m_iconPending = false;
    m_iconThrottle.start();
    Q_EMIT m_adaptor->NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& body)
{
    if (title == m_title && body == m_body) {
        return;
    }
    m_title = title;
    m_body = body;
    Q_EMIT m_adaptor->NewToolTip();
}

void StatusNotifierItem::setMenu(const QList<TrayMenuItem>& items)
{
    m_menu->setItems(items);
}

StatusNotifierPixmaps StatusNotifierItem::iconPixmaps()
{
    if (!m_pixmaps) {
        StatusNotifierPixmaps pixmaps;
        if (!m_icon.isNull()) {
            const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
            for (const int size : iconSizes) {
                const int pixels = qRound(size * ratio);
                pixmaps.append(StatusNotifierPixmap::fromImage(
                    m_icon.pixmap(QSize(pixels, pixels))
                        .toImage()
                        .scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
            }
        }
        m_pixmaps = pixmaps;
    }
    return *m_pixmaps;
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const
{
    // The body may carry markup: a room named "A & B" must stay text.
    return {QString(), {}, m_title, m_body.toHtmlEscaped()};
}

void StatusNotifierItem::activate(int x, int y)
{
    Q_EMIT activated(anchorAt(x, y));
}

void StatusNotifierItem::contextMenu(int x, int y)
{
    Q_EMIT contextMenuRequested(anchorAt(x, y));
}
