#include "tray/TrayMenuView.h"

#include <QActionGroup>

TrayMenuView::TrayMenuView(QWidget* parent)
    : QMenu(parent)
{
    // A tree that arrived just before the menu opens is drawn before it shows.
    connect(this, &QMenu::aboutToShow, this, &TrayMenuView::rebuild);
    connect(this, &QMenu::aboutToHide, this, [this] {
        if (m_pending) {
            QMetaObject::invokeMethod(this, &TrayMenuView::rebuild, Qt::QueuedConnection);
        }
    });
}

void TrayMenuView::setItems(const QList<TrayMenuItem>& items)
{
    if (items == m_items && !m_pending) {
        return;
    }
    m_items = items;
    m_pending = true;
    // Never at once: a change often comes from one of this menu's own actions, still being triggered.
    QMetaObject::invokeMethod(this, &TrayMenuView::rebuild, Qt::QueuedConnection);
}

void TrayMenuView::rebuild()
{
    if (!m_pending || isVisible()) {
        return;
    }
    m_pending = false;
    clear();
    // clear() leaves the submenus and radio groups, which this menu owns.
    const QObjectList owned = children();
    for (QObject* child : owned) {
        if (qobject_cast<QMenu*>(child) || qobject_cast<QActionGroup*>(child)) {
            delete child;
        }
    }
    fill(this, m_items);
}

void TrayMenuView::fill(QMenu* menu, const QList<TrayMenuItem>& items)
{
    QActionGroup* radios = nullptr;
    for (const TrayMenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator()->setVisible(item.visible);
            radios = nullptr;
            continue;
        }
        // A single "&" marks a mnemonic in a QMenu: the label's own are doubled.
        QString label = item.label;
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action = nullptr;
        if (!item.children.isEmpty()) {
            QMenu* submenu = menu->addMenu(label);
            fill(submenu, item.children);
            action = submenu->menuAction();
        } else {
            action = menu->addAction(label);
            if (item.action) {
                connect(action, &QAction::triggered, menu, item.action);
            }
        }
        action->setObjectName(item.key);
        action->setEnabled(item.enabled);
        action->setVisible(item.visible);
        if (item.toggle != TrayMenuItem::Toggle::None) {
            action->setCheckable(true);
            action->setChecked(item.checked);
        }
        // Radio entries next to each other are one choice, drawn as such.
        if (item.toggle == TrayMenuItem::Toggle::Radio) {
            if (!radios) {
                radios = new QActionGroup(menu);
            }
            radios->addAction(action);
        } else {
            radios = nullptr;
        }
    }
}
