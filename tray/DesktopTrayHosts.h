#pragma once

#include "tray/TrayHosts.h"
#include "tray/XEmbedTrays.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

#include <memory>

// The trays of the running desktop. A StatusNotifierWatcher with a host registered wins (every current desktop);
// without one, an XEmbed tray (an X11 system tray manager) will do. The watcher's bus name and its host signals
// are followed, and so is the X11 tray manager: nothing is asked again while nothing changes.
class DesktopTrayHosts : public TrayHosts
{
    Q_OBJECT

public:
    // `xembed` defaults to the X server's tray manager (never one on other platforms).
    explicit DesktopTrayHosts(QDBusConnection bus = QDBusConnection::sessionBus(),
                              std::unique_ptr<XEmbedTrays> xembed = {}, QObject* parent = nullptr);

private Q_SLOTS:
    // Named in QDBusConnection::connect, which takes slots by name.
    void onHostsSignal();

private:
    void probeWatcher(bool restarted);
    void decide(bool restarted = false);

    QDBusConnection m_bus;
    std::unique_ptr<XEmbedTrays> m_xembed;
    QDBusServiceWatcher m_watcher;
    bool m_statusNotifierHost = false;
    quint64 m_probe = 0; // only the newest probe's answer counts
};
