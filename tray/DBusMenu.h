#pragma once

#include "tray/DBusMenuTypes.h"
#include "tray/TrayMenuItem.h"

#include <QDBusContext>
#include <QHash>
#include <QObject>

#include <functional>

// Kelvo's tray menu on D-Bus (com.canonical.dbusmenu), the object a StatusNotifierItem names as its Menu: tray hosts
// (GNOME's AppIndicator extension, Plasma, Xfce, gtk-sni-tray, waybar) draw it themselves, with their own look,
// placement and keyboard handling, on Wayland too. Each entry keeps its id for as long as its key stays in the
// tree; a new tree is compared with the last one, and hosts are told only what changed: the properties of entries
// that stayed (ItemsPropertiesUpdated), and a new layout when entries came, went or moved (LayoutUpdated).
class DBusMenu : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    static constexpr char objectPath[] = "/MenuBar";

    explicit DBusMenu(QObject* parent = nullptr);

    // Shows `items` from now on; hosts that hold the old menu hear what changed.
    void setItems(const QList<TrayMenuItem>& items);
    uint revision() const { return m_revision; }

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    // What hosts call.
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout);
    Q_SCRIPTABLE DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const DBusMenuEventList& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const DBusMenuItemPropertiesList& updatedProps,
                                             const DBusMenuItemPropertyNamesList& removedProps);
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

private:
    struct Entry {
        QVariantMap properties;
        QList<int> children;
        std::function<void()> action;
    };
    using Entries = QHash<int, Entry>;

    void add(Entries& entries, int parent, const QList<TrayMenuItem>& items);
    int idFor(const QString& key);
    DBusMenuLayoutItem layoutOf(int id, int depth, const QStringList& propertyNames) const;
    // Handles one event; false when there is no such entry.
    bool handleEvent(int id, const QString& eventId);
    void refuse(const QString& message);

    Entries m_entries;
    QHash<QString, int> m_ids; // every key ever shown keeps its id
    int m_nextId = 1;
    uint m_revision = 1;
};
