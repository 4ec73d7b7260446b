#include "tray/StatusNotifierItemAdaptor.h"

#include "tray/DBusMenu.h"
#include "tray/StatusNotifierItem.h"

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem* item)
    : QDBusAbstractAdaptor(item)
    , m_item(item)
{
    // Hosts read properties when told, not from PropertiesChanged.
    setAutoRelaySignals(false);
}

StatusNotifierPixmaps StatusNotifierItemAdaptor::iconPixmap() const
{
    return m_item->iconPixmaps();
}

QDBusObjectPath StatusNotifierItemAdaptor::menu() const
{
    return QDBusObjectPath(QLatin1String(DBusMenu::objectPath));
}

StatusNotifierToolTip StatusNotifierItemAdaptor::toolTip() const
{
    return m_item->toolTip();
}

void StatusNotifierItemAdaptor::Activate(int x, int y)
{
    m_item->activate(x, y);
}

void StatusNotifierItemAdaptor::SecondaryActivate(int, int)
{
    // A middle click does nothing.
}

void StatusNotifierItemAdaptor::ContextMenu(int x, int y)
{
    m_item->contextMenu(x, y);
}

void StatusNotifierItemAdaptor::Scroll(int, const QString&)
{}

void StatusNotifierItemAdaptor::ProvideXdgActivationToken(const QString& token)
{
    m_item->provideActivationToken(token);
}
