#include "tray/DBusMenu.h"

#include "platform/Logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QSet>
#include <QTimer>

namespace {
const QString typeProperty = QStringLiteral("type");
const QString childrenDisplayProperty = QStringLiteral("children-display");

// dbusmenu reads a single "_" as the mark of a mnemonic: a label's own underscores are doubled.
QString escapedLabel(const QString& label)
{
    QString escaped = label;
    return escaped.replace(QLatin1Char('_'), QStringLiteral("__"));
}

// The properties that differ from dbusmenu's defaults (a standard, enabled, visible entry with no toggle).
QVariantMap propertiesOf(const TrayMenuItem& item)
{
    QVariantMap properties;
    if (item.separator) {
        properties.insert(typeProperty, QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), escapedLabel(item.label));
    }
    if (!item.enabled) {
        properties.insert(QStringLiteral("enabled"), false);
    }
    if (!item.visible) {
        properties.insert(QStringLiteral("visible"), false);
    }
    if (item.toggle != TrayMenuItem::Toggle::None) {
        properties.insert(QStringLiteral("toggle-type"), item.toggle == TrayMenuItem::Toggle::Check
                                                             ? QStringLiteral("checkmark")
                                                             : QStringLiteral("radio"));
        properties.insert(QStringLiteral("toggle-state"), item.checked ? 1 : 0);
    }
    if (!item.children.isEmpty()) {
        properties.insert(childrenDisplayProperty, QStringLiteral("submenu"));
    }
    return properties;
}

// What an entry reads as without the property (GetProperty of a property the entry leaves at its default).
QVariant defaultProperty(const QString& name)
{
    if (name == QLatin1String("enabled") || name == QLatin1String("visible")) {
        return true;
    }
    if (name == QLatin1String("label")) {
        return QString();
    }
    if (name == typeProperty) {
        return QStringLiteral("standard");
    }
    return {};
}

QVariantMap filtered(const QVariantMap& properties, const QStringList& names)
{
    if (names.isEmpty()) {
        return properties;
    }
    QVariantMap kept;
    for (const QString& name : names) {
        if (const auto it = properties.constFind(name); it != properties.cend()) {
            kept.insert(name, it.value());
        }
    }
    return kept;
}

// A host draws an entry by its type and whether it opens a submenu, read with the layout: a change of either
// is a new layout.
bool sameShape(const QVariantMap& a, const QVariantMap& b)
{
    return a.value(typeProperty) == b.value(typeProperty) &&
           a.value(childrenDisplayProperty) == b.value(childrenDisplayProperty);
}
} // namespace

DBusMenu::DBusMenu(QObject* parent)
    : QObject(parent)
{
    registerDBusMenuTypes();
    m_entries.insert(0, Entry{{{childrenDisplayProperty, QStringLiteral("submenu")}}, {}, {}});
}

QString DBusMenu::textDirection() const
{
    return qGuiApp && QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                            : QStringLiteral("ltr");
}

int DBusMenu::idFor(const QString& key)
{
    auto it = m_ids.find(key);
    if (it == m_ids.end()) {
        it = m_ids.insert(key, m_nextId++);
    }
    return it.value();
}

void DBusMenu::add(Entries& entries, int parent, const QList<TrayMenuItem>& items)
{
    for (const TrayMenuItem& item : items) {
        int id = idFor(item.key);
        // A key given twice in one tree would make two entries one: the second gets an id of its own.
        for (int copy = 2; entries.contains(id); ++copy) {
            id = idFor(item.key + QLatin1Char('#') + QString::number(copy));
        }
        entries[parent].children.append(id);
        entries.insert(id, Entry{propertiesOf(item), {}, item.action});
        add(entries, id, item.children);
    }
}

