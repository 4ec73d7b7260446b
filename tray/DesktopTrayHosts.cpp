#include "tray/DesktopTrayHosts.h"

#include "tray/StatusNotifierItem.h"
#include "tray/X11TrayManager.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

DesktopTrayHosts::DesktopTrayHosts(QDBusConnection bus, std::unique_ptr<XEmbedTrays> xembed, QObject* parent)
    : TrayHosts(Kind::None, parent)
    , m_bus(bus)
    , m_xembed(xembed ? std::move(xembed) : std::make_unique<X11TrayManager>())
{
    setBus(bus);
    connect(m_xembed.get(), &XEmbedTrays::changed, this, [this] { decide(); });
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
        setKind(Kind::StatusNotifier, restarted);
        return;
    }
    setKind(m_xembed->available() ? Kind::XEmbed : Kind::None);
}
