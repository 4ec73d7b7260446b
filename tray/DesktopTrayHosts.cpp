#include "tray/DesktopTrayHosts.h"

#include "tray/StatusNotifierItem.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>

DesktopTrayHosts::DesktopTrayHosts(QDBusConnection bus, XEmbedAvailable xembedAvailable,
                                   std::chrono::milliseconds pollInterval, QObject* parent)
    : TrayHosts(Kind::None, parent)
    , m_bus(bus)
    , m_xembedAvailable(xembedAvailable ? std::move(xembedAvailable) : XEmbedAvailable(&defaultXEmbedAvailable))
{
    setBus(bus);
    m_poll.setInterval(pollInterval);
    connect(&m_poll, &QTimer::timeout, this, [this] { decide(); });
    if (!m_bus.isConnected()) {
        decide();
        return;
    }
    setUnsettled();
    m_watcher.setConnection(m_bus);
    m_watcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    m_watcher.addWatchedService(StatusNotifierItem::watcherService);
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                if (newOwner.isEmpty()) {
                    m_statusNotifierHost = false;
                    decide();
                } else {
                    // A watcher that replaced another has forgotten every item.
                    probeWatcher(!oldOwner.isEmpty());
                }
            });
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        m_bus.connect(StatusNotifierItem::watcherService, StatusNotifierItem::watcherPath,
                      StatusNotifierItem::watcherInterface, QString::fromLatin1(signal), this, SLOT(onHostsSignal()));
    }
    probeWatcher(false);
}

bool DesktopTrayHosts::defaultXEmbedAvailable()
{
    // Only X11 has XEmbed trays; Qt looks for the tray manager's selection owner, a cheap round trip.
    return QGuiApplication::platformName() == QLatin1String("xcb") && QSystemTrayIcon::isSystemTrayAvailable();
}

void DesktopTrayHosts::onHostsSignal()
{
    probeWatcher(false);
}

void DesktopTrayHosts::probeWatcher(bool restarted)
{
    QDBusMessage get =
        QDBusMessage::createMethodCall(StatusNotifierItem::watcherService, StatusNotifierItem::watcherPath,
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(StatusNotifierItem::watcherInterface)
        << QStringLiteral("IsStatusNotifierHostRegistered");
    const quint64 probe = ++m_probe;
    // A watcher that does not answer soon counts as none, so that Kelvo shows itself somewhere meanwhile.
    constexpr int answerTimeoutMs = 3000;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(get, answerTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, probe, restarted] {
        call->deleteLater();
        if (probe != m_probe) {
            return;
        }
        const QDBusPendingReply<QDBusVariant> reply = *call;
        m_statusNotifierHost = !reply.isError() && reply.value().variant().toBool();
        decide(restarted);
    });
}

void DesktopTrayHosts::decide(bool restarted)
{
    if (m_statusNotifierHost) {
        m_poll.stop();
        setKind(Kind::StatusNotifier, restarted);
        return;
    }
    // Asked only while no StatusNotifier host is there: Qt's first answer also decides, once, whether its own
    // tray icon talks D-Bus, and the XEmbed icon must not.
    setKind(m_xembedAvailable() ? Kind::XEmbed : Kind::None);
    if (!m_poll.isActive()) {
        m_poll.start();
    }
}
