#pragma once

#include "tray/TrayMenuItem.h"

#include <QObject>

#include <functional>

class SensiboService;
struct ACState;
struct ClimateRow;

// What Kelvo's tray menu holds, built from the device service by the panel's own rules, so that the air conditioner
// can be run from the menu alone: the selected device's room and readings, Power, the timer and Climate React, the
// rows the panel shows for the current mode as submenus of choices, the device choice, then Open Kelvo, Settings... and
// Quit Kelvo. Without a key, while the first list loads and after a failed one it says what the panel says. A choice is
// the panel's own service call. While the menu is followed (a tray host draws it from D-Bus), the tree is made anew
// whenever the service changes and itemsChanged() says when it shows something new; while nobody follows it (an
// XEmbed icon, whose menu Kelvo draws only when it is opened), a change only marks it out of date, and items() makes it
// when asked: a refresh then builds nothing.
class TrayMenuModel : public QObject
{
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> openPanel;
        std::function<void()> openSettings;
        std::function<void()> quit;
    };

    // A temperature range of more values than this is offered as one step warmer and one step cooler.
    static constexpr qint64 maxTemperatureChoices = 32;

    TrayMenuModel(SensiboService& service, Actions actions, QObject* parent = nullptr);

    const QList<TrayMenuItem>& items() const;

    // Followed unless told otherwise. Following again after changes brings the tree up to date (and says so).
    void setFollowed(bool followed);

Q_SIGNALS:
    void itemsChanged();

private:
    void sync();
    QList<TrayMenuItem> build() const;
    QList<TrayMenuItem> deviceEntries() const;
    TrayMenuItem rowEntry(const ClimateRow& row) const;
    TrayMenuItem temperatureEntry(const ClimateRow& row, const QString& unit) const;
    QList<TrayMenuItem> extrasEntries(const ACState& state) const;
    TrayMenuItem appEntry(const QString& key, const QString& label, const std::function<void()>& action) const;

    SensiboService& m_service;
    Actions m_actions;
    bool m_followed = true;
    mutable bool m_outOfDate = false;
    mutable QList<TrayMenuItem> m_items;
};
