#pragma once

#include "tray/TrayIcon.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

// Which kind of tray the desktop offers right now. Hosts come and go (a panel starts after Kelvo at login,
// restarts, or is removed), so this is watched for as long as Kelvo runs. This base class answers one fixed kind;
// DesktopTrayHosts asks the desktop.
class TrayHosts : public QObject
{
    Q_OBJECT

public:
    enum class Kind { None, StatusNotifier, XEmbed };

    explicit TrayHosts(Kind kind = Kind::None, QObject* parent = nullptr);

    Kind kind() const { return m_kind; }
    // False until the first look at the desktop has answered; kind() is None meanwhile.
    bool settled() const { return m_settled; }

    // A new icon in the current kind of tray; none while there is no tray.
    virtual std::unique_ptr<TrayIcon> createIcon();

Q_SIGNALS:
    // The kind changed, or the same kind of host came back (a restarted watcher forgets its items): whatever icon
    // there was must be made anew.
    void hostsChanged();

protected:
    // Settles on `kind`; says so when it changed, when the host restarted, or on the first answer.
    void setKind(Kind kind, bool hostRestarted = false);
    void setUnsettled() { m_settled = false; }
    // The bus a StatusNotifierItem is offered on.
    void setBus(const QDBusConnection& bus) { m_bus = bus; }

private:
    Kind m_kind;
    bool m_settled = true;
    QDBusConnection m_bus = QDBusConnection::sessionBus();
};
