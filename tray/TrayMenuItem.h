#pragma once

#include <QList>
#include <QString>

#include <functional>

// One entry of Kelvo's tray menu, free of any toolkit: the D-Bus menu that tray hosts draw and the menu Kelvo pops
// up itself both show this tree.
struct TrayMenuItem {
    enum class Toggle { None, Check, Radio };

    // Names the entry across rebuilds: the same key keeps the same D-Bus id, so a host sees a change, not a new item.
    QString key{};
    QString label{}; // plain text, shown as it is
    bool separator = false;
    bool enabled = true;
    bool visible = true;
    Toggle toggle = Toggle::None;
    bool checked = false;
    QList<TrayMenuItem> children{}; // a submenu when not empty
    std::function<void()> action{}; // what choosing the entry does

    // Everything but the action, which cannot be compared: a rebuild that shows the same is no change.
    bool operator==(const TrayMenuItem& other) const
    {
        return key == other.key && label == other.label && separator == other.separator && enabled == other.enabled &&
               visible == other.visible && toggle == other.toggle && checked == other.checked &&
               children == other.children;
    }
};
