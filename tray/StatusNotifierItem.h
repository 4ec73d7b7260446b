#pragma once

#include "tray/StatusNotifierTypes.h"
#include "tray/TrayIcon.h"

#include <QDBusConnection>
#include <QTimer>

#include <optional>
#include <utility>

class DBusMenu;
class StatusNotifierItemAdaptor;

// Kelvo's own StatusNotifierItem (the tray protocol of Plasma, Xfce, LXQt, Cinnamon, GNOME's AppIndicator
// extension, waybar): the item object on the bus under the conventional name, registered with the watcher. Its
// menu is a D-Bus menu that the host draws (GNOME's extension takes no item without one; Xfce and gtk-sni-tray ask
// for menus only this way); a host that calls ContextMenu(x, y) instead gets Kelvo's own menu there. Activate(x, y)
// and ContextMenu(x, y) report that point as the anchor.
class StatusNotifierItem : public TrayIcon
{
    Q_OBJECT

public:
    static constexpr char watcherService[] = "org.kde.StatusNotifierWatcher";
    static constexpr char watcherPath[] = "/StatusNotifierWatcher";
    static constexpr char watcherInterface[] = "org.kde.StatusNotifierWatcher";
    static constexpr char objectPath[] = "/StatusNotifierItem";
    // Every new-icon signal makes the host fetch all pictures again: a pulse sends at most this many a second.
    static constexpr int maxIconUpdatesPerSecond = 8;
    // The sizes panels draw tray icons at (16 to 24 px, 32 on large panels); hosts scale the nearest.
    static constexpr int iconSizes[] = {16, 22, 24, 32};

    explicit StatusNotifierItem(QDBusConnection bus, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // The bus name the item was registered under (the connection's unique name when the conventional one was
    // refused); empty until then.
    QString serviceName() const { return m_serviceName; }

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& title, const QString& body) override;
    bool drawsMenu() const override { return true; }
    void setMenu(const QList<TrayMenuItem>& items) override;
    DBusMenu& menu() { return *m_menu; }

    // What the adaptor answers.
    StatusNotifierPixmaps iconPixmaps();
    StatusNotifierToolTip toolTip() const;
    void activate(int x, int y);
    void contextMenu(int x, int y);
    void provideActivationToken(const QString& token) { m_activationToken = token; }
    QString takeActivationToken() override { return std::exchange(m_activationToken, QString()); }

Q_SIGNALS:
    // The watcher took the item.
    void registered();

private:
    void registerWithWatcher();
    void announceIcon();

    QDBusConnection m_bus;
    QString m_requestedName;
    QString m_serviceName;
    StatusNotifierItemAdaptor* m_adaptor;
    DBusMenu* m_menu;
    QIcon m_icon;
    std::optional<StatusNotifierPixmaps> m_pixmaps; // made when a host asks, kept until the icon changes
    QTimer m_iconThrottle;
    bool m_iconPending = false;
    QString m_title;
    QString m_body;
    QString m_activationToken;
};
