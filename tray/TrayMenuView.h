#pragma once

#include "tray/TrayMenuItem.h"

#include <QMenu>

// Kelvo's tray menu as a menu of its own, for hosts that ask the item for ContextMenu and for the XEmbed icon: the
// same entries the D-Bus menu offers. A new tree that shows the same changes nothing; one that arrives while the
// menu is open waits until it closes, so that nothing moves under the pointer.
class TrayMenuView : public QMenu
{
    Q_OBJECT

public:
    explicit TrayMenuView(QWidget* parent = nullptr);

    void setItems(const QList<TrayMenuItem>& items);

private:
    void rebuild();
    static void fill(QMenu* menu, const QList<TrayMenuItem>& items);

    QList<TrayMenuItem> m_items;
    bool m_pending = false;
};
