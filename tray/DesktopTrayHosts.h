#pragma once

#include "tray/TrayHosts.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QTimer>

#include <chrono>
#include <functional>

// The trays of the running desktop. A StatusNotifierWatcher with a host registered wins (every current desktop);
// without one, an XEmbed tray (an X11 system tray manager) will do. The watcher's bus name and its host signals
// are followed; the XEmbed tray is looked for every poll interval while no StatusNotifier host is there.
class DesktopTrayHosts : public TrayHosts
{
    Q_OBJECT

public:
    using XEmbedAvailable = std::function<bool()>;

    // `xembedAvailable` defaults to asking Qt for an X11 system tray (never on other platforms).
    explicit DesktopTrayHosts(QDBusConnection bus = QDBusConnection::sessionBus(), XEmbedAvailable xembedAvailable = {},
                              std::chrono::milliseconds pollInterval = std::chrono::seconds(2),
                              QObject* parent = nullptr);

    static bool defaultXEmbedAvailable();

private Q_SLOTS:
    // Named in QDBusConnection::connect, which takes slots by name.
    void onHostsSignal();

private:
    void probeWatcher(bool restarted);
    void decide(bool restarted = false);

    QDBusConnection m_bus;
    XEmbedAvailable m_xembedAvailable;
    QDBusServiceWatcher m_watcher;
    QTimer m_poll;
    bool m_statusNotifierHost = false;
    quint64 m_probe = 0; // only the newest probe's answer counts
};