void DBusMenu::setItems(const QList<TrayMenuItem>& items)
{
    Entries entries;
    entries.insert(0, m_entries.value(0));
    entries[0].children.clear();
    add(entries, 0, items);

    bool layoutChanged = entries.size() != m_entries.size();
    DBusMenuItemPropertiesList updated;
    DBusMenuItemPropertyNamesList removed;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const auto old = m_entries.constFind(it.key());
        if (old == m_entries.cend()) {
            layoutChanged = true; // a new entry: hosts read it with the layout
            continue;
        }
        if (old->children != it->children || !sameShape(old->properties, it->properties)) {
            layoutChanged = true;
        }
        DBusMenuItemProperties changed{it.key(), {}};
        for (auto property = it->properties.cbegin(); property != it->properties.cend(); ++property) {
            if (old->properties.value(property.key()) != property.value()) {
                changed.properties.insert(property.key(), property.value());
            }
        }
        DBusMenuItemPropertyNames gone{it.key(), {}};
        for (auto property = old->properties.cbegin(); property != old->properties.cend(); ++property) {
            if (!it->properties.contains(property.key())) {
                gone.names.append(property.key());
            }
        }
        if (!changed.properties.isEmpty()) {
            updated.append(changed);
        }
        if (!gone.names.isEmpty()) {
            removed.append(gone);
        }
    }
    m_entries = std::move(entries);
    // Hosts keep the entries they have across a new layout and read only their shape with it, so the properties of
    // entries that stayed are announced as well.
    if (!updated.isEmpty() || !removed.isEmpty()) {
        Q_EMIT ItemsPropertiesUpdated(updated, removed);
    }
    if (layoutChanged) {
        ++m_revision;
        Q_EMIT LayoutUpdated(m_revision, 0);
    }
}

DBusMenuLayoutItem DBusMenu::layoutOf(int id, int depth, const QStringList& propertyNames) const
{
    const Entry& entry = m_entries[id];
    DBusMenuLayoutItem layout{id, filtered(entry.properties, propertyNames), {}};
    if (depth != 0) {
        for (const int child : entry.children) {
            layout.children.append(layoutOf(child, depth < 0 ? depth : depth - 1, propertyNames));
        }
    }
    return layout;
}

void DBusMenu::refuse(const QString& message)
{
    qCDebug(lcTray) << "D-Bus menu refused a call:" << message;
    if (calledFromDBus()) {
        sendErrorReply(QDBusError::InvalidArgs, message);
    }
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayoutItem& layout)
{
    if (!m_entries.contains(parentId)) {
        refuse(QStringLiteral("No menu entry %1").arg(parentId));
        return m_revision;
    }
    layout = layoutOf(parentId, recursionDepth, propertyNames);
    return m_revision;
}

DBusMenuItemPropertiesList DBusMenu::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    DBusMenuItemPropertiesList found;
    for (const int id : ids) {
        if (const auto it = m_entries.constFind(id); it != m_entries.cend()) {
            found.append({id, filtered(it->properties, propertyNames)});
        }
    }
    return found;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name)
{
    const auto it = m_entries.constFind(id);
    if (it == m_entries.cend()) {
        refuse(QStringLiteral("No menu entry %1").arg(id));
        return QDBusVariant(QString());
    }
    QVariant value = it->properties.value(name, defaultProperty(name));
    if (!value.isValid()) {
        refuse(QStringLiteral("Menu entry %1 has no property %2").arg(id).arg(name));
        return QDBusVariant(QString());
    }
    return QDBusVariant(value);
}

bool DBusMenu::handleEvent(int id, const QString& eventId)
{
    const auto it = m_entries.constFind(id);
    if (it == m_entries.cend()) {
        return false;
    }
    // Hosts also say "opened", "closed" and "hovered"; only a click does something. An entry the user cannot
    // choose does nothing whatever a host sends.
    if (eventId != QLatin1String("clicked") || !it->action ||
        !it->properties.value(QStringLiteral("enabled"), true).toBool() ||
        !it->properties.value(QStringLiteral("visible"), true).toBool()) {
        return true;
    }
    // After the reply: the action may open a window or end Kelvo, which the host must not wait for.
    QTimer::singleShot(0, this, it->action);
    return true;
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    if (!handleEvent(id, eventId)) {
        refuse(QStringLiteral("No menu entry %1").arg(id));
    }
}

QList<int> DBusMenu::EventGroup(const DBusMenuEventList& events)
{
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!handleEvent(event.id, event.eventId)) {
            idErrors.append(event.id);
        }
    }
    if (!events.isEmpty() && idErrors.size() == events.size()) {
        refuse(QStringLiteral("None of the menu entries exists"));
    }
    return idErrors;
}

bool DBusMenu::AboutToShow(int id)
{
    if (!m_entries.contains(id)) {
        refuse(QStringLiteral("No menu entry %1").arg(id));
    }
    return false; // the menu follows the service at all times: there is never anything to fetch first
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    for (const int id : ids) {
        if (!m_entries.contains(id)) {
            idErrors.append(id);
        }
    }
    return {};
}
